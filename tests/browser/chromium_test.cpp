// The file the program writes, loaded by a real Chromium: started headless on a copy of a
// profile, driven through its remote debugging protocol over loopback, asked for its bookmark
// tree, which must be the one the program saved. Skipped when no chromium is installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "results/apply_actions.h"
#include "results/report_results.h"
#include "stores/bookmark_store.h"
#include "stores/chromium_store.h"
#include "stores/read_stores.h"
#include "support/chromium_files.h"
#include "support/devtools_client.h"
#include "support/headless_fixture.h"
#include "support/scratch_dir.h"
#include "support/tree_find.h"
#include "tree/settings.h"

namespace {

using chromium_files::Json;
using chromium_files::Style;

std::string FindChromium() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/chromium";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// The tree as "id:title[url](children)" text, from the file's nodes or the browser's.
std::string Outline(const Json& node, const char* titleKey) {
  std::string out = node.value("id", "?") + ":" + node.value(titleKey, "");
  if (node.contains("url")) out += "[" + node["url"].get<std::string>() + "]";
  if (node.contains("children")) {
    out += "(";
    bool first = true;
    for (const Json& child : node["children"]) {
      if (!first) out += " ";
      first = false;
      out += Outline(child, titleKey);
    }
    out += ")";
  }
  return out;
}

// A headless browser on a user-data folder, in a process group of its own.
class Browser {
 public:
  Browser(const std::string& binary, const std::string& userData) : userData_(userData) {
    std::vector<std::string> args = {binary,
                                     "--headless=new",
                                     "--remote-debugging-address=127.0.0.1",
                                     "--remote-debugging-port=0",
                                     "--user-data-dir=" + userData,
                                     "--no-first-run",
                                     "--disable-sync",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--lang=en-US",
                                     "--password-store=basic",
                                     "--use-mock-keychain",
                                     "about:blank"};
    if (geteuid() == 0) args.push_back("--no-sandbox");
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Browser() { waitEnded(); }
  // Waits up to 5 s for the browser to end after Browser.close, then ends its whole group.
  void waitEnded() {
    if (pid_ <= 0) return;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // The port and path the browser wrote into DevToolsActivePort, waited for.
  bool endpoint(int& port, std::string& path) {
    std::string file = userData_ + "/DevToolsActivePort";
    for (int i = 0; i < 600; ++i) {
      std::ifstream in(file);
      if (in >> port >> path && port > 0 && !path.empty()) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  std::string userData_;
  pid_t pid_ = -1;
};

TEST(ChromiumTest, TheBrowserLoadsTheTreeTheProgramSaved) {
  std::string chromium = FindChromium();
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";

  ScratchDir dir;
  // Addresses the browser takes as valid; nothing is fetched from them.
  const std::string base = "http://127.0.0.1:9/";
  dir.write("data/Default/Bookmarks", chromium_files::Profile(Style::Chrome, base).dump(3));
  dir.write("Favorites/From favorites.url", "[InternetShortcut]\r\nURL=" + base + "fav\r\n");
  dir.write("Favorites/Bookmarks bar/Into the bar.url",
            "[InternetShortcut]\r\nURL=" + base + "bar\r\n");

  Settings record;
  Settings* saved = settings;
  settings = &record;
  record.flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE;
  record.bookmarkFile.assign((dir / "data/Default/Bookmarks").c_str());
  record.favoritesFolder.assign((dir / "Favorites").c_str());
  HeadlessMainWindow window;
  NodeList tree;
  int32_t links = 0;
  ReadStores(window.window, tree, links);
  ASSERT_EQ(links, 6);
  // What a run decides: a deletion, an update, a shift into "Broken Links".
  LinkEntry* gone = FindByName(tree, "Gone");
  gone->checkResult = CHECK_NOT_FOUND;
  gone->action = ACTION_DELETE;
  LinkEntry* moved = FindByName(tree, "Moved");
  moved->checkResult = CHECK_MOVED;
  moved->action = ACTION_UPDATE;
  moved->newUrl.assign((base + "new").c_str());
  LinkEntry* shifted = FindByName(tree, "Other link");
  shifted->checkResult = CHECK_NOT_FOUND;
  shifted->action = ACTION_SHIFT;
  Synchronise(tree, tree, SOURCE_BOOKMARKS);
  Synchronise(tree, tree, SOURCE_FAVORITES);
  ApplyActions(window.window, tree);
  FreeTree(tree);
  ReleaseBookmarkStore();
  settings = saved;
  EXPECT_EQ(window.log().find("failed"), std::string::npos) << window.log();

  std::string written = dir.read("data/Default/Bookmarks");
  Json file = Json::parse(written);
  std::string expected;
  for (const char* root : {"bookmark_bar", "other", "synced"}) {
    // The browser does not list an empty "Mobile bookmarks".
    if (std::string(root) == "synced" && file["roots"][root]["children"].empty()) continue;
    expected += Outline(file["roots"][root], "name") + "\n";
  }
  // The run's changes are there, in the program's own reading of the file.
  EXPECT_EQ(expected.find(base + "gone"), std::string::npos);
  EXPECT_NE(expected.find("9:Moved[" + base + "new]"), std::string::npos);
  EXPECT_NE(expected.find(":Into the bar[" + base + "bar]"), std::string::npos);
  EXPECT_NE(expected.find(":From favorites[" + base + "fav]"), std::string::npos);
  EXPECT_NE(
      expected.find("11:Broken Links(12:Old[" + base + "old] 10:Other link[" + base + "other])"),
      std::string::npos)
      << expected;

  Browser browser(chromium, dir / "data");
  int port = 0;
  std::string path;
  ASSERT_TRUE(browser.endpoint(port, path)) << "the browser did not start";
  DevToolsClient client;
  ASSERT_TRUE(client.connect(port, path, 10000)) << client.error();
  Json target = client.call("Target.createTarget", {{"url", "chrome://bookmarks/"}});
  ASSERT_TRUE(target.contains("result")) << target.dump();
  Json attached = client.call("Target.attachToTarget",
                              {{"targetId", target["result"]["targetId"]}, {"flatten", true}});
  ASSERT_TRUE(attached.contains("result")) << attached.dump();
  std::string session = attached["result"]["sessionId"];
  Json tree0;
  for (int attempt = 0; attempt < 100 && tree0.is_null(); ++attempt) {
    Json reply = client.call("Runtime.evaluate",
                             {{"expression", "chrome.bookmarks.getTree()"},
                              {"awaitPromise", true},
                              {"returnByValue", true}},
                             session);
    if (reply.contains("result") && !reply["result"].contains("exceptionDetails"))
      tree0 = reply["result"]["result"]["value"];
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(tree0.is_array() && tree0.size() == 1) << tree0.dump();
  std::string actual;
  for (const Json& root : tree0[0]["children"]) actual += Outline(root, "title") + "\n";
  EXPECT_EQ(actual, expected);

  // A bookmark the browser adds makes it write the file itself: its checksum is the one the
  // program computes, and the program reads the file back.
  Json added =
      client.call("Runtime.evaluate",
                  {{"expression", "chrome.bookmarks.create({parentId: '2', title: 'Added', url: '" +
                                      base + "added'}).then(n => n.id)"},
                   {"awaitPromise", true},
                   {"returnByValue", true}},
                  session);
  EXPECT_TRUE(added.contains("result")) << added.dump();
  client.call("Browser.close");
  browser.waitEnded();
  std::string rewritten = dir.read("data/Default/Bookmarks");
  ASSERT_NE(rewritten.find("\"Added\""), std::string::npos);
  EXPECT_EQ(Json::parse(rewritten)["checksum"], ChromiumChecksumOf(rewritten));
  NodeList again;
  int32_t count = 0;
  std::string error;
  EXPECT_TRUE(ReadChromiumText(rewritten.data(), rewritten.size(), again, count, error)) << error;
  EXPECT_EQ(count, links - 2 + 1);  // one deleted, one shifted into "Broken Links", one added
  FreeTree(again);
}

}  // namespace
