#include "stores/browser_profiles.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "stores/bookmark_store.h"
#include "support/chromium_files.h"
#include "support/headless_fixture.h"
#include "support/places_fixture.h"
#include "support/scratch_dir.h"
#include "tree/settings.h"

namespace {

using chromium_files::Json;
using chromium_files::Style;

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// A process id that is certainly not running: a child that has ended and been reaped.
pid_t DeadPid() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    setenv(name, value.c_str(), 1);
  }
  ~EnvironmentVariable() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// The save of a changed tree into a profile whose browser may hold its lock.
TEST(BrowserProfilesTest, NeverSavesWhileTheOwningBrowserRuns) {
  struct Case {
    const char* what;
    std::string lockTarget;  // empty: no lock
    bool saved;
  } cases[] = {
      {"no lock", "", true},
      {"lock of a live process", HostName() + "-" + std::to_string(getpid()), false},
      {"lock left by a crash", HostName() + "-" + std::to_string(DeadPid()), true},
      {"lock of another host", "another-host.invalid-" + std::to_string(getpid()), false},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::string text = chromium_files::Profile(Style::Chrome).dump(3);
    dir.write("config/chromium/Default/Bookmarks", text);
    if (!c.lockTarget.empty())
      std::filesystem::create_symlink(c.lockTarget, dir / "config/chromium/SingletonLock");
    Settings record;
    Settings* saved = settings;
    settings = &record;
    record.flags = FLAG_CLEAN_BOOKMARKS;
    record.bookmarkFile.assign((dir / "config/chromium/Default/Bookmarks").c_str());
    HeadlessMainWindow window;
    NodeList tree;
    int32_t links = 0;
    ASSERT_TRUE(ReadBookmarkStore(window.window, tree, links));
    LinkEntry* first = LinkEntry::of(LinkEntry::of(tree.head())->children.head());
    first->action = ACTION_DELETE;
    StoreSave result = WriteBookmarkStore(window.window, tree);
    FreeTree(tree);
    ReleaseBookmarkStore();
    settings = saved;
    EXPECT_EQ(result, c.saved ? StoreSave::Saved : StoreSave::Refused) << c.what;
    EXPECT_EQ(dir.read("config/chromium/Default/Bookmarks") != text, c.saved) << c.what;
    EXPECT_EQ(window.log().find("Close Chromium first: its bookmarks were checked but not "
                                "changed.") != std::string::npos,
              !c.saved)
        << c.what;
  }
}

TEST(BrowserProfilesTest, DiscoveryFindsTheUsualProfilesNewestFirst) {
  ScratchDir dir;
  Json file = chromium_files::Profile(Style::Chrome);  // 4 links outside "Broken Links"
  struct Store {
    const char* path;
    const char* text;  // null: the Chrome-style profile
    int64_t age;       // seconds before now
  } stores[] = {
      {"chromium/Default/Bookmarks", nullptr, 300},
      {"google-chrome/Profile 2/Bookmarks", nullptr, 100},
      {"BraveSoftware/Brave-Browser/Default/Bookmarks", "{broken", 200},
      {"opera/Bookmarks", nullptr, 400},
      {"microsoft-edge/System Profile/Bookmarks", nullptr, 10},  // not a user profile
      {"vivaldi/Profile x/Bookmarks", nullptr, 10},
      {"unknown-browser/Default/Bookmarks", nullptr, 10},
  };
  for (const Store& s : stores) {
    dir.write(std::string("config/") + s.path, s.text ? s.text : file.dump());
    auto when = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(s.age);
    std::filesystem::last_write_time(dir / (std::string("config/") + s.path), when);
  }
  // A Firefox profile, listed in the profiles.ini of the configuration folder, used in between.
  dir.write("config/mozilla/firefox/profiles.ini",
            "[Profile0]\nName=default-esr\nIsRelative=1\nPath=abc.default-esr\n");
  dir.write("config/mozilla/firefox/abc.default-esr/times.json", "{}");
  {
    PlacesFixture places(dir / "config/mozilla/firefox/abc.default-esr/places.sqlite");
    places.bookmark(PlacesFixture::kToolbar, "One", "https://one.example/");
    places.bookmark(PlacesFixture::kMenu, "Two", "https://two.example/");
  }
  std::filesystem::last_write_time(
      dir / "config/mozilla/firefox/abc.default-esr/places.sqlite",
      std::filesystem::file_time_type::clock::now() - std::chrono::seconds(150));
  EnvironmentVariable xdg("XDG_CONFIG_HOME", dir / "config");
  EnvironmentVariable home("HOME", dir / "home");
  std::vector<FoundStore> found = DiscoverBookmarkStores(true);
  std::string listing;
  for (const FoundStore& f : found)
    listing += f.browser + "|" + f.profile + "|" + std::to_string(f.links) + "|" +
               f.path.substr(dir.path().size()) + "\n";
  EXPECT_EQ(listing,
            "Google Chrome|Profile 2|4|/config/google-chrome/Profile 2/Bookmarks\n"
            "Firefox|default-esr|2|/config/mozilla/firefox/abc.default-esr/places.sqlite\n"
            "Brave|Default|-1|/config/BraveSoftware/Brave-Browser/Default/Bookmarks\n"
            "Chromium|Default|4|/config/chromium/Default/Bookmarks\n"
            "Opera|opera|4|/config/opera/Bookmarks\n");
  ASSERT_FALSE(found.empty());
  EXPECT_GT(found[0].lastChange, found[1].lastChange);
}

}  // namespace
