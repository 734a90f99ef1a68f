#include "run/clean_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "check/clean_run_state.h"
#include "tree/link_tree.h"
#include "tree/settings.h"
#include "ui/progress.h"
#include "platform/net.h"
#include "stores/firefox_backup.h"
#include "support/file_text.h"
#include "support/http_test_server.h"
#include "support/places_fixture.h"
#include "ui/headless/headless_ui.h"
#include "support/cat.h"

namespace fs = std::filesystem;

namespace {

// What the main window does for a run: the Clean button and the end-of-run message.
class RunProc : public DialogProc {
 public:
  bool onInit(Window& window) override {
    Controls& c = window.controls();
    c.insertListColumn(IDC_THREAD_LIST, 0, "#", 22);
    c.insertListColumn(IDC_THREAD_LIST, 1, "Status", 100);
    return true;
  }
  void onCommand(Window& window, int id, int code) override {
    if (id == IDC_CLEAN && code == 0) OnCleanButton(&window);
  }
  void onMessage(Window& window, int message, intptr_t wParam, intptr_t lParam) override {
    if (message != WM_RUN_FINISHED) return;
    EXPECT_EQ(wParam, 0);
    EXPECT_EQ(lParam, 0);
    if (clickBeforeFinish) OnCleanButton(&window);
    OnRunFinished();
    std::lock_guard<std::mutex> hold(lock_);
    ++finished_;
    changed_.notify_all();
  }
  bool clickBeforeFinish = false;  // a click that arrives after the run gave the window back

  bool waitFinished(int count = 1) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return finished_ >= count; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int finished_ = 0;
};

std::string Substitute(std::string text, const std::string& port) {
  for (size_t at = text.find("@PORT@"); at != std::string::npos; at = text.find("@PORT@", at))
    text.replace(at, 6, port);
  return text;
}

// Every file below dir, by relative path.
std::map<std::string, std::string> Files(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(dir))
    if (item.is_regular_file())
      files[fs::relative(item.path(), dir).generic_string()] = ReadWhole(item.path());
  return files;
}

