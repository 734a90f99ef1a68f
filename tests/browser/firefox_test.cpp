// The backup the program writes, restored by a real Firefox: started headless on a fresh
// profile with a private HOME and driven over loopback through its Marionette protocol
// ("<length>:<JSON>" messages), Firefox makes bookmarks (tags, a keyword, folders, a
// separator); the program reads the profile while Firefox runs, cleans it and writes its
// backup; Firefox restores that backup, and its bookmark tree must be the one the program
// meant. Skipped when no firefox-esr is installed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "results/apply_actions.h"
#include "stores/bookmark_store.h"
#include "stores/firefox_places.h"
#include "support/scratch_dir.h"
#include "tree/settings.h"

extern char** environ;

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Generous: the machines this runs on are shared, and Firefox's first start is slow there.
constexpr auto kStartLimit = std::chrono::seconds(120);
constexpr int kReplyLimitMs = 180000;

std::string FindFirefox() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/firefox-esr";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// A Marionette connection: commands [0, id, name, parameters], replies [1, id, error, result].
class Marionette {
 public:
  ~Marionette() {
    if (fd_ >= 0) close(fd_);
  }
  bool connect(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    json hello;
    return receive(hello) && hello.value("marionetteProtocol", 0) == 3;
  }
  // The command's result; fails the test on an error reply.
  json command(const std::string& name, const json& parameters) {
    std::string body = json::array({0, ++id_, name, parameters}).dump();
    std::string message = std::to_string(body.size()) + ":" + body;
    for (size_t sent = 0; sent < message.size();) {
      ssize_t n = send(fd_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        ADD_FAILURE() << "sending " << name;
        return json();
      }
      sent += static_cast<size_t>(n);
    }
    json reply;
    if (!receive(reply) || !reply.is_array() || reply.size() != 4) {
      ADD_FAILURE() << "no reply to " << name;
      return json();
    }
    if (!reply[2].is_null()) ADD_FAILURE() << name << ": " << reply[2].dump();
    return reply[3];
  }

 private:
  bool fill(size_t want) {
    while (buffer_.size() < want) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, kReplyLimitMs) != 1) return false;
      char chunk[65536];
      ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
    return true;
  }
  bool receive(json& out) {
    size_t colon;
    while ((colon = buffer_.find(':')) == std::string::npos)
      if (buffer_.size() > 20 || !fill(buffer_.size() + 1)) return false;
    size_t length = std::stoul(buffer_.substr(0, colon));
    if (!fill(colon + 1 + length)) return false;
    out = json::parse(buffer_.substr(colon + 1, length), nullptr, false);
    buffer_.erase(0, colon + 1 + length);
    return !out.is_discarded();
  }

  int fd_ = -1;
  int id_ = 0;
  std::string buffer_;
};

// The items of a promiseBookmarksTree() result by GUID, without children and position, each
// with the GUID of the folder holding it.
std::map<std::string, json> Items(const json& root) {
  std::map<std::string, json> items;
  std::vector<std::pair<const json*, std::string>> stack{{&root, ""}};
  while (!stack.empty()) {
    auto [node, parent] = stack.back();
    stack.pop_back();
    json item = *node;
    item.erase("children");
    item.erase("index");
    item["parent"] = parent;
    std::string guid = (*node)["guid"];
    items[guid] = item;
    if (node->contains("children"))
      for (const json& c : (*node)["children"]) stack.push_back({&c, guid});
  }
  return items;
}

LinkEntry* FindByUrl(const NodeList& list, const std::string& url) {
  LinkEntry* found = nullptr;
  ForEachLeaf(list, [&](LinkEntry& e) {
    if (e.isLink() && url == e.url.c_str()) found = &e;
  });
  return found;
}

const char kMakeBookmarks[] = R"(
const {PlacesUtils} = ChromeUtils.importESModule("resource://gre/modules/PlacesUtils.sys.mjs");
return (async () => {
  const bm = PlacesUtils.bookmarks;
  const folder = await bm.insert({parentGuid: bm.menuGuid, type: bm.TYPE_FOLDER, title: "Work"});
  await bm.insert({parentGuid: folder.guid, url: "http://127.0.0.1:9/gone", title: "Gone"});
  await bm.insert({parentGuid: folder.guid, url: "http://127.0.0.1:9/old", title: "Moved"});
  await bm.insert({parentGuid: folder.guid, type: bm.TYPE_SEPARATOR});
  await bm.insert({parentGuid: folder.guid, url: "http://127.0.0.1:9/broken", title: "Broken"});
  const inner = await bm.insert({parentGuid: folder.guid, type: bm.TYPE_FOLDER, title: "Inner"});
  await bm.insert({parentGuid: inner.guid, url: "http://127.0.0.1:9/kept", title: "Kept"});
  await bm.insert({parentGuid: bm.toolbarGuid, url: "http://127.0.0.1:9/search?q=x",
                   title: "Search \u00e9"});
  PlacesUtils.tagging.tagURI(Services.io.newURI("http://127.0.0.1:9/broken"), ["red", "blue"]);
  PlacesUtils.tagging.tagURI(Services.io.newURI("http://127.0.0.1:9/kept"), ["green"]);
  await PlacesUtils.keywords.insert({keyword: "srch", url: "http://127.0.0.1:9/search?q=x"});
  await PlacesUtils.keywords.insert({keyword: "old", url: "http://127.0.0.1:9/old"});
  return await PlacesUtils.promiseBookmarksTree();
})();
)";

