#include "app/settings_storage.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/registry_key.h"
#include "platform/registry_sandbox.h"
#include "tree/settings.h"

namespace {

const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kUsers[] = "Software\\Netscape\\Netscape Navigator\\Users";
const char kBookmarkList[] = "Software\\Netscape\\Netscape Navigator\\Bookmark List";
const char kInternet[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kNetscapeProxy[] = "Software\\Netscape\\Netscape Navigator\\Proxy Information";

class SettingsStorageTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = &record_; }
  void TearDown() override { settings = nullptr; }

  static void Text(RegistryRoot root, const char* path, const char* name, const char* text) {
    RegistryKey key(root);
    key.path.assignPath(path, PathStyle::Windows);
    ASSERT_TRUE(key.writeString(name, text));
  }
  static void Number(RegistryRoot root, const char* path, const char* name, uint32_t n) {
    RegistryKey key(root);
    key.path.assignPath(path, PathStyle::Windows);
    ASSERT_TRUE(key.writeNumber(name, n));
  }
  static void Raw(RegistryRoot root, const char* path, const char* name, uint32_t type,
                  const char* data, uint32_t size) {
    RegistryHandle* h = RegistryOpen(root, path, true);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(RegistrySet(h, name, type, data, size));
    RegistryClose(h);
  }
  static void User(const char* path, const char* name, const char* text) {
    Text(RegistryRoot::CurrentUser, path, name, text);
  }
  static void Own(const char* name, const char* text) { User(SETTINGS_KEY_PATH, name, text); }
  static void Own(const char* name, uint32_t n) {
    Number(RegistryRoot::CurrentUser, SETTINGS_KEY_PATH, name, n);
  }

  RegistrySandbox box_;
  Settings record_;
};

TEST_F(SettingsStorageTest, NothingStoredKeepsTheDefaults) {
  record_.threadCount = 9;
  CopySettingsText(record_.bookmarkTitle, "Old title");
  EXPECT_FALSE(LoadSettings());
  EXPECT_EQ(record_.flags, 0x88u);
  EXPECT_STREQ(record_.favoritesFolder.c_str(), "");
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "");
  EXPECT_STREQ(record_.proxyHost, "");
  EXPECT_EQ(record_.proxyPort, 8080u);
  EXPECT_EQ(record_.olderThanDays, 30u);
  EXPECT_EQ(record_.threadCount, 2u);
  EXPECT_EQ(record_.timeout, 30u);
  EXPECT_EQ(record_.retries, 5u);
  EXPECT_STREQ(record_.bookmarkTitle, "Bookmarks");
}

TEST_F(SettingsStorageTest, DiscoversTheFavoritesFolder) {
  User(kShellFolders, "Favorites", "/home/jo/Favorites");
  EXPECT_FALSE(LoadSettings());
  EXPECT_STREQ(record_.favoritesFolder.c_str(), "/home/jo/Favorites");
  EXPECT_EQ(record_.flags, 0x88u | FLAG_CLEAN_FAVORITES);
}

TEST_F(SettingsStorageTest, ExplorerProxyWithHostAndPort) {
  User(kInternet, "ProxyServer", "proxy.example:3128");
  Number(RegistryRoot::CurrentUser, kInternet, "ProxyEnable", 1);
  LoadSettings();
  EXPECT_STREQ(record_.proxyHost, "proxy.example");
  EXPECT_EQ(record_.proxyPort, 3128u);
  EXPECT_EQ(record_.flags, 0x88u | FLAG_USE_PROXY);
}

