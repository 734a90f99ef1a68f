#include "app/settings_storage.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/registry_key.h"
#include "stores/browser_profiles.h"
#include "tree/settings.h"

namespace {

// Where the browsers keep what we discover.
const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kNetscapeUsers[] = "Software\\Netscape\\Netscape Navigator\\Users";
const char kNetscapeBookmarks[] = "Software\\Netscape\\Netscape Navigator\\Bookmark List";
const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kNetscapeProxy[] = "Software\\Netscape\\Netscape Navigator\\Proxy Information";

constexpr uint32_t kStoredPathSize = 260;
constexpr uint32_t kFieldPathSize = PATH_CAPACITY;  // the field's room, its zero included

void SetKeyPath(RegistryKey& key, const char* path) {
  key.path.assignPath(path, PathStyle::Windows);
}

// A text value only: the bytes of a number or binary value are no path or host name.
bool ReadText(RegistryKey& key, const char* name, char* buffer, uint32_t size) {
  uint32_t type = key.readString(name, buffer, &size);
  if (type == REG_SZ || type == REG_EXPAND_SZ) return true;
  if (size) buffer[0] = 0;
  return false;
}

// Reads a text straight into a field: the field becomes the value's whole text, and stays
// empty when the value cannot be read.
bool ReadTextInto(RegistryKey& key, const char* name, TextString& field, uint32_t size) {
  char buffer[kFieldPathSize];
  if (size > sizeof buffer) size = sizeof buffer;
  bool ok = ReadText(key, name, buffer, size);
  field.assign(buffer);
  return ok;
}

void DiscoverFavorites() {
  RegistryKey key(RegistryRoot::CurrentUser);
  SetKeyPath(key, kShellFolders);
  if (ReadTextInto(key, "Favorites", settings->favoritesFolder, kFieldPathSize))
    settings->flags |= FLAG_CLEAN_FAVORITES;
}

void DiscoverBookmarkFile() {
  RegistryKey key(RegistryRoot::LocalMachine);
  SetKeyPath(key, kNetscapeUsers);
  char profile[kStoredPathSize];
  if (ReadText(key, "CurrentUser", profile, sizeof profile)) {
    key.path.appendComponent(profile, PathStyle::Windows);
    if (ReadTextInto(key, "DirRoot", settings->bookmarkFile, kFieldPathSize)) {
      settings->bookmarkFile.appendComponent("bookmark.htm");
      settings->flags |= FLAG_CLEAN_BOOKMARKS;
    }
    return;
  }
  RegistryKey list(RegistryRoot::CurrentUser);
  SetKeyPath(list, kNetscapeBookmarks);
  if (ReadTextInto(list, "File Location", settings->bookmarkFile, kFieldPathSize))
    settings->flags |= FLAG_CLEAN_BOOKMARKS;
}

void DiscoverProxy() {
  RegistryKey key(RegistryRoot::CurrentUser);
  SetKeyPath(key, kInternetSettings);
  if (ReadText(key, "ProxyServer", settings->proxyHost, SETTINGS_TEXT_SIZE)) {
    if (key.readNumber("ProxyEnable", nullptr) != 0) settings->flags |= FLAG_USE_PROXY;
    if (char* colon = std::strchr(settings->proxyHost, ':')) {
      settings->proxyPort = ParsePortNumber(colon + 1);
      *colon = 0;
    }
    return;
  }
  RegistryKey netscape(RegistryRoot::CurrentUser);
  SetKeyPath(netscape, kNetscapeProxy);
  if (ReadText(netscape, "HTTP_Proxy", settings->proxyHost, SETTINGS_TEXT_SIZE))
    netscape.readNumber("HTTP_ProxyPort", &settings->proxyPort);
}

// Without stored settings, the bookmark file proposed is the browsers' bookmark file changed
// most recently, when a profile holds one; otherwise what the registry gave stands.
void ProposeBrowserBookmarks() {
  std::vector<FoundStore> found = DiscoverBookmarkStores(false);
  if (found.empty()) return;
  settings->bookmarkFile.assignPath(found.front().path.c_str());
  settings->flags |= FLAG_CLEAN_BOOKMARKS;
}

void ClampThreadCount() {
  if (settings->threadCount == 0) settings->threadCount = 1;
  if (settings->threadCount > 64) settings->threadCount = 64;
  if (settings->hostThreads == 0) settings->hostThreads = 1;
  if (settings->hostThreads > 64) settings->hostThreads = 64;
}

}  // namespace