const char kRestore[] = R"(
const {PlacesUtils} = ChromeUtils.importESModule("resource://gre/modules/PlacesUtils.sys.mjs");
const {BookmarkJSONUtils} =
    ChromeUtils.importESModule("resource://gre/modules/BookmarkJSONUtils.sys.mjs");
return (async () => {
  await BookmarkJSONUtils.importFromFile(arguments[0], {replace: true});
  return await PlacesUtils.promiseBookmarksTree();
})();
)";

TEST(FirefoxBrowserTest, FirefoxRestoresTheBackupAsTheCleanedTree) {
  std::string firefox = FindFirefox();
  if (firefox.empty()) GTEST_SKIP() << "firefox-esr is not installed";

  ScratchDir dir;
  std::string profile = dir / "profile";
  // Firefox writes the port it listens on to MarionetteActivePort when the port is 0.
  dir.write("profile/user.js",
            "user_pref(\"marionette.port\", 0);\n"
            "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
            "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
            "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
            "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
            "user_pref(\"app.update.disabledForTesting\", true);\n");
  dir.write("home/.keep", "");
  std::vector<std::string> environment = {"HOME=" + (dir / "home"), "MOZ_CRASHREPORTER_DISABLE=1",
                                          "PATH=/usr/bin:/bin"};
  std::vector<std::string> arguments = {
      firefox,     "--headless", "--no-remote", "--marionette", "--remote-allow-system-access",
      "--profile", profile};
  std::vector<char*> argv, envp;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, firefox.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      for (int i = 0; i < 600; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  } reaper{pid};

  int port = 0;
  for (auto until = Clock::now() + kStartLimit; port == 0 && Clock::now() < until;) {
    std::ifstream in(profile + "/MarionetteActivePort");
    if (!(in >> port)) {
      port = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ASSERT_GT(port, 0) << "Firefox did not start Marionette";
  Marionette m;
  ASSERT_TRUE(m.connect(port));
  m.command("WebDriver:NewSession", json::object());
  m.command("WebDriver:SetTimeouts", {{"script", kReplyLimitMs}});
  m.command("Marionette:SetContext", {{"value", "chrome"}});
  json before = m.command("WebDriver:ExecuteScript",
                          {{"script", kMakeBookmarks}, {"args", json::array()}})["value"];
  ASSERT_TRUE(before.is_object());

  // The program's part, while Firefox runs on the profile.
  Settings record;
  settings = &record;
  record.flags = FLAG_CLEAN_BOOKMARKS;
  record.bookmarkFile.assign(profile.c_str());
  NodeList tree;
  int32_t links = 0;
  ASSERT_TRUE(ReadBookmarkStore(nullptr, tree, links));
  EXPECT_TRUE(FirefoxState().firefoxRunning);
  LinkEntry* gone = FindByUrl(tree, "http://127.0.0.1:9/gone");
  LinkEntry* moved = FindByUrl(tree, "http://127.0.0.1:9/old");
  LinkEntry* broken = FindByUrl(tree, "http://127.0.0.1:9/broken");
  ASSERT_TRUE(gone && moved && broken);
  gone->checkResult = CHECK_NOT_FOUND;
  gone->action = ACTION_DELETE;
  moved->checkResult = CHECK_MOVED;
  moved->action = ACTION_UPDATE;
  moved->newUrl.assign("http://127.0.0.1:9/new");
  broken->checkResult = CHECK_NOT_FOUND;
  broken->action = ACTION_SHIFT;
  ApplyActions(nullptr, tree);
  FreeTree(tree);
  std::string advice = BookmarkStoreAdvice();
  ReleaseBookmarkStore();
  settings = nullptr;
  size_t at = advice.find("The backup is ");
  ASSERT_NE(at, std::string::npos) << advice;
  std::string backup = advice.substr(at + 14, advice.find(" (if Firefox", at) - at - 14);
  ASSERT_TRUE(std::filesystem::exists(backup)) << backup;

  json after = m.command("WebDriver:ExecuteScript",
                         {{"script", kRestore}, {"args", json::array({backup})}})["value"];
  ASSERT_TRUE(after.is_object());
  m.command("Marionette:Quit", json::object());

  std::map<std::string, json> was = Items(before), now = Items(after);
  std::string goneGuid, movedGuid, brokenGuid;
  for (auto& [guid, item] : was) {
    std::string url = item.value("uri", "");
    if (url.ends_with("/gone")) goneGuid = guid;
    if (url.ends_with("/old")) movedGuid = guid;
    if (url.ends_with("/broken")) brokenGuid = guid;
  }
  EXPECT_EQ(now.count(goneGuid), 0u);
  ASSERT_EQ(now.count(movedGuid), 1u);
  EXPECT_EQ(now[movedGuid]["uri"], "http://127.0.0.1:9/new");
  EXPECT_EQ(now[movedGuid]["keyword"], "old");
  ASSERT_EQ(now.count(brokenGuid), 1u);
  json folder = now[now[brokenGuid]["parent"].get<std::string>()];
  EXPECT_EQ(folder["title"], "Broken Links");
  EXPECT_EQ(folder["parent"], "unfiled_____");
  EXPECT_EQ(now[brokenGuid]["tags"], "blue,red");
  // Every other item as it was: GUID, dates, title, address, tags, keyword, icon, folder.
  for (auto& [guid, item] : was) {
    if (guid == goneGuid || guid == movedGuid || guid == brokenGuid || item.contains("root"))
      continue;
    ASSERT_EQ(now.count(guid), 1u) << item.dump();
    EXPECT_EQ(now[guid], item) << guid;
  }
  EXPECT_EQ(now.size(), was.size() - 1 + 1);  // one link deleted, one "Broken Links" made
}

}  // namespace