TEST_F(SettingsStorageTest, ExplorerProxyForms) {
  struct Case {
    const char* server;
    const char* host;
    uint32_t port;
  } cases[] = {
      {"proxy.example", "proxy.example", 8080},
      {"proxy.example:http", "proxy.example", 0},
      {"http=proxy.example:8081;ftp=other.example:21", "http=proxy.example", 8081},
      {"proxy.example: +99x", "proxy.example", 99},
      {"proxy.example:99999999999", "proxy.example", 0x7FFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    User(kInternet, "ProxyServer", c.server);
    LoadSettings();
    EXPECT_STREQ(record_.proxyHost, c.host);
    EXPECT_EQ(record_.proxyPort, c.port);
  }
}

TEST_F(SettingsStorageTest, ExplorerProxySwitchOffOrAbsentLeavesTheFlagAndNetscapeAlone) {
  User(kInternet, "ProxyServer", "proxy.example:3128");
  User(kNetscapeProxy, "HTTP_Proxy", "netscape.example");
  Number(RegistryRoot::CurrentUser, kNetscapeProxy, "HTTP_ProxyPort", 1080);
  LoadSettings();
  EXPECT_STREQ(record_.proxyHost, "proxy.example");
  EXPECT_EQ(record_.proxyPort, 3128u);
  EXPECT_EQ(record_.flags & FLAG_USE_PROXY, 0u);
  Number(RegistryRoot::CurrentUser, kInternet, "ProxyEnable", 0);
  LoadSettings();
  EXPECT_EQ(record_.flags & FLAG_USE_PROXY, 0u);
  // Any four non-zero bytes switch it on, whatever the value's type.
  Raw(RegistryRoot::CurrentUser, kInternet, "ProxyEnable", REG_BINARY, "\x00\x01\x00\x00", 4);
  LoadSettings();
  EXPECT_NE(record_.flags & FLAG_USE_PROXY, 0u);
}

TEST_F(SettingsStorageTest, NetscapeProxyIsTheSecondChoice) {
  User(kNetscapeProxy, "HTTP_Proxy", "netscape.example");
  Number(RegistryRoot::CurrentUser, kNetscapeProxy, "HTTP_ProxyPort", 1080);
  Number(RegistryRoot::CurrentUser, kInternet, "ProxyEnable", 1);
  LoadSettings();
  EXPECT_STREQ(record_.proxyHost, "netscape.example");
  EXPECT_EQ(record_.proxyPort, 1080u);
  EXPECT_EQ(record_.flags, 0x88u) << "the second choice never changes the flags";
  // A port stored as text is passed over; a too long Explorer entry gives way.
  User(kNetscapeProxy, "HTTP_ProxyPort", "1080");
  User(kInternet, "ProxyServer", std::string(80, 'p').c_str());
  LoadSettings();
  EXPECT_STREQ(record_.proxyHost, "netscape.example");
  EXPECT_EQ(record_.proxyPort, 8080u);
}

TEST_F(SettingsStorageTest, NetscapeProfileGivesTheBookmarkFile) {
  Text(RegistryRoot::LocalMachine, kUsers, "CurrentUser", "jo");
  Text(RegistryRoot::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\jo", "DirRoot",
       "/home/jo/.netscape");
  User(kBookmarkList, "File Location", "/elsewhere/bookmark.htm");
  LoadSettings();
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "/home/jo/.netscape/bookmark.htm");
  EXPECT_EQ(record_.flags, 0x88u | FLAG_CLEAN_BOOKMARKS);
}

// Without stored settings the browsers' bookmark file changed last is proposed, over what the
// registry gives; stored settings win.
TEST_F(SettingsStorageTest, TheBrowsersNewestBookmarkFileIsProposedAtFirstStart) {
  User(kBookmarkList, "File Location", "/elsewhere/bookmark.htm");
  std::string config = box_.dir() + "/config/";
  auto now = std::filesystem::file_time_type::clock::now();
  for (auto [folder, age] : {std::pair{"chromium/Default", 50},
                             {"vivaldi/Profile 3", 20},
                             {"google-chrome/Guest Profile", 1}}) {
    RegistrySandbox::WriteFile(config + folder + "/Bookmarks", "{}");
    std::filesystem::last_write_time(config + folder + "/Bookmarks",
                                     now - std::chrono::seconds(age));
  }
  EXPECT_FALSE(LoadSettings());
  EXPECT_EQ(record_.bookmarkFile.c_str(), config + "vivaldi/Profile 3/Bookmarks");
  EXPECT_EQ(record_.flags, 0x88u | FLAG_CLEAN_BOOKMARKS);
  Own("Bookmarks", "/stored/bookmark.htm");
  EXPECT_TRUE(LoadSettings());
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "/stored/bookmark.htm");
}

