// The bookmark file setting may name one of several kinds of bookmark store. The kind is told
// by the file's content, never by its name; this is the one place that tells it and hands
// reading and saving to the reader and writer of that kind. Clean-run thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tree/link_tree.h"

class Window;

enum class BookmarkStoreKind {
  Missing,   // the file cannot be opened
  Netscape,  // an HTML bookmark file (anything not recognised as another kind)
  Chromium,  // the browsers' JSON "Bookmarks" file: a JSON object (with "roots")
};

// The kind the first bytes of a file give (size may be a prefix of the file).
BookmarkStoreKind BookmarkStoreKindOf(const char* data, size_t size);

// The kind of the file at path, told from its first bytes; Missing when it cannot be read.
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
// there (an HTML bookmark file when that read was of another file).
StoreSave WriteBookmarkStore(Window* window, NodeList& tree);

// Lets go of what the latest read kept for the save (end of a run).
void ReleaseBookmarkStore();
