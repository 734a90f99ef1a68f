// The browsers' JSON "Bookmarks" file (the Chromium family: Chrome, Chromium, Edge, Brave,
// Vivaldi, Opera) as a bookmark store. Clean-run thread; tests and the benchmark may use the
// text functions from any one thread.
//
// Reading makes each root ("bookmark_bar", "other", "synced" and any other) a top-level folder
// named as the browser shows it, and each folder and URL node an entry. The parsed document is
// kept until the save, which writes every key it has no reason to change as it was, in its
// order: ids, GUIDs, meta_info, sync_metadata, date_last_used, unknown keys and roots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "stores/bookmark_store.h"
#include "tree/link_tree.h"

class Window;

// The key in a node's meta_info under which the program keeps when it last checked the link
// (microseconds since 1601, as the browser keeps its own dates). The browser shows
// date_last_used as the user's last visit, so the program never writes its checks there.
constexpr const char* kCheckDateKey = "quillfen_last_checked";

// Seconds between 1601-01-01 and 1970-01-01, the two epochs of the file's and the tree's dates.
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

// A date of the file (microseconds since 1601 as decimal text) as seconds since 1970, rounded
// down; 0 for "0", an empty or unreadable text, or a date before 1970.
TimeValue ChromiumDateToTime(const std::string& text);
// The file's text for a date of the tree.
std::string TimeToChromiumDate(TimeValue time);

// What a read keeps for the save. Opaque outside the store.
struct ChromiumDocument;
struct ChromiumDocumentDeleter {
  void operator()(ChromiumDocument* document) const;
};
using ChromiumDocumentPtr = std::unique_ptr<ChromiumDocument, ChromiumDocumentDeleter>;

// Reads the file's text into the root list. On success returns the kept document and adds the
// links outside "Broken Links" folders to linkCount; otherwise returns null with a one-line
// reason in error and adds nothing. checksumMatched tells whether the file's checksum was the
// one its content gives (true when it has none).
ChromiumDocumentPtr ReadChromiumText(const char* data, size_t size, NodeList& root,
                                     int32_t& linkCount, std::string& error,
                                     bool* checksumMatched = nullptr);

// The text of the file the tree gives when saved over the document it was read from; changed
// tells whether it differs from the document in anything but the checksum (when it does not,
// nothing needs writing). The document is used up: call once. False with error when the tree
// cannot be written as such a file.
bool FormatChromiumText(ChromiumDocument& document, const NodeList& tree, std::string& out,
                        bool& changed, std::string& error);

// The checksum the browser computes for the document text (lower-case hex MD5), or empty when
// the text is not such a document.
std::string ChromiumChecksumOf(const std::string& text);

// The file reader and writer of the run: read settings' bookmark file (logging what was read or
// why not) and keep its document; the save writes it atomically with "<name>.bak", writes
// nothing when nothing changed, and refuses while the browser owning the profile runs or when
// the file changed since it was read. A failed save gives its reason in why when given.
bool ReadChromiumFile(Window* window, const char* path, NodeList& root, int32_t& linkCount);
StoreSave WriteChromiumFile(Window* window, const char* path, NodeList& tree,
                            std::string* why = nullptr);
void ReleaseChromiumDocument();