TEST_F(SettingsStorageTest, ProfileWithoutDirRootGivesNoBookmarkFile) {
  Text(RegistryRoot::LocalMachine, kUsers, "CurrentUser", "jo");
  User(kBookmarkList, "File Location", "/elsewhere/bookmark.htm");
  LoadSettings();
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "");
  EXPECT_EQ(record_.flags & FLAG_CLEAN_BOOKMARKS, 0u);
}

TEST_F(SettingsStorageTest, BookmarkListIsTheSecondChoice) {
  User(kBookmarkList, "File Location", "/elsewhere/bookmark.htm");
  LoadSettings();
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "/elsewhere/bookmark.htm");
  EXPECT_EQ(record_.flags, 0x88u | FLAG_CLEAN_BOOKMARKS);
  // A profile name too long for its buffer counts as absent.
  Text(RegistryRoot::LocalMachine, kUsers, "CurrentUser", std::string(260, 'n').c_str());
  LoadSettings();
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "/elsewhere/bookmark.htm");
}

TEST_F(SettingsStorageTest, MachineEntriesThatMayNotBeChangedAreNotRead) {
  Text(RegistryRoot::LocalMachine, kUsers, "CurrentUser", "jo");
  Text(RegistryRoot::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\jo", "DirRoot",
       "/home/jo/.netscape");
  User(kBookmarkList, "File Location", "/elsewhere/bookmark.htm");
  ASSERT_EQ(::chmod(box_.machineFile().c_str(), 0444), 0);
  LoadSettings();
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "/elsewhere/bookmark.htm");
}

TEST_F(SettingsStorageTest, StoredValuesOverDiscoveredOnes) {
  User(kShellFolders, "Favorites", "/home/jo/Favorites");
  Own("Flags", 0x88u);
  Own("Favorites", "");
  Own("Bookmarks", "/data/bookmarks/");
  Own("Timeout", "60");
  EXPECT_TRUE(LoadSettings());
  EXPECT_EQ(record_.flags, 0x88u) << "a stored Flags replaces the discovered bits";
  EXPECT_STREQ(record_.favoritesFolder.c_str(), "") << "an empty stored folder empties it";
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "/data/bookmarks") << "path normalised";
  EXPECT_EQ(record_.timeout, 30u) << "a Timeout stored as text is passed over";
}

TEST_F(SettingsStorageTest, StoredThreadsAreClamped) {
  const uint32_t cases[][2] = {{0, 1}, {1, 1}, {64, 64}, {65, 64}, {100, 64}};
  for (const auto& c : cases) {
    Own("Threads", c[0]);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(record_.threadCount, c[1]) << c[0];
    // The hidden limit per host follows the same range.
    Own("HostThreads", c[0]);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(record_.hostThreads, c[1]) << c[0];
  }
}

TEST_F(SettingsStorageTest, StoredTextThatIsNoTextIsPassedOver) {
  User(kShellFolders, "Favorites", "/home/jo/Favorites");
  Own("Favorites", 5u);
  Own("Proxy", 7u);
  Own("Bookmarks", std::string(260, 'b').c_str());  // too long for its buffer
  EXPECT_TRUE(LoadSettings());
  EXPECT_STREQ(record_.favoritesFolder.c_str(), "/home/jo/Favorites");
  EXPECT_STREQ(record_.proxyHost, "");
  EXPECT_STREQ(record_.bookmarkFile.c_str(), "");
}