// Copies a directory of the test data with the server's port put in, giving every file the
// same old time so that the dates read from the Favorites folder are known.
void CopyWithPort(const fs::path& from, const fs::path& to, const std::string& port) {
  for (const auto& [name, text] : Files(from)) {
    fs::path target = to / name;
    WriteWhole(target, Substitute(text, port));
    fs::last_write_time(target, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  }
}

class CleanRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings = &record_;
    port_ = std::to_string(server_.port());
    dir_ = fs::temp_directory_path() /
           ("qf-cleanrun-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    SetNetResolver(NetResolverFromTable({{"links.test", {"127.0.0.1"}, "", 0}}));
    server_.setReply("/ok", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
    server_.setReply("/fine", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
    server_.setReply("/moved", HttpTestServer::Reply::Status(
                                   "HTTP/1.0 301 Moved Permanently",
                                   "Location: http://127.0.0.1:" + port_ + "/new-home\r\n"));
    server_.setReply("/new-home", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
    server_.setReply("/moved-nowhere",
                     HttpTestServer::Reply::Status("HTTP/1.0 301 Moved Permanently"));
    server_.setReply("/forbidden", HttpTestServer::Reply::Status("HTTP/1.0 403 Forbidden"));
    record_.threadCount = 1;  // one link at a time: the log's order is then fixed
    record_.timeout = 10;
    record_.retries = 0;
  }
  void TearDown() override {
    SetNetResolver(nullptr);
    settings = saved_;
    fs::remove_all(dir_);
  }

  void UseTestStores() {
    CopyWithPort(fs::path(QF_TEST_DATA_DIR) / "cleanrun" / "input", dir_, port_);
    record_.bookmarkFile.assign((dir_ / "bookmarks.htm").c_str());
    record_.favoritesFolder.assign((dir_ / "favorites").c_str());
  }

  // Starts a run with the Clean button and waits for its end.
  void Run() {
    runStart_ = static_cast<TimeValue>(std::time(nullptr));
    ASSERT_TRUE(window_->click(IDC_CLEAN));
    ASSERT_TRUE(proc_.waitFinished(++runs_));
    ui_.flush();
  }

  std::string Log() {
    ui_.flush();
    return window_->text(IDC_LOG);
  }

  // The bookmark file as written, with the dates this run set shown as @NOW@.
  std::string WrittenBookmarks() {
    std::string text = ReadWhole(dir_ / "bookmarks.htm");
    std::regex visit("(LAST_VISIT|ADD_DATE|LAST_MODIFIED)=\"([0-9]+)\"");
    std::string out;
    auto last = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), visit), end; it != end; ++it) {
      out.append(last, (*it)[0].first);
      long long value = std::stoll((*it)[2].str());
      out += value >= runStart_ ? (*it)[1].str() + "=\"@NOW@\"" : it->str();
      last = (*it)[0].second;
    }
    out.append(last, text.cend());
    return out;
  }

  std::string Expected(const std::string& name) {
    return Substitute(ReadWhole(fs::path(QF_TEST_DATA_DIR) / "cleanrun" / "expected" / name),
                      port_);
  }
  std::map<std::string, std::string> ExpectedFiles(const std::string& name) {
    std::map<std::string, std::string> files =
        Files(fs::path(QF_TEST_DATA_DIR) / "cleanrun" / "expected" / name);
    for (auto& [path, text] : files) text = Substitute(text, port_);
    return files;
  }

  void ExpectIdle() {
    ui_.flush();
    EXPECT_EQ(window_->text(IDC_CLEAN), "&Clean!");
    for (int id : {IDC_CLEAN, IDC_SETTINGS, IDC_ABOUT, IDC_QUIT})
      EXPECT_TRUE(window_->enabled(id)) << id;
    EXPECT_EQ(window_->rowCount(IDC_THREAD_LIST), 0);
    EXPECT_EQ(window_->progressPos(IDC_PROGRESS), 0);
    EXPECT_FALSE(CleanRunActive());
    EXPECT_FALSE(abortRequested.load());
  }

  // A bookmark file of its own: one link per (name, path on the test server).
  void UseBookmarks(const std::vector<std::pair<std::string, std::string>>& links) {
    std::string text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n";
    for (const auto& [name, path] : links)
      text += "<DT><A HREF=\"" + server_.url(path) + "\">" + name + "</A>\r\n";
    text += "</DL><p>\r\n";
    WriteWhole(dir_ / "bookmarks.htm", text);
    record_.bookmarkFile.assign((dir_ / "bookmarks.htm").c_str());
    record_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_BROKEN_DELETE;
  }

  Settings record_;
  Settings* saved_ = nullptr;
  HttpTestServer server_;
  std::string port_;
  fs::path dir_;
  TimeValue runStart_ = 0;
  int runs_ = 0;  // runs started by Run()
  HeadlessUi ui_;
  RunProc proc_;
  HeadlessWindow* window_ = ui_.open(IDD_MAIN_WINDOW, proc_);
};

TEST_F(CleanRunTest, WholeRunShiftsUpdatesAndSavesBothStores) {
  UseTestStores();
  record_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES | FLAG_BROKEN_SHIFT |
                  FLAG_MOVED_UPDATE | FLAG_FORBIDDEN_AS_NOT_FOUND;
  Run();
  EXPECT_EQ(Log(), Expected("shift_log.txt"));
  EXPECT_EQ(window_->text(IDC_PROBLEMS), Expected("shift_problems.txt"));
  EXPECT_EQ(WrittenBookmarks(), Expected("shift/bookmarks.htm"));
  std::map<std::string, std::string> favorites = Files(dir_ / "favorites");
  EXPECT_EQ(favorites, ExpectedFiles("shift/favorites"));
  ExpectIdle();
}

