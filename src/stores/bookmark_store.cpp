#include "stores/bookmark_store.h"

#include <ctime>
#include <string>

#include "platform/files.h"
#include "stores/bookmark_reader.h"
#include "stores/bookmark_writer.h"
#include "stores/chromium_store.h"
#include "stores/firefox_backup.h"
#include "stores/firefox_places.h"
#include "stores/firefox_profile.h"
#include "tree/settings.h"
#include "ui/progress.h"

namespace {

// What the latest read found, so that the save writes the same kind to the same file.
BookmarkStoreKind readKind = BookmarkStoreKind::Missing;
std::string readPath;
std::string advice;  // what the latest save has to tell

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

BookmarkStoreKind BookmarkStoreKindOf(const char* data, size_t size) {
  size_t i = 0;
  // A UTF-8 byte order mark is passed over as the JSON readers of the browsers do.
  if (size >= 3 && static_cast<unsigned char>(data[0]) == 0xEF &&
      static_cast<unsigned char>(data[1]) == 0xBB && static_cast<unsigned char>(data[2]) == 0xBF)
    i = 3;
  if (HasSqliteHeader(data, size)) return BookmarkStoreKind::Firefox;
  while (i < size && IsJsonSpace(data[i])) ++i;
  // No HTML bookmark file starts with a brace: a JSON object is the browsers' file, whose
  // reader then tells whether it holds "roots".
  if (i < size && data[i] == '{') return BookmarkStoreKind::Chromium;
  return BookmarkStoreKind::Netscape;
}

BookmarkStoreKind BookmarkStoreKindOfFile(const char* path) {
  std::string places, profile;
  if (ClassifyFirefoxStore(path, places, profile) != FirefoxStoreKind::NotFirefox)
    return BookmarkStoreKind::Firefox;
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
  advice.clear();
  const char* path = settings ? settings->bookmarkFile.c_str() : "";
  BookmarkStoreKind kind = BookmarkStoreKindOfFile(path);
  bool recognised = true;
  bool ok = kind == BookmarkStoreKind::Chromium ? ReadChromiumFile(window, path, root, linkCount)
            : kind == BookmarkStoreKind::Firefox
                ? ReadFirefoxBookmarks(window, root, linkCount)
                : ReadBookmarkFile(window, root, linkCount, &recognised);
  if (!recognised) kind = BookmarkStoreKind::Unrecognised;
  if (ok) {
    readKind = kind;
    readPath = path;
  }
  return ok;
}

StoreSave WriteBookmarkStore(Window* window, NodeList& tree, SaveReport* report) {
  const char* path = settings ? settings->bookmarkFile.c_str() : "";
  std::string why;
  StoreSave saved = StoreSave::Failed;
  if (readKind == BookmarkStoreKind::Chromium && readPath == path) {
    saved = WriteChromiumFile(window, path, tree, &why);
  } else if (readKind == BookmarkStoreKind::Firefox && readPath == path) {
    BackupResult backup = WriteFirefoxBackup(tree, std::time(nullptr));
    advice = FirefoxBackupAdvice(backup);
    AppendLog(window, IDC_LOG, advice.c_str());
    saved = backup.outcome == BackupOutcome::Failed ? StoreSave::Failed : StoreSave::Saved;
    why = backup.message;
  } else if (readKind == BookmarkStoreKind::Unrecognised && readPath == path) {
    AppendLog(window, IDC_LOG, "Not a bookmark file: it is left as it was.\r\n");
    return StoreSave::Refused;
  } else {
    // A file of another kind that was not read into the tree is never replaced by what the
    // tree holds.
    BookmarkStoreKind present = BookmarkStoreKindOfFile(path);
    if (present == BookmarkStoreKind::Chromium || present == BookmarkStoreKind::Firefox)
      why = "the file is not the one that was read";
    else if (WriteBookmarkFile(tree, &why))
      saved = StoreSave::Saved;
  }
  if (saved == StoreSave::Failed && report)
    report->add("bookmark file", path, why.empty() ? std::string("unknown error") : why);
  return saved;
}

const std::string& BookmarkStoreAdvice() { return advice; }

void ReleaseBookmarkStore() {
  readKind = BookmarkStoreKind::Missing;
  readPath.clear();
  ReleaseChromiumDocument();
  FirefoxState() = FirefoxStoreState();
}
