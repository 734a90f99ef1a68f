// Writing the link tree back to the Favorites folder. Clean-run thread (tests: any one
// thread at a time, as the walk reads settings).
//
// Only entries with SOURCE_FAVORITES are looked at. A folder becomes a directory (the one
// it was read from, named in its shortcutFile, or one of its name, created when missing). A
// link is written to the shortcut file it was read from (or took over from its twin, which
// may lie in another directory) while its name is unchanged, otherwise to the file its name
// gives (IsFileNameChar characters + ".url", cut to fit the file system), and a renamed
// link's old file is then removed. An existing file keeps every line but the URL; so does
// the new file of a renamed link, and of a link's copy written elsewhere while its file is
// removed (a shifted link); any other new file gets "[InternetShortcut]\r\nURL=<address>\r\n".
// Files are replaced atomically, and a file whose content and time would not change is not
// touched at all. ACTION_DELETE removes the file a link was read from (a link that has no
// file removes nothing). Directories are never removed, and files that no entry names are
// left alone. The process's current directory is never changed: the walk works on paths.
//
// Safety: every file is written (and flushed) before any file is removed, and the file of a
// link whose copy could not be written is not removed, so that a save ended at any moment
// leaves each link in its old place, in its new one, or in both. Nothing outside the
// Favorites folder is written, removed or re-timed: a directory reached through a symbolic
// link is not written into, and a shortcut that is a symbolic link is replaced by a file of
// its own rather than written through. Names are judged by the rules of the system the
// program runs on ("." and ".." and the separator everywhere; the Windows rules on Windows).
// What cannot be done is reported, never passed over in silence. The temporary shortcut files
// a killed save left in the directories written into are removed once old (see
// RemoveLeftoverTemps).
#pragma once

#include <string>
#include <vector>

#include "tree/link_tree.h"

// One thing a save of the Favorites could not do: the file or directory, and why.
struct FavoritesFailure {
  std::string path;
  std::string reason;
};

// Writes the tree into settings->favoritesFolder. False when that folder is not an existing
// directory (nothing is written then). failures, when given, receives what could not be
// written, removed or left in its place; the save is complete when it stays empty.
bool WriteFavorites(NodeList& tree, std::vector<FavoritesFailure>* failures = nullptr);

// Whether a byte may appear in the file name made from a link's name.
bool IsFileNameChar(unsigned char ch);

// Longest file name written, in bytes (the usual limit of a name in a directory).
constexpr size_t SHORTCUT_NAME_MAX = 255;

// The file name a link's name gives: its IsFileNameChar bytes in order, then ".url"; the
// name part is cut (never inside a UTF-8 sequence) so that the whole fits SHORTCUT_NAME_MAX.
std::string ShortcutFileName(const char* name);

// Whether name, used as one component of a path, names an item inside the directory it is
// added to, by the rules of the system the program runs on.
bool IsSafePathComponent(const char* name);