TEST_F(SettingsStorageTest, SaveThenLoadGivesBackAllNineValues) {
  EXPECT_FALSE(LoadSettings());
  record_.favoritesFolder.assign("/home/jo/Favorites");
  record_.bookmarkFile.assign("/home/jo/.netscape/bookmark.htm");
  CopySettingsText(record_.proxyHost, "proxy.example");
  record_.flags = FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE | FLAG_BROKEN_SHIFT | FLAG_MOVED_UPDATE |
                  FLAG_SORT_BOOKMARKS;
  record_.proxyPort = 3128;
  record_.olderThanDays = 7;
  record_.threadCount = 64;
  record_.timeout = 12;
  record_.retries = 9;
  SaveSettings();

  Settings fresh;
  settings = &fresh;
  EXPECT_TRUE(LoadSettings());
  EXPECT_STREQ(fresh.favoritesFolder.c_str(), "/home/jo/Favorites");
  EXPECT_STREQ(fresh.bookmarkFile.c_str(), "/home/jo/.netscape/bookmark.htm");
  EXPECT_STREQ(fresh.proxyHost, "proxy.example");
  EXPECT_EQ(fresh.flags, record_.flags);
  EXPECT_EQ(fresh.proxyPort, 3128u);
  EXPECT_EQ(fresh.olderThanDays, 7u);
  EXPECT_EQ(fresh.threadCount, 64u);
  EXPECT_EQ(fresh.timeout, 12u);
  EXPECT_EQ(fresh.retries, 9u);
  settings = &record_;
}

TEST_F(SettingsStorageTest, SaveWritesEmptyTextsAsEmptyValues) {
  SaveSettings();
  RegistryKey own(RegistryRoot::CurrentUser);
  own.path.assignPath(SETTINGS_KEY_PATH, PathStyle::Windows);
  char buffer[8] = "junk";
  uint32_t size = sizeof buffer;
  EXPECT_EQ(own.readString("Proxy", buffer, &size), REG_SZ);
  EXPECT_EQ(size, 0u);
  uint32_t n = 0;
  own.readNumber("Retries", &n);
  EXPECT_EQ(n, 5u);
}

TEST_F(SettingsStorageTest, SaveIntoAStoreThatMayNotBeChangedIsSilent) {
  SaveSettings();
  ASSERT_EQ(::chmod(box_.userFile().c_str(), 0444), 0);
  record_.retries = 1;
  SaveSettings();
  EXPECT_EQ(record_.retries, 1u);
  ::chmod(box_.userFile().c_str(), 0644);
  LoadSettings();
  EXPECT_EQ(record_.retries, 5u);
}

TEST_F(SettingsStorageTest, DamagedStoreGivesDefaultsAndIsKeptOnSave) {
  box_.writeUser("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tarnwell\\Quillfen]\n\"Threads\"=dw");
  EXPECT_FALSE(LoadSettings());
  EXPECT_EQ(record_.threadCount, 2u);
  SaveSettings();
  EXPECT_TRUE(std::filesystem::exists(box_.userFile() + ".damaged"));
  EXPECT_TRUE(LoadSettings());
}

TEST_F(SettingsStorageTest, TwoProcessesSavingAtOnceLoseNothing) {
  constexpr int kRounds = 15;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      record_.retries = 100 + c;
      record_.threadCount = 10 + c;
      CopySettingsText(record_.proxyHost, c ? "b.example" : "a.example");
      for (int i = 0; i < kRounds; ++i) {
        SaveSettings();
        // A value of this process alone, next to the shared settings.
        std::string name = "Mark" + std::to_string(c) + "_" + std::to_string(i);
        Own(name.c_str(), static_cast<uint32_t>(i));
      }
      ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_TRUE(LoadSettings());
  EXPECT_TRUE(record_.retries == 100 || record_.retries == 101) << record_.retries;
  EXPECT_TRUE(record_.threadCount == 10 || record_.threadCount == 11);
  RegistryKey own(RegistryRoot::CurrentUser);
  own.path.assignPath(SETTINGS_KEY_PATH, PathStyle::Windows);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kRounds; ++i) {
      std::string name = "Mark" + std::to_string(c) + "_" + std::to_string(i);
      uint32_t n = 999;
      own.readNumber(name.c_str(), &n);
      EXPECT_EQ(n, static_cast<uint32_t>(i)) << name;
    }
  }
}

