#include "check/clean_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>

#include "app/settings.h"
#include "check/clean_run_state.h"
#include "check/progress.h"
#include "platform/net.h"
#include "support/http_test_server.h"
#include "ui/headless/headless_ui.h"

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
  void onMessage(Window&, int message, intptr_t wParam, intptr_t lParam) override {
    if (message != WM_RUN_FINISHED) return;
    EXPECT_EQ(wParam, 0);
    EXPECT_EQ(lParam, 0);
    OnRunFinished();
    std::lock_guard<std::mutex> hold(lock_);
    ++finished_;
    changed_.notify_all();
  }
  bool waitFinished(int count = 1) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return finished_ >= count; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int finished_ = 0;
};

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteWhole(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

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
    ASSERT_TRUE(proc_.waitFinished());
    ui_.flush();
  }

  std::string Log() {
    ui_.flush();
    return window_->text(IDC_LOG);
  }

  // The bookmark file as written, with the dates this run set shown as @NOW@.
  std::string WrittenBookmarks() {
    std::string text = ReadWhole(dir_ / "bookmarks.htm");
    std::regex visit("(LAST_VISIT|ADD_DATE)=\"([0-9]+)\"");
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

  Settings record_;
  Settings* saved_ = nullptr;
  HttpTestServer server_;
  std::string port_;
  fs::path dir_;
  TimeValue runStart_ = 0;
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

}  // namespace
