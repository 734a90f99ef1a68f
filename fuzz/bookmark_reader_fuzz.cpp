// Feeds arbitrary bytes to the bookmark reader, writes what it read and reads that output
// again: nothing may crash, hang, leak or read out of bounds. (A save need not reproduce an
// arbitrary input's shape: names are written byte for byte, so a name holding tags reads back
// as something else; the tests check round trips of real files.)
#include <cstddef>
#include <cstdint>
#include <string>

#include "tree/settings.h"
#include "stores/bookmark_reader.h"
#include "stores/bookmark_writer.h"

namespace {

std::string ReadAndWrite(const char* data, size_t size) {
  NodeList tree;
  int32_t count = 0;
  ReadBookmarkText(data, size, tree, count);
  std::string written;
  FormatBookmarkFile(tree, written);
  FreeTree(tree);
  return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Settings record;
  settings = &record;
  record.setDefaults();
  // The first byte picks sorted reading now and then, so both ways of building are covered.
  if (size > 0 && (data[0] & 0x0F) == 0x0F) record.flags |= FLAG_SORT_BOOKMARKS;
  (void)LooksLikeUtf16(reinterpret_cast<const char*>(data), size);
  std::string first = ReadAndWrite(reinterpret_cast<const char*>(data), size);
  ReadAndWrite(first.data(), first.size());
  return 0;
}
