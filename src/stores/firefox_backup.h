// Handing the cleaned tree back to Firefox as one of its own bookmark backups: the backup
// JSON, compressed in Firefox's LZ4 framing, written as a new file into the profile's
// bookmarkbackups/ folder under a name that Firefox lists in its Restore menu. The database
// itself is never written: Firefox's restore replaces its bookmarks wholesale and does its own
// bookkeeping. Clean-run thread (tests: one thread at a time).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "tree/link_tree.h"

// Appends text as a JSON string (quotes included) the way Firefox's JSON writer escapes it.
// Bytes that are not valid UTF-8 are taken as Windows-1252, so the result is always UTF-8.
void AppendJsonString(std::string& out, const char* text, size_t length);

// The backup JSON of the tree's bookmark side (entries carrying SOURCE_BOOKMARKS; links marked
// ACTION_DELETE left out) under the places root whose members are rootMembers. Top-level
// entries that are not one of Firefox's roots (a new "Broken Links" folder, entries brought
// over from the Favorites) go at the end of "Other Bookmarks". Entries read from places.sqlite
// keep their record; a GUID met a second time is left out, so that Firefox gives that item a
// fresh one. itemCount receives the number of items, the root included (as Firefox counts).
void FormatFirefoxBackup(const NodeList& tree, const std::string& rootMembers, std::string& json,
                         int64_t& itemCount);

// Firefox's LZ4 framing: the magic "mozLz40\0", the size of the original as 32-bit little
// endian, then one LZ4 block. False when the text is too large for the framing.
bool CompressMozLz4(const std::string& text, std::string& out);
// The reverse; false for anything that is not a whole, well-formed frame.
bool DecompressMozLz4(const std::string& data, std::string& text);

// A hash of the text as Firefox puts it in backup names: SHA-256 in base64url (with its
// padding), 44 characters.
std::string BackupContentHash(const std::string& json);

// "bookmarks-<local date>_<itemCount>_<hash>.jsonlz4": dated by the local calendar, as Firefox
// deletes backups whose name is dated in the future.
std::string BackupFileName(std::time_t now, int64_t itemCount, const std::string& hash);

enum class BackupOutcome {
  Unchanged,     // the tree is as read: nothing written
  Written,       // a new backup file was written
  AlreadyThere,  // the same backup (same date and content) was written by an earlier run
  Failed,        // nothing written; message says why
};

struct BackupResult {
  BackupOutcome outcome = BackupOutcome::Failed;
  std::string path;     // the backup file
  std::string date;     // its date, YYYY-MM-DD
  int64_t items = 0;    // the item count in its name (Firefox's menu shows it)
  std::string message;  // why it failed
};

// Writes the tree as a backup into <profileDir>/bookmarkbackups/ (made when missing; never
// through a symbolic link), atomically, unless it equals the tree as read (FirefoxState()).
BackupResult WriteFirefoxBackup(const NodeList& tree, std::time_t now);

// The lines that tell the user what to do with the result, each ending in CR LF; empty when
// there is nothing to tell.
std::string FirefoxBackupAdvice(const BackupResult& result);