uint32_t ParsePortNumber(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // Saturates like the C library's conversion instead of overflowing.
  uint64_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + static_cast<uint64_t>(*p - '0');
    if (n > 0x80000000u) n = 0x80000000u;
  }
  if (negative) return static_cast<uint32_t>(0u - static_cast<uint32_t>(n));
  return n > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(n);
}

bool LoadSettings() {
  settings->setDefaults();
  DiscoverFavorites();
  DiscoverBookmarkFile();
  DiscoverProxy();
  CopySettingsText(settings->bookmarkTitle, "Bookmarks");

  RegistryKey own(RegistryRoot::CurrentUser);
  SetKeyPath(own, SETTINGS_KEY_PATH);
  if (!own.openKey()) {
    ProposeBrowserBookmarks();
    return false;
  }
  char text[kStoredPathSize];
  if (ReadText(own, "Favorites", text, sizeof text)) settings->favoritesFolder.assignPath(text);
  if (ReadText(own, "Bookmarks", text, sizeof text)) settings->bookmarkFile.assignPath(text);
  char proxy[SETTINGS_TEXT_SIZE];
  if (ReadText(own, "Proxy", proxy, sizeof proxy)) CopySettingsText(settings->proxyHost, proxy);
  own.readNumber("Flags", &settings->flags);
  own.readNumber("Port", &settings->proxyPort);
  own.readNumber("Days", &settings->olderThanDays);
  own.readNumber("Threads", &settings->threadCount);
  own.readNumber("Timeout", &settings->timeout);
  own.readNumber("Retries", &settings->retries);
  // Hidden: set by hand in the key, never written by the program.
  own.readNumber("HostThreads", &settings->hostThreads);
  ClampThreadCount();
  return true;
}

namespace {

RegistryValueData TextValue(const char* name, const char* text) {
  // As writeString stores it: the text with its zero, or no data for an empty text.
  size_t length = text ? std::strlen(text) : 0;
  return {name, REG_SZ, length ? std::string(text, length + 1) : std::string()};
}

RegistryValueData NumberValue(const char* name, uint32_t number) {
  char bytes[4] = {static_cast<char>(number & 0xFF), static_cast<char>((number >> 8) & 0xFF),
                   static_cast<char>((number >> 16) & 0xFF),
                   static_cast<char>((number >> 24) & 0xFF)};
  return {name, REG_DWORD, std::string(bytes, sizeof bytes)};
}

}  // namespace

bool SaveSettings() {
  RegistryKey own(RegistryRoot::CurrentUser);
  SetKeyPath(own, SETTINGS_KEY_PATH);
  // The nine values go into the store together: a save cut short leaves the old nine or the
  // new nine, never a mixture (a bookmark file of one choice with the flags of another).
  std::vector<RegistryValueData> values = {
      TextValue("Favorites", settings->favoritesFolder.c_str()),
      TextValue("Bookmarks", settings->bookmarkFile.c_str()),
      TextValue("Proxy", settings->proxyHost),
      NumberValue("Flags", settings->flags),
      NumberValue("Port", settings->proxyPort),
      NumberValue("Days", settings->olderThanDays),
      NumberValue("Threads", settings->threadCount),
      NumberValue("Timeout", settings->timeout),
      NumberValue("Retries", settings->retries),
  };
  return own.writeValues(values);
}

std::string SettingsStoreName() {
#ifdef _WIN32
  return std::string("HKEY_CURRENT_USER\\") + SETTINGS_KEY_PATH;
#else
  return RegistryFileFor(RegistryRoot::CurrentUser);
#endif
}
