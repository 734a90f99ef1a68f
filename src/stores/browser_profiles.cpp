#include "stores/browser_profiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/files.h"
#include "stores/chromium_store.h"
#include "stores/firefox_places.h"
#include "stores/firefox_profile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

struct BrowserHome {
  const char* folder;  // under the configuration folder, '/' between components
  const char* name;
  bool profilesInside;  // the user-data folder holds "Default", "Profile N" (else it is one)
};

#ifdef _WIN32
// Under %LOCALAPPDATA%, except Opera's, which is under %APPDATA%.
constexpr BrowserHome kHomes[] = {
    {"Google/Chrome/User Data", "Google Chrome", true},
    {"Chromium/User Data", "Chromium", true},
    {"Microsoft/Edge/User Data", "Microsoft Edge", true},
    {"BraveSoftware/Brave-Browser/User Data", "Brave", true},
    {"Vivaldi/User Data", "Vivaldi", true},
    {"Opera Software/Opera Stable", "Opera", false},
};
#else
constexpr BrowserHome kHomes[] = {
    {"google-chrome", "Google Chrome", true},
    {"chromium", "Chromium", true},
    {"microsoft-edge", "Microsoft Edge", true},
    {"BraveSoftware/Brave-Browser", "Brave", true},
    {"vivaldi", "Vivaldi", true},
    {"opera", "Opera", false},
};
#endif

std::string Generic(const fs::path& p) { return p.generic_string(); }

#ifndef _WIN32
std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config";
  return {};
}
#endif

bool IsProfileName(const std::string& name) {
  if (name == "Default") return true;
  if (name.rfind("Profile ", 0) != 0 || name.size() == 8) return false;
  return std::all_of(name.begin() + 8, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TimeValue LastChangeOf(const fs::path& file) {
#ifdef _WIN32
  std::error_code failure;
  auto time = fs::last_write_time(file, failure);
  if (failure) return 0;
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::clock_cast<std::chrono::system_clock>(time).time_since_epoch())
      .count();
#else
  struct stat info;
  if (::stat(file.c_str(), &info) != 0) return 0;
  return static_cast<TimeValue>(info.st_mtime);
#endif
}

void AddStore(std::vector<FoundStore>& found, const char* browser, const fs::path& profile,
              bool countLinks) {
  fs::path file = profile / "Bookmarks";
  std::error_code failure;
  if (!fs::is_regular_file(file, failure)) return;
  FoundStore store;
  store.browser = browser;
  store.profile = profile.filename().string();
  store.path = file.string();
  store.lastChange = LastChangeOf(file);
  if (countLinks) {
    std::string bytes, error;
    if (ReadWholeFile(store.path.c_str(), bytes)) {
      NodeList tree;
      int32_t links = 0;
      if (ReadChromiumText(bytes.data(), bytes.size(), tree, links, error)) store.links = links;
      FreeTree(tree);
    }
  }
  found.push_back(std::move(store));
}

#ifndef _WIN32
// Whether the process exists on this machine (one of another user counts).
bool ProcessLives(long pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// The lock in one folder: held, or absent / left over.
bool LockHeldIn(const fs::path& folder) {
  std::string lock = Generic(folder / "SingletonLock");
  char target[512];
  ssize_t n = ::readlink(lock.c_str(), target, sizeof target - 1);
  if (n < 0) {
    // Not a symbolic link: absent, or something this program does not know, taken as held.
    struct stat info;
    return ::lstat(lock.c_str(), &info) == 0;
  }
  std::string_view text(target, static_cast<size_t>(n));
  size_t dash = text.rfind('-');
  if (dash == std::string_view::npos) return true;
  std::string host(text.substr(0, dash));
  std::string pidText(text.substr(dash + 1));
  char* end = nullptr;
  long pid = std::strtol(pidText.c_str(), &end, 10);
  if (pidText.empty() || *end != 0) return true;
  if (host != HostName()) return true;
  return ProcessLives(pid);
}
#else
bool LockHeldIn(const fs::path& folder) {
  std::wstring lock = (folder / "lockfile").wstring();
  if (GetFileAttributesW(lock.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  HANDLE h = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(h);
  return false;
}
#endif

}  // namespace

std::vector<FoundStore> DiscoverBookmarkStores(bool countLinks) {
  std::vector<FoundStore> found;
  // Firefox's profiles, from its own lists of them.
  for (const FirefoxProfile& profile : ListFirefoxProfiles(FirefoxProfileLists())) {
    FoundStore store;
    store.browser = "Firefox";
    store.profile =
        profile.name.empty() ? fs::path(profile.directory).filename().string() : profile.name;
    store.path = (fs::path(profile.directory) / "places.sqlite").string();
    store.links = countLinks ? CountFirefoxLinks(store.path) : -1;
    store.lastChange = profile.lastUsed;
    found.push_back(std::move(store));
  }
#ifdef _WIN32
  const char* local = std::getenv("LOCALAPPDATA");
  const char* roaming = std::getenv("APPDATA");
#else
  std::string config = ConfigFolder();
#endif
  for (const BrowserHome& home : kHomes) {
#ifdef _WIN32
    const char* base = home.profilesInside ? local : roaming;
    if (!base || !*base) continue;
    fs::path userData = fs::path(base) / fs::path(home.folder);
#else
    if (config.empty()) break;
    fs::path userData = fs::path(config) / home.folder;
#endif
    std::error_code failure;
    if (!fs::is_directory(userData, failure)) continue;
    if (!home.profilesInside) {
      AddStore(found, home.name, userData, countLinks);
      continue;
    }
    std::vector<fs::path> profiles;
    for (fs::directory_iterator it(userData, failure), end; !failure && it != end;
         it.increment(failure)) {
      std::string name = it->path().filename().string();
      if (IsProfileName(name)) profiles.push_back(it->path());
    }
    std::sort(profiles.begin(), profiles.end());
    for (const fs::path& profile : profiles) AddStore(found, home.name, profile, countLinks);
  }
  std::stable_sort(found.begin(), found.end(), [](const FoundStore& a, const FoundStore& b) {
    return a.lastChange > b.lastChange;
  });
  return found;
}

std::string BrowserOfStore(const std::string& storePath) {
  std::string path = Generic(fs::path(storePath));
  for (const BrowserHome& home : kHomes) {
    std::string needle = std::string("/") + home.folder + "/";
    if (path.find(needle) != std::string::npos) return home.name;
  }
  return "the browser";
}

BrowserLock FindBrowserLock(const std::string& storePath) {
  BrowserLock lock;
  lock.browser = BrowserOfStore(storePath);
  fs::path profile = fs::path(storePath).parent_path();
  // The profile's parent is the user-data folder; a browser that keeps a single profile in
  // the user-data folder itself has its lock beside the store.
  lock.inUse = LockHeldIn(profile.parent_path()) || LockHeldIn(profile);
  return lock;
}
