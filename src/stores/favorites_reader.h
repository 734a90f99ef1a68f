// Reading the Favorites folder (a directory tree of Internet shortcut files) into the link
// tree. Clean-run thread (tests: any one thread at a time, as the walk uses settings).
//
// A shortcut file is an initialisation file whose "URL" value in section "InternetShortcut"
// is the link's address, read whole. Its title is the file name without the extension and
// its date is the file's creation time (the earlier of birth and modification time).
#pragma once

#include <cstdint>
#include <string>

#include "tree/link_tree.h"

// The entry for the shortcut file at path, created at creationTime (seconds since 1970):
// source SOURCE_FAVORITES, lastVisit the creation time, and, when the file has a non-empty
// address, that address, the title, and in shortcutFile/shortcutTitle the file's own name
// and that title (so that a save writes the link back to the same file). A file without an
// address gives a nameless entry. Null only when no memory is left.
// readError, when given, receives the errno of a read that failed part-way (the entry is
// then of no use: its file is unreadable, not empty).
LinkEntry* NewShortcutEntry(const char* path, TimeValue creationTime, int* readError = nullptr);

// Reads the directory at path into list: each subdirectory becomes a folder (merging into
// a folder of the same name already in the list, letter case ignored; the folder's
// shortcutFile then holds the directory's own name) and each ".url" file
// (letter case ignored) a link. Links outside folders named exactly "Broken Links" add to
// linkCount. Entries go in listing order, or by name when settings ask to sort. path is
// extended and cut back during the walk and left as it was found. A missing or unreadable
// directory adds nothing; a directory reached again through a link to one of its parents is
// passed over. A shortcut or a directory listing whose reading fails part-way (an I/O
// error) ends the walk: false, with the file and its errno in failedFile and error when
// given, and the list then holds a part of the folder only, which must be neither checked
// nor saved.
bool ReadFavoritesFolder(TextString& path, NodeList& list, int32_t& linkCount,
                         bool& insideBrokenLinks, std::string* failedFile = nullptr,
                         int* error = nullptr);
