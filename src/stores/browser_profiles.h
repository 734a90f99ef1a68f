// Where the browsers keep their bookmark stores, and whether a browser is running on one.
// Any thread; no state is kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tree/link_tree.h"

// One bookmark store found in a browser profile.
struct FoundStore {
  std::string browser;       // as the user knows it ("Chromium", "Google Chrome", ...)
  std::string profile;       // the profile folder's name ("Default", "Profile 1", ...)
  std::string path;          // the store file
  int32_t links = -1;        // links in it, -1 when it cannot be read
  TimeValue lastChange = 0;  // seconds since 1970
};

// Firefox's profiles (from its profiles.ini files) and the bookmark stores of the Chromium
// family's usual profile folders under the user's configuration
// folder ($XDG_CONFIG_HOME or ~/.config; on Windows %LOCALAPPDATA% and %APPDATA%), most
// recently changed first. countLinks reads each store to count its links.
std::vector<FoundStore> DiscoverBookmarkStores(bool countLinks);

// The browser a store file belongs to, told from the folders around it; "the browser" when
// they name none known.
std::string BrowserOfStore(const std::string& storePath);

struct BrowserLock {
  bool inUse = false;  // a browser holds the profile: do not write its files
  std::string browser;
};

// Whether the browser that owns the profile holding the store runs. Its lock lives in the
// user-data folder (the profile's parent; for a browser that keeps its files in the user-data
// folder itself, that folder): on Linux and macOS the symbolic link "SingletonLock" naming
// "<host>-<process id>"; a lock of this host naming a process that no longer exists is left
// over from a crash, one of another host counts as held. On Windows the file "lockfile",
// which the running browser holds open.
BrowserLock FindBrowserLock(const std::string& storePath);
