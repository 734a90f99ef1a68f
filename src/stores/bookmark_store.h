// The bookmark file setting may name one of several kinds of bookmark store. The kind is told
// by the file's content, never by its name; this is the one place that tells it and hands
// reading and saving to the reader and writer of that kind. Clean-run thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "stores/save_report.h"
#include "tree/link_tree.h"

class Window;

enum class BookmarkStoreKind {
  Missing,       // the file cannot be opened
  Netscape,      // an HTML bookmark file (anything not recognised as another kind)
  Chromium,      // the browsers' JSON "Bookmarks" file: a JSON object (with "roots")
  Firefox,       // Firefox's own database: a profile folder, or any SQLite file (places.sqlite)
  Unrecognised,  // read, but no bookmark file at all (text, a picture): never written
};

// The kind the first bytes of a file give (size may be a prefix of the file).
BookmarkStoreKind BookmarkStoreKindOf(const char* data, size_t size);

// The kind of the file at path, told from its first bytes (a folder is a Firefox profile);
// Missing when it cannot be read.
BookmarkStoreKind BookmarkStoreKindOfFile(const char* path);

// Reads settings->bookmarkFile with the reader of its kind into the root list (see
// ReadBookmarkFile for what is logged and returned). The kind is remembered for the save.
bool ReadBookmarkStore(Window* window, NodeList& root, int32_t& linkCount);

enum class StoreSave {
  Saved,    // written, or left alone because nothing in it changed
  Failed,   // could not be written: the old file is as it was
  Refused,  // not written on purpose; the reason is in the log
};

// Saves the tree into settings->bookmarkFile as the kind the latest ReadBookmarkStore found
// there (an HTML bookmark file when that read was of another file). Firefox's database is
// never written: its cleaned tree becomes a new bookmark backup in the profile, and the log
// tells the user how to restore it.
// A failed save is added to report (when given) with the file and the reason.
StoreSave WriteBookmarkStore(Window* window, NodeList& tree, SaveReport* report = nullptr);

// What the latest save has to tell the user beyond the log's save lines (how to apply a Firefox
// backup), lines ending in CR LF; empty when nothing. Kept after the run for front ends that
// end with it.
const std::string& BookmarkStoreAdvice();

// Lets go of what the latest read kept for the save (end of a run).
void ReleaseBookmarkStore();
