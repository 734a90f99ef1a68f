// Firefox profiles: where they are listed, which file of a profile holds the bookmarks, and
// whether Firefox has the profile open. Any thread; no state is kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One profile named by a profiles.ini.
struct FirefoxProfile {
  std::string name;        // the Name= of its section
  std::string directory;   // the profile folder, made absolute
  std::string listedIn;    // the profiles.ini that names it
  bool isDefault = false;  // Default=1 in its section
  int64_t lastUsed = 0;    // latest change of places.sqlite or its -wal, seconds; 0 if none
};

// The profiles.ini files Firefox may use for this user, in the order they are read: on Linux
// ~/.mozilla/firefox/ and $XDG_CONFIG_HOME/mozilla/firefox/ (~/.config when the variable is
// unset); on Windows %APPDATA%\Mozilla\Firefox\. home and configHome stand for the user's
// folders (empty: taken from the environment).
std::vector<std::string> FirefoxProfileLists(const std::string& home = std::string(),
                                             const std::string& configHome = std::string());

// Every profile the given profiles.ini files name whose folder holds a places.sqlite, each
// folder once (the first list naming it wins), most recently used first.
std::vector<FirefoxProfile> ListFirefoxProfiles(const std::vector<std::string>& iniFiles);

// How a bookmark file setting names Firefox's bookmarks: a profile folder, or the profile's
// places.sqlite (any file starting with SQLite's header). Told by content, never by name.
enum class FirefoxStoreKind {
  NotFirefox,       // neither a folder nor an SQLite file
  Places,           // placesPath and profileDir are set
  FolderWithoutDb,  // a folder without places.sqlite: profileDir is set
};
FirefoxStoreKind ClassifyFirefoxStore(const char* setting, std::string& placesPath,
                                      std::string& profileDir);

// True when the first bytes are those of an SQLite database file.
bool HasSqliteHeader(const char* data, size_t size);

// True while a Firefox process holds the profile: its lock file is locked. The lock itself is
// asked (a lock query), not the "lock" link beside it, which outlives a Firefox that crashed.
bool FirefoxHoldsProfile(const std::string& profileDir);