TEST_F(CleanRunTest, SynchronisingRunDeletesAndWritesEveryLinkToBothStores) {
  UseTestStores();
  record_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE |
                  FLAG_BROKEN_DELETE | FLAG_MOVED_UPDATE;
  Run();
  std::string log = Log();
  EXPECT_NE(log.find("\r\nComplete!\r\n\r\nSynchronising bookmarks and favorites...\r\n\r\n"
                     "Found 2 broken links (Status 404), 1 moved link (Status 301),\r\nand 1 "
                     "invalid host (4 in total). 44% of your links don't work.\r\n\r\n"
                     "1 link could not be verified: the server refused an automated check (it is "
                     "left as it was).\r\n\r\nCleaning "
                     "up URL list...\r\nSaving Bookmark file...\r\nSaving Favorites...\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(WrittenBookmarks(), Expected("sync/bookmarks.htm"));
  EXPECT_EQ(Files(dir_ / "favorites"), ExpectedFiles("sync/favorites"));
  ExpectIdle();
}

TEST_F(CleanRunTest, CancelInTheResultsDialogWritesNothing) {
  UseTestStores();
  record_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE | FLAG_BROKEN_ASK |
                  FLAG_MOVED_ASK;
  std::map<std::string, std::string> before = Files(dir_);
  int rows = 0;
  ui_.setDialogHandler(103, [&](HeadlessWindow& dialog) {
    rows = dialog.rowCount(1023);
    dialog.click(1030);  // "&Delete All" first: the answer still decides
    dialog.click(ID_CANCEL);
  });
  Run();
  // 403 is no problem without the Forbidden option, nor a 301 without a new address.
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(Files(dir_), before);
  EXPECT_EQ(Log().find("Saving"), std::string::npos);
  ExpectIdle();
}

TEST_F(CleanRunTest, OkInTheResultsDialogSaves) {
  UseBookmarks({{"Gone", "/gone"}, {"Fine", "/ok"}});
  record_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_BROKEN_ASK | FLAG_MOVED_ASK;
  ui_.setDialogHandler(103, [](HeadlessWindow& dialog) {
    dialog.click(1030);  // "&Delete All"
    dialog.click(ID_OK);
  });
  Run();
  std::string written = ReadWhole(dir_ / "bookmarks.htm");
  EXPECT_EQ(written.find("/gone"), std::string::npos);
  EXPECT_NE(written.find("/ok"), std::string::npos);
}

TEST_F(CleanRunTest, NothingToCheckEndsTheRunAtOnce) {
  record_.bookmarkFile.assign((dir_ / "missing.htm").c_str());
  record_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES;
  Run();
  EXPECT_EQ(Log(),
            "Building URL list...\r\nCouldn't open Navigator Bookmark file!\r\nNo URLs to check! "
            "(What's going on?)\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "missing.htm"));
  ExpectIdle();

  record_.flags = 0;  // no store at all
  Run();
  EXPECT_EQ(Log(), "Building URL list...\r\nNo URLs to check! (What's going on?)\r\n");
}

TEST_F(CleanRunTest, RunRestartsBothLogsAndShowsTheCountWithItsSuffix) {
  UseBookmarks({{"One", "/ok"}});
  window_->run([](HeadlessWindow& w) {
    w.setText(IDC_LOG, "old text\r\n");
    w.setText(IDC_PROBLEMS, "old problem\r\n");
  });
  Run();
  EXPECT_EQ(Log().rfind("Building URL list...\r\nReading Navigator Bookmarks...\r\n\r\nChecking "
                        "1 URL...\r\n\r\n",
                        0),
            0u);
  EXPECT_EQ(window_->text(IDC_PROBLEMS), "");
  EXPECT_NE(Log().find("All your links appear to be working!"), std::string::npos);

  std::vector<std::pair<std::string, std::string>> links;
  links.reserve(40);
  for (int i = 0; i < 39; ++i) links.push_back({Cat("L", i), "/ok"});
  UseBookmarks(links);
  Run();
  EXPECT_NE(Log().find("\r\nChecking 39 URLs...\r\n\r\n"), std::string::npos);
  links.push_back({"L39", "/ok"});
  UseBookmarks(links);
  Run();
  EXPECT_NE(Log().find("\r\nChecking 40 URLs... (this may take some time)\r\n\r\n"),
            std::string::npos);
  ExpectIdle();
}

TEST_F(CleanRunTest, OneRowPerWorkerSlotWhileRunning) {
  server_.setReply("/held", HttpTestServer::Reply::Status("HTTP/1.0 200 OK").held("go"));
  UseBookmarks({{"A", "/held"}, {"B", "/held?2"}});
  server_.setReply("/held?2", HttpTestServer::Reply::Status("HTTP/1.0 200 OK").held("go"));
  record_.threadCount = 8;
  ASSERT_TRUE(window_->click(IDC_CLEAN));
  ASSERT_TRUE(server_.waitForRequests(2));
  ui_.flush();
  EXPECT_EQ(window_->rowCount(IDC_THREAD_LIST), 2);  // fewer links than threads
  EXPECT_EQ(window_->cell(IDC_THREAD_LIST, 0, 0), "1");
  EXPECT_EQ(window_->cell(IDC_THREAD_LIST, 1, 0), "2");
  EXPECT_EQ(window_->text(IDC_CLEAN), "&Abort");
  EXPECT_TRUE(window_->enabled(IDC_CLEAN));
  for (int id : {IDC_SETTINGS, IDC_ABOUT, IDC_QUIT}) EXPECT_FALSE(window_->enabled(id));
  EXPECT_EQ(window_->progressRange(IDC_PROGRESS), std::make_pair(0, 2));
  EXPECT_TRUE(CleanRunActive());
  server_.openGate("go");
  ASSERT_TRUE(proc_.waitFinished(++runs_));
  ExpectIdle();
}

// Abort while links are still to be handed out, and after every link has been handed out:
// the workers finish, nothing more is checked, nothing is summarised or saved.
TEST_F(CleanRunTest, AbortWaitsForTheWorkersAndSavesNothing) {
  for (int links : {4, 2}) {
    SCOPED_TRACE(links);
    server_.setReply(
        "/held",
        HttpTestServer::Reply::Status("HTTP/1.0 200 OK").held("go" + std::to_string(links)));
    std::vector<std::pair<std::string, std::string>> list;
    list.reserve(links);
    for (int i = 0; i < links; ++i) list.push_back({Cat("L", i), "/held"});
    UseBookmarks(list);
    record_.threadCount = 2;
    std::string before = ReadWhole(dir_ / "bookmarks.htm");
    size_t requestsBefore = server_.requestCount();

    ASSERT_TRUE(window_->click(IDC_CLEAN));
    ASSERT_TRUE(server_.waitForRequests(requestsBefore + 2));
    EXPECT_TRUE(window_->click(IDC_CLEAN));                      // Abort
    EXPECT_FALSE(window_->click(IDC_CLEAN));                     // already disabled
    window_->run([](HeadlessWindow& w) { OnCleanButton(&w); });  // even if it got through
    EXPECT_TRUE(abortRequested.load());
    server_.openGate("go" + std::to_string(links));
    ASSERT_TRUE(proc_.waitFinished(++runs_));
    std::string log = Log();
    EXPECT_EQ(log.find("Abort pending...\r\n"), log.rfind("Abort pending...\r\n"));
    EXPECT_NE(log.find("Abort pending...\r\n"), std::string::npos);
    ASSERT_GE(log.size(), 12u);
    EXPECT_EQ(log.substr(log.size() - 12), "\r\nAborted!\r\n");
    EXPECT_EQ(log.find("broken lin"), std::string::npos);
    EXPECT_EQ(server_.requestCount(), requestsBefore + 2);
    EXPECT_EQ(ReadWhole(dir_ / "bookmarks.htm"), before);
    EXPECT_FALSE(fs::exists(dir_ / "bookmarks.htm.bak"));
    ExpectIdle();
  }
}

TEST_F(CleanRunTest, ClickAfterTheRunGaveTheWindowBackDoesNothing) {
  UseBookmarks({{"One", "/ok"}});
  proc_.clickBeforeFinish = true;
  Run();
  EXPECT_EQ(Log().find("Abort pending"), std::string::npos);
  ExpectIdle();
  proc_.clickBeforeFinish = false;
  Run();  // and the next click starts a run as usual
  EXPECT_NE(Log().find("Complete!"), std::string::npos);
}

}  // namespace

// Firefox's own bookmarks: the run reads places.sqlite, synchronises it with the Favorites and
// hands the result back as a backup for Firefox to restore; the database is not written.
TEST_F(CleanRunTest, FirefoxProfileGetsABackupToRestoreAndItsDatabaseStaysAsItWas) {
  fs::create_directories(dir_ / "profile");
  {
    PlacesFixture db((dir_ / "profile" / "places.sqlite").string());
    int64_t work = db.folder(PlacesFixture::kMenu, "Work");
    db.bookmark(work, "Fine", server_.url("/ok"));
    db.bookmark(work, "Moved", server_.url("/moved"));
    db.bookmark(PlacesFixture::kToolbar, "Missing", server_.url("/missing"));
    db.keyword(server_.url("/moved"), "mv", "");
  }
  WriteWhole(dir_ / "favorites" / "Fav.url",
             "[InternetShortcut]\r\nURL=" + server_.url("/fine") + "\r\n");
  std::string database = ReadWhole(dir_ / "profile" / "places.sqlite");
  record_.bookmarkFile.assign((dir_ / "profile").c_str());
  record_.favoritesFolder.assign((dir_ / "favorites").c_str());
  record_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE |
                  FLAG_BROKEN_SHIFT | FLAG_MOVED_UPDATE;
  Run();
  std::string log = Log();
  EXPECT_NE(log.find("Reading Firefox bookmarks...\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Import and Backup > Restore"), std::string::npos) << log;
  EXPECT_EQ(ReadWhole(dir_ / "profile" / "places.sqlite"), database);
  EXPECT_FALSE(fs::exists(dir_ / "profile" / "places.sqlite-journal"));

  std::vector<fs::path> backups;
  for (const auto& f : fs::directory_iterator(dir_ / "profile" / "bookmarkbackups"))
    backups.push_back(f.path());
  ASSERT_EQ(backups.size(), 1u);
  std::string text;
  ASSERT_TRUE(DecompressMozLz4(ReadWhole(backups[0]), text));
  nlohmann::json root = nlohmann::json::parse(text);
  nlohmann::json work = root["children"][0]["children"][0];
  EXPECT_EQ(work["title"], "Work");
  ASSERT_EQ(work["children"].size(), 2u);
  nlohmann::json moved = work["children"][1];
  EXPECT_EQ(moved["guid"], PlacesFixture::guidFor(9));
  EXPECT_EQ(moved["uri"], server_.url("/new-home"));
  EXPECT_EQ(moved["keyword"], "mv");
  EXPECT_TRUE(moved["postData"].is_null());
  EXPECT_FALSE(root["children"][1].contains("children"));  // the toolbar lost its only link
  // Other Bookmarks gets what the Favorites brought and the "Broken Links" folder.
  nlohmann::json other = root["children"][2]["children"];
  ASSERT_EQ(other.size(), 2u);
  EXPECT_EQ(other[0]["title"], "Fav");
  EXPECT_FALSE(other[0].contains("guid"));
  EXPECT_EQ(other[1]["title"], "Broken Links");
  EXPECT_EQ(other[1]["children"][0]["guid"], PlacesFixture::guidFor(10));
  // The Favorites got Firefox's links.
  EXPECT_TRUE(fs::exists(dir_ / "favorites" / "Bookmarks Menu" / "Work" / "Moved.url"));
  ExpectIdle();
}
