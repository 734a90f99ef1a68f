// Feeds arbitrary bytes to the reader of the browsers' Bookmarks file; when it reads them, a
// run's kind of change (every third link deleted, one renamed) is saved and the saved text must
// read again, with the checksum the browser would compute. Nothing may crash, hang or leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "stores/chromium_store.h"
#include "tree/settings.h"

namespace {

void Change(NodeList& list, int& counter) {
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry* entry = LinkEntry::of(n);
    if (entry->isLink() && ++counter % 3 == 0) entry->action = ACTION_DELETE;
    if (counter == 2) entry->setName("renamed \xFF");
    Change(entry->children, counter);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Settings record;
  settings = &record;
  record.setDefaults();
  if (size > 0 && (data[0] & 0x0F) == 0x0F) record.flags |= FLAG_SORT_BOOKMARKS;
  NodeList tree;
  int32_t count = 0;
  std::string error, out;
  ChromiumDocumentPtr doc =
      ReadChromiumText(reinterpret_cast<const char*>(data), size, tree, count, error);
  if (doc) {
    int counter = 0;
    Change(tree, counter);
    bool changed = false;
    if (FormatChromiumText(*doc, tree, out, changed, error) && changed) {
      NodeList again;
      int32_t links = 0;
      if (!ReadChromiumText(out.data(), out.size(), again, links, error)) std::abort();
      if (ChromiumChecksumOf(out).empty()) std::abort();
      FreeTree(again);
    }
  }
  FreeTree(tree);
  return 0;
}