// One of two full sets of the nine stored values.
struct NineValues {
  const char* favorites;
  const char* bookmarks;
  const char* proxy;
  uint32_t flags, port, days, threads, timeout, retries;

  void into(Settings& record) const {
    record.favoritesFolder.assign(favorites);
    record.bookmarkFile.assign(bookmarks);
    CopySettingsText(record.proxyHost, proxy);
    record.flags = flags;
    record.proxyPort = port;
    record.olderThanDays = days;
    record.threadCount = threads;
    record.timeout = timeout;
    record.retries = retries;
  }
  bool in(const Settings& record) const {
    return std::strcmp(record.favoritesFolder.c_str(), favorites) == 0 &&
           std::strcmp(record.bookmarkFile.c_str(), bookmarks) == 0 &&
           std::strcmp(record.proxyHost, proxy) == 0 && record.flags == flags &&
           record.proxyPort == port && record.olderThanDays == days &&
           record.threadCount == threads && record.timeout == timeout && record.retries == retries;
  }
};

// A child saving the settings over and over, two sets in turn, is killed at seeded random
// moments. After every kill the store holds one whole set: the nine values are replaced
// together. The temporary files the kills leave are removed by a later save once old.
TEST_F(SettingsStorageTest, AKillDuringASaveLeavesTheOldOrTheNewNineValues) {
  const NineValues first = {
      "/home/a/Favorites", "/home/a/b.htm", "proxy-a", 0x88, 80, 10, 2, 30, 5};
  const NineValues second = {
      "/srv/b/Favs", "/srv/b/bookmarks.html", "proxy-b", 0x1FF, 3128, 99, 64, 7, 0};
  first.into(record_);
  ASSERT_TRUE(SaveSettings());
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> delay(0, 3000);  // microseconds
  int firsts = 0, seconds = 0;
  for (int kill = 0; kill < 60; ++kill) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        (i % 2 ? first : second).into(record_);
        SaveSettings();
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    Settings loaded;
    settings = &loaded;
    EXPECT_TRUE(LoadSettings()) << "kill " << kill;
    settings = &record_;
    ASSERT_TRUE(first.in(loaded) || second.in(loaded)) << "kill " << kill;
    (first.in(loaded) ? firsts : seconds)++;
  }
  std::printf("60 kills: %d found the first set, %d the second\n", firsts, seconds);

  // Whatever the kills left beside the store, made old, goes with the next save; a file of
  // another name stays.
  std::filesystem::path dir = std::filesystem::path(box_.userFile()).parent_path();
  RegistrySandbox::WriteFile((dir / "user.reg.qf00000000.tmp").string(), "left");
  RegistrySandbox::WriteFile((dir / "notes.txt").string(), "mine");
  auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  for (const auto& item : std::filesystem::directory_iterator(dir))
    std::filesystem::last_write_time(item.path(), old);
  ASSERT_TRUE(SaveSettings());
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(dir))
    names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"notes.txt", "user.reg", "user.reg.lock"}));
}

TEST(ParsePortNumber, ReadsLikeTheCLibrary) {
  EXPECT_EQ(ParsePortNumber("3128"), 3128u);
  EXPECT_EQ(ParsePortNumber("  42;x"), 42u);
  EXPECT_EQ(ParsePortNumber("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ParsePortNumber(""), 0u);
  EXPECT_EQ(ParsePortNumber("x1"), 0u);
  EXPECT_EQ(ParsePortNumber("123456789012345678901234567890"), 0x7FFFFFFFu);
}

}  // namespace
