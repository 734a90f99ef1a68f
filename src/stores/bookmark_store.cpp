#include "stores/bookmark_store.h"

#include <string>

#include "platform/files.h"
#include "stores/bookmark_reader.h"
#include "stores/bookmark_writer.h"
#include "stores/chromium_store.h"
#include "tree/settings.h"

namespace {

// What the latest read found, so that the save writes the same kind to the same file.
BookmarkStoreKind readKind = BookmarkStoreKind::Missing;
std::string readPath;

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

BookmarkStoreKind BookmarkStoreKindOf(const char* data, size_t size) {
  size_t i = 0;
  // A UTF-8 byte order mark is passed over as the JSON readers of the browsers do.
  if (size >= 3 && static_cast<unsigned char>(data[0]) == 0xEF &&
      static_cast<unsigned char>(data[1]) == 0xBB && static_cast<unsigned char>(data[2]) == 0xBF)
    i = 3;
  while (i < size && IsJsonSpace(data[i])) ++i;
  // No HTML bookmark file starts with a brace: a JSON object is the browsers' file, whose
  // reader then tells whether it holds "roots".
  if (i < size && data[i] == '{') return BookmarkStoreKind::Chromium;
  return BookmarkStoreKind::Netscape;
}

BookmarkStoreKind BookmarkStoreKindOfFile(const char* path) {
  InputFile file;
  if (!file.open(path)) return BookmarkStoreKind::Missing;
  char head[4096];
  size_t size = 0;
  while (size < sizeof head) {
    long n = file.read(head + size, sizeof head - size);
    if (n < 0) return BookmarkStoreKind::Missing;
    if (n == 0) break;
    size += static_cast<size_t>(n);
  }
  return BookmarkStoreKindOf(head, size);
}

bool ReadBookmarkStore(Window* window, NodeList& root, int32_t& linkCount) {
  ReleaseBookmarkStore();
  const char* path = settings ? settings->bookmarkFile.c_str() : "";
  BookmarkStoreKind kind = BookmarkStoreKindOfFile(path);
  bool ok = kind == BookmarkStoreKind::Chromium ? ReadChromiumFile(window, path, root, linkCount)
                                                : ReadBookmarkFile(window, root, linkCount);
  if (ok) {
    readKind = kind;
    readPath = path;
  }
  return ok;
}

StoreSave WriteBookmarkStore(Window* window, NodeList& tree) {
  const char* path = settings ? settings->bookmarkFile.c_str() : "";
  if (readKind == BookmarkStoreKind::Chromium && readPath == path)
    return WriteChromiumFile(window, path, tree);
  // A file of another kind that was not read into the tree is never replaced by what the
  // tree holds.
  if (BookmarkStoreKindOfFile(path) == BookmarkStoreKind::Chromium) return StoreSave::Failed;
  return WriteBookmarkFile(tree) ? StoreSave::Saved : StoreSave::Failed;
}

void ReleaseBookmarkStore() {
  readKind = BookmarkStoreKind::Missing;
  readPath.clear();
  ReleaseChromiumDocument();
}
