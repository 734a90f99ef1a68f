#include "stores/firefox_profile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "platform/files.h"
#include "platform/profile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// A profiles.ini names at most a few dozen profiles; the bound only keeps a hostile file from
// making the walk long.
constexpr int kMaxProfileSections = 1000;

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

int64_t LastChange(const fs::path& file) {
  std::error_code error;
  auto stamp = fs::last_write_time(file, error);
  if (error) return 0;
  auto since = std::chrono::file_clock::to_sys(stamp).time_since_epoch();
  return std::chrono::duration_cast<std::chrono::seconds>(since).count();
}

bool IsDirectoryPath(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

bool IsRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

}  // namespace

std::vector<std::string> FirefoxProfileLists(const std::string& home,
                                             const std::string& configHome) {
  std::vector<std::string> lists;
#ifdef _WIN32
  std::string appData = home.empty() ? EnvironmentText("APPDATA") : home;
  if (!appData.empty())
    lists.push_back((fs::path(appData) / "Mozilla" / "Firefox" / "profiles.ini").string());
  (void)configHome;
#else
  std::string user = home.empty() ? EnvironmentText("HOME") : home;
  std::string config = configHome.empty() ? EnvironmentText("XDG_CONFIG_HOME") : configHome;
  if (config.empty() && !user.empty()) config = (fs::path(user) / ".config").string();
  if (!user.empty())
    lists.push_back((fs::path(user) / ".mozilla" / "firefox" / "profiles.ini").string());
  if (!config.empty())
    lists.push_back((fs::path(config) / "mozilla" / "firefox" / "profiles.ini").string());
#endif
  return lists;
}

std::vector<FirefoxProfile> ListFirefoxProfiles(const std::vector<std::string>& iniFiles) {
  std::vector<FirefoxProfile> profiles;
  std::set<std::string> seen;
  for (const std::string& ini : iniFiles) {
    std::string text;
    if (!ReadWholeFile(ini.c_str(), text) || text.size() > PROFILE_MAX_FILE_SIZE) continue;
    fs::path base = fs::path(ini).parent_path();
    // Firefox numbers its sections from Profile0 and stops at the first number missing.
    for (int i = 0; i < kMaxProfileSections; ++i) {
      std::string section = "Profile" + std::to_string(i);
      std::string path, relative, name, isDefault;
      if (!FindProfileString(text, section.c_str(), "Path", path)) break;
      if (path.empty()) continue;
      FindProfileString(text, section.c_str(), "IsRelative", relative);
      FindProfileString(text, section.c_str(), "Name", name);
      FindProfileString(text, section.c_str(), "Default", isDefault);
      fs::path folder = relative == "1" ? base / fs::path(path) : fs::path(path);
      folder = folder.lexically_normal();
      fs::path places = folder / "places.sqlite";
      if (!IsRegularFile(places)) continue;
      std::error_code error;
      fs::path canonical = fs::weakly_canonical(folder, error);
      std::string key = error ? folder.string() : canonical.string();
      if (!seen.insert(key).second) continue;
      FirefoxProfile profile;
      profile.name = name;
      profile.directory = folder.string();
      profile.listedIn = ini;
      profile.isDefault = isDefault == "1";
      profile.lastUsed = std::max(LastChange(places), LastChange(folder / "places.sqlite-wal"));
      profiles.push_back(std::move(profile));
    }
  }
  std::stable_sort(
      profiles.begin(), profiles.end(),
      [](const FirefoxProfile& a, const FirefoxProfile& b) { return a.lastUsed > b.lastUsed; });
  return profiles;
}

bool HasSqliteHeader(const char* data, size_t size) {
  static const char kHeader[] = "SQLite format 3";  // followed by a zero byte
  return size >= sizeof kHeader && std::memcmp(data, kHeader, sizeof kHeader) == 0;
}

FirefoxStoreKind ClassifyFirefoxStore(const char* setting, std::string& placesPath,
                                      std::string& profileDir) {
  placesPath.clear();
  profileDir.clear();
  if (!setting || !*setting) return FirefoxStoreKind::NotFirefox;
  fs::path path(setting);
  if (IsDirectoryPath(path)) {
    profileDir = path.string();
    fs::path places = path / "places.sqlite";
    if (!IsRegularFile(places)) return FirefoxStoreKind::FolderWithoutDb;
    placesPath = places.string();
    return FirefoxStoreKind::Places;
  }
  InputFile file;
  if (!file.open(setting)) return FirefoxStoreKind::NotFirefox;
  char header[16];
  long got = 0;
  while (got < static_cast<long>(sizeof header)) {
    long n = file.read(header + got, sizeof header - static_cast<size_t>(got));
    if (n <= 0) break;
    got += n;
  }
  if (!HasSqliteHeader(header, static_cast<size_t>(got))) return FirefoxStoreKind::NotFirefox;
  placesPath = path.string();
  profileDir = path.parent_path().string();
  // Appended, not assigned: GCC 12 at -O3 takes assigning a literal here for an overlapping copy.
  if (profileDir.empty()) profileDir.push_back('.');
  return FirefoxStoreKind::Places;
}

#ifdef _WIN32
// Firefox keeps "parent.lock" open without sharing while it runs.
bool FirefoxHoldsProfile(const std::string& profileDir) {
  std::string lock = (fs::path(profileDir) / "parent.lock").string();
  HANDLE h = CreateFileA(lock.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}
#else
// Firefox holds a write lock (fcntl) on ".parentlock" while it runs; the kernel drops it when
// the process ends, however it ends.
bool FirefoxHoldsProfile(const std::string& profileDir) {
  std::string lock = (fs::path(profileDir) / ".parentlock").string();
  int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct flock query;
  std::memset(&query, 0, sizeof query);
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  query.l_start = 0;
  query.l_len = 0;
  bool held = ::fcntl(fd, F_GETLK, &query) == 0 && query.l_type != F_UNLCK;
  ::close(fd);
  return held;
}
#endif
