// Reading Firefox's own bookmarks (the profile's places.sqlite) into the link tree, never
// writing the database. Clean-run thread (tests: one thread at a time).
//
// The four roots Firefox shows (menu, toolbar, other, mobile) become top-level folders under
// the names Firefox shows; folders, bookmarks and separators map to the tree. What Firefox
// keeps beyond the tree's fields (GUID, dates in microseconds, item id, tags, keyword, icon,
// character set) is kept per entry in LinkEntry::extraAttributes as a record (below), so that
// the backup written afterwards gives every untouched item back exactly as it was read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tree/link_tree.h"

class Window;

// The schema versions (PRAGMA user_version) whose bookmark tables this reader knows; the
// newest is the one Firefox 153 ESR writes.
constexpr int PLACES_OLDEST_SCHEMA = 52;
constexpr int PLACES_NEWEST_SCHEMA = 86;

// The record of an entry read from places.sqlite. Text layout, so that the entry's copy
// (a link shifted into "Broken Links") carries it along:
//   <kind><guid> US <title> US <members before the address> US <members after it>
// kind 'R' marks one of the roots, whose own title is kept (the tree shows another name);
// US is the byte 0x1F. The members are JSON object members, already in Firefox's backup
// form ("dateAdded":...,"lastModified":...,"id":...,"typeCode":...,...,"type":"...").
struct FirefoxRecord {
  bool isRoot = false;
  std::string_view guid;
  std::string_view title;   // JSON string text, roots only
  std::string_view before;  // members written before "uri"
  std::string_view after;   // members written after it ("keyword", "postData")
};
bool ParseFirefoxRecord(const LinkEntry& entry, FirefoxRecord& record);

// What the read of a Firefox store leaves for the writer of its backup.
struct FirefoxStoreState {
  bool active = false;     // the bookmark side of the current tree came from places.sqlite
  std::string profileDir;  // where bookmarkbackups/ lives
  bool firefoxRunning = false;
  std::string rootMembers;  // the places root's own members, as the records hold them
  std::string readDigest;   // digest of the backup text of the tree as read
};
FirefoxStoreState& FirefoxState();

enum class PlacesError {
  None,
  CannotOpen,     // missing or unreadable file
  NotDatabase,    // damaged, encrypted or not SQLite at all
  Foreign,        // an SQLite database without Firefox's bookmark tables
  UnknownSchema,  // a user_version this reader does not know
  Locked,         // locked by another program for longer than a few seconds
  Torn,           // the private copy of a running Firefox's database failed its check twice
};

struct PlacesReadResult {
  PlacesError error = PlacesError::None;
  std::string message;  // for the log, without line end; empty on success
  int schema = 0;       // user_version, when it could be read
  bool copied = false;  // read from a private copy because Firefox had the profile open
};

// Reads the bookmarks of the places.sqlite at placesPath into root (favicons.sqlite beside
// it gives the icons). When firefoxRunning, a private copy of the database and its write-ahead
// log is read instead (checked, and taken again once when the copy proves torn); otherwise
// the file is opened read-only. Sets FirefoxState() for the writer. Nothing is added to root
// unless the whole read succeeded. Links outside folders named exactly "Broken Links" add
// to linkCount.
PlacesReadResult ReadPlacesDatabase(const std::string& placesPath, bool firefoxRunning,
                                    NodeList& root, int32_t& linkCount);

// The clean run's read of a bookmark file setting that names Firefox's bookmarks (profile
// folder or places.sqlite): logs what it reads or why it cannot, and returns false (adding
// nothing) when the bookmarks could not be read.
bool ReadFirefoxBookmarks(Window* window, NodeList& root, int32_t& linkCount);

// The links of a Firefox profile's places.sqlite (as a run would count them), -1 when it
// cannot be read. Leaves FirefoxState() as it was.
int32_t CountFirefoxLinks(const std::string& placesPath);
