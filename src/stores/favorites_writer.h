// Writing the link tree back to the Favorites folder. Clean-run thread (tests: any one
// thread at a time, as the walk reads settings).
//
// Only entries with SOURCE_FAVORITES are looked at. A folder becomes a directory (the one
// it was read from, named in its shortcutFile, or one of its name, created when missing; a
// name that would leave the directory being written, such as "..", "a/b"
// or "C:x", is passed over with everything inside it). A link is written to the shortcut
// file it was read from while its name is unchanged, otherwise to the file its name gives
// (IsFileNameChar characters + ".url", cut to fit the file system), and a renamed link's old
// file is then removed. An existing file keeps every line but the URL; so does the new file
// of a renamed link, and of a link's copy written elsewhere while its file is removed (a
// shifted link); any other new file gets "[InternetShortcut]\r\nURL=<address>\r\n". Files are
// replaced atomically, and a file whose content and time would not change is not touched at all.
// ACTION_DELETE removes the file a link was read from (a link that has no file removes nothing).
// Directories are never removed, and files that no entry names are left alone. The process's
// current directory is never changed: the walk works on paths.
#pragma once

#include <string>

#include "tree/link_tree.h"

// Writes the tree into settings->favoritesFolder. False when that folder is not an existing
// directory (nothing is written then).
bool WriteFavorites(NodeList& tree);

// Writes one list into the directory at path and, recursively, its folders into their
// directories. path is extended and cut back during the walk and left as it was found.
void WriteFavoritesList(NodeList& list, TextString& path);

// Whether a byte may appear in the file name made from a link's name.
bool IsFileNameChar(unsigned char ch);

// Longest file name written, in bytes (the usual limit of a name in a directory).
constexpr size_t SHORTCUT_NAME_MAX = 255;

// The file name a link's name gives: its IsFileNameChar bytes in order, then ".url"; the
// name part is cut (never inside a UTF-8 sequence) so that the whole fits SHORTCUT_NAME_MAX.
std::string ShortcutFileName(const char* name);
