// The program itself on real widgets: start-up, the Settings dialog, clean runs against the
// loopback test server started and stopped by clicking, and the results dialog.
#include "app/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/listctrl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tree/settings.h"
#include "app/settings_dialog.h"
#include "app/settings_storage.h"
#include "run/clean_run.h"
#include "ui/progress.h"
#include "gui/wx_test_support.h"
#include "results/results_dialog.h"
#include "support/http_test_server.h"

namespace fs = std::filesystem;

namespace {

constexpr char kMainCaption[] = "Quillfen 1.1";
constexpr char kSettingsCaption[] = "Quillfen Settings";
constexpr char kResultsCaption[] = "Quillfen Results";

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Each test has its own folder for the stores and its own registry (the per-user registry
// file lives below XDG_CONFIG_HOME).
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qf-gui-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "config");
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Stores settings as a confirmed Settings dialog would, so the program starts without it.
  void StoreSettings(uint32_t flags, uint32_t threads) {
    Settings record;
    record.flags = flags;
    record.bookmarkFile.assign((dir_ / "bookmarks.htm").c_str());
    record.favoritesFolder.assign((dir_ / "favorites").c_str());
    record.threadCount = threads;
    record.timeout = 10;
    record.retries = 0;
    Settings* previous = settings;
    settings = &record;
    SaveSettings();
    settings = previous;
  }

  void WriteBookmarks(const std::vector<std::pair<std::string, std::string>>& links) {
    std::string text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n";
    for (const auto& [name, path] : links) {
      text += "<DT><A HREF=\"" + server_.url(path) + "\">" + name + "</A>\r\n";
    }
    text += "</DL><p>\r\n";
    std::ofstream(dir_ / "bookmarks.htm", std::ios::binary) << text;
  }

  // Runs the program with the script driving it; the script must end it.
  void RunProgram(Script& script) {
    script.start();
    WxUi ui;
    EXPECT_EQ(RunQuillfen(ui), 0);
    EXPECT_TRUE(script.finished()) << "stopped while waiting for: " << script.waitingFor();
  }

  static bool Idle(Window* main) {
    return main && main->controls().getText(IDC_CLEAN) == "&Clean!" &&
           main->controls().isEnabled(IDC_QUIT);
  }

  fs::path dir_;
  HttpTestServer server_;
  Window* main_ = nullptr;
};

TEST_F(MainWindowTest, FirstStartAsksForTheSettingsAndSavesAllNineValues) {
  Script script;
  Window* dialog = nullptr;
  script
      .then(
          "the Settings dialog before the main window",
          [&] { return (dialog = ShowingWindow(kSettingsCaption)) != nullptr; },
          [&] {
            EXPECT_EQ(ActiveWxWindow(), dialog);
            Controls& c = dialog->controls();
            // Nothing is checked at first start, so every field that follows a box is off.
            for (int id : {IDC_FAVORITES_FOLDER, IDC_BOOKMARK_FILE, IDC_PROXY_HOST,
                           IDC_PROXY_PORT, IDC_OLDER_DAYS})
              EXPECT_FALSE(c.isEnabled(id)) << id;
            for (int box :
                 {IDC_CLEAN_BOOKMARKS, IDC_CLEAN_FAVORITES, IDC_SYNCHRONISE, IDC_SORT_BOOKMARKS,
                  IDC_ONLY_OLDER, IDC_FORBIDDEN_AS_NOT_FOUND, IDC_USE_PROXY}) {
              if (!c.isChecked(box)) ClickButton(*dialog, box);
            }
            ClickButton(*dialog, IDC_BROKEN_SHIFT);
            ClickButton(*dialog, IDC_MOVED_UPDATE);
            c.setText(IDC_BOOKMARK_FILE, (dir_ / "bookmarks.htm").c_str());
            c.setText(IDC_FAVORITES_FOLDER, (dir_ / "favorites").c_str());
            c.setText(IDC_PROXY_HOST, "proxy.tarnwell.example");
            c.setText(IDC_PROXY_PORT, "3128");
            c.setText(IDC_OLDER_DAYS, "14");
            c.setText(IDC_TIMEOUT, "45");
            c.setText(IDC_RETRIES, "2");
            // Typed for real: the number field takes digits only.
            c.setText(IDC_THREADS, "");
            ClickButton(*dialog, IDC_THREADS);
            wxUIActionSimulator sim;
            sim.Text("1x2");
            Settle();
            EXPECT_EQ(c.getText(IDC_THREADS), "12");
            ClickButton(*dialog, ID_OK);
          })
      .then(
          "the main window with its welcome text",
          [&] {
            main_ = ShowingWindow(kMainCaption);
            return main_ && !main_->controls().getText(IDC_LOG).empty();
          },
          [&] {
            Controls& c = main_->controls();
            EXPECT_EQ(c.getText(IDC_LOG), WELCOME_TEXT);
            EXPECT_EQ(c.getText(IDC_THREAD_COUNT), "0");
            EXPECT_EQ(c.getText(IDC_CLEAN), "&Clean!");
            EXPECT_EQ(c.getListRowCount(IDC_THREAD_LIST), 0);
            // Escape does not end the main window.
            WxControlOf(*main_, IDC_LOG)->SetFocus();
            Settle();
            EXPECT_EQ(wxWindow::FindFocus(), WxControlOf(*main_, IDC_LOG));
            wxUIActionSimulator sim;
            sim.Char(WXK_ESCAPE);
            Settle();
            EXPECT_EQ(ActiveWxWindow(), main_);
            ClickButton(*main_, IDC_QUIT);
          });
  RunProgram(script);

  Settings loaded;
  Settings* previous = settings;
  settings = &loaded;
  EXPECT_TRUE(LoadSettings());
  settings = previous;
  const uint32_t flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE |
                         FLAG_SORT_BOOKMARKS | FLAG_ONLY_OLDER | FLAG_FORBIDDEN_AS_NOT_FOUND |
                         FLAG_USE_PROXY | FLAG_BROKEN_SHIFT | FLAG_MOVED_UPDATE;
  EXPECT_EQ(loaded.flags, flags);
  EXPECT_STREQ(loaded.bookmarkFile.c_str(), (dir_ / "bookmarks.htm").c_str());
  EXPECT_STREQ(loaded.favoritesFolder.c_str(), (dir_ / "favorites").c_str());
  EXPECT_STREQ(loaded.proxyHost, "proxy.tarnwell.example");
  EXPECT_EQ(loaded.proxyPort, 3128u);
  EXPECT_EQ(loaded.olderThanDays, 14u);
  EXPECT_EQ(loaded.threadCount, 12u);
  EXPECT_EQ(loaded.timeout, 45u);
  EXPECT_EQ(loaded.retries, 2u);
}

TEST_F(MainWindowTest, CleanRunEndsWithTheResultsDialogWhoseOkSaves) {
  server_.setReply("/ok", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
  server_.setReply("/new-home", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
  server_.setReply("/moved",
                   HttpTestServer::Reply::Status("HTTP/1.0 301 Moved Permanently",
                                                 "Location: " + server_.url("/new-home") + "\r\n"));
  WriteBookmarks({{"Gone page", "/gone"}, {"Fine page", "/ok"}, {"Moved page", "/moved"}});
  StoreSettings(FLAG_CLEAN_BOOKMARKS | FLAG_BROKEN_ASK | FLAG_MOVED_ASK, 4);
  Window* results = nullptr;
  Script script;
  script
      .then(
          "the main window", [&] { return (main_ = ShowingWindow(kMainCaption)) != nullptr; },
          [&] { ClickButton(*main_, IDC_CLEAN); })
      .then(
          "the results dialog",
          [&] { return (results = ShowingWindow(kResultsCaption)) != nullptr; },
          [&] {
            Controls& c = results->controls();
            ASSERT_EQ(c.getListRowCount(IDC_RESULTS_LIST), 2);
            // Rows by name: "Gone page", then "Moved page". One click on the Action cell,
            // which also moves the focus into the list, steps the action once.
            auto* list = dynamic_cast<wxListCtrl*>(WxControlOf(*results, IDC_RESULTS_LIST));
            ASSERT_NE(list, nullptr);
            wxRect cell;
            ASSERT_TRUE(list->GetSubItemRect(0, RESULT_COLUMN_ACTION, cell));
            const std::string before = c.getListCell(IDC_RESULTS_LIST, 0, RESULT_COLUMN_ACTION);
            EXPECT_EQ(before, "Leave");
            ClickAt(list->ClientToScreen(cell.GetPosition() + wxPoint(4, cell.height / 2)));
            EXPECT_TRUE(WaitFor([&] {
              return c.getListCell(IDC_RESULTS_LIST, 0, RESULT_COLUMN_ACTION) != before;
            }));
            Settle();
            EXPECT_EQ(c.getListCell(IDC_RESULTS_LIST, 0, RESULT_COLUMN_ACTION), "Delete");
            ClickButton(*results, IDC_UPDATE_ALL);
            EXPECT_EQ(c.getListCell(IDC_RESULTS_LIST, 1, RESULT_COLUMN_ACTION), "Update");
            ClickButton(*results, ID_OK);
          })
      .then(
          "the end of the run", [&] { return Idle(ShowingWindow(kMainCaption)); },
          [&] {
            Controls& c = main_->controls();
            EXPECT_NE(c.getText(IDC_LOG).find("Saving Bookmark file...\r\n"), std::string::npos)
                << c.getText(IDC_LOG);
            EXPECT_NE(c.getText(IDC_PROBLEMS).find("/gone"), std::string::npos)
                << c.getText(IDC_PROBLEMS);
            ClickButton(*main_, IDC_QUIT);
          });
  RunProgram(script);
  const std::string written = ReadWhole(dir_ / "bookmarks.htm");
  EXPECT_EQ(written.find("/gone"), std::string::npos) << written;
  EXPECT_NE(written.find(server_.url("/new-home")), std::string::npos) << written;
  EXPECT_NE(written.find(server_.url("/ok")), std::string::npos) << written;
}

TEST_F(MainWindowTest, AbortStopsTheRunWithoutSaving) {
  for (int i = 0; i < 5; ++i) {
    server_.setReply("/held" + std::to_string(i),
                     HttpTestServer::Reply::Status("HTTP/1.0 404 Not Found").held("go"));
  }
  WriteBookmarks(
      {{"A", "/held0"}, {"B", "/held1"}, {"C", "/held2"}, {"D", "/held3"}, {"E", "/held4"}});
  const std::string before = ReadWhole(dir_ / "bookmarks.htm");
  StoreSettings(FLAG_CLEAN_BOOKMARKS | FLAG_BROKEN_DELETE, 1);
  Script script;
  script
      .then(
          "the main window", [&] { return (main_ = ShowingWindow(kMainCaption)) != nullptr; },
          [&] { ClickButton(*main_, IDC_CLEAN); })
      .then(
          "the first link being checked", [&] { return server_.requestCount() >= 1; },
          [&] {
            Controls& c = main_->controls();
            EXPECT_TRUE(WaitFor([&] { return c.getText(IDC_CLEAN) == "&Abort"; }));
            for (int id : {IDC_SETTINGS, IDC_ABOUT, IDC_QUIT}) EXPECT_FALSE(c.isEnabled(id));
            ClickButton(*main_, IDC_CLEAN);
            EXPECT_TRUE(WaitFor(
                [&] { return c.getText(IDC_LOG).find("Abort pending") != std::string::npos; }));
            server_.openGate("go");
          })
      .then(
          "the end of the run", [&] { return Idle(ShowingWindow(kMainCaption)); },
          [&] {
            const std::string log = main_->controls().getText(IDC_LOG);
            EXPECT_NE(log.find("\r\nAborted!\r\n"), std::string::npos) << log;
            EXPECT_EQ(log.find("Saving"), std::string::npos) << log;
            ClickButton(*main_, IDC_QUIT);
          });
  RunProgram(script);
  EXPECT_LT(server_.requestCount(), 5u);
  EXPECT_EQ(ReadWhole(dir_ / "bookmarks.htm"), before);
}

TEST_F(MainWindowTest, ClosingTheMainWindowDuringARunEndsTheProgramAfterTheRun) {
  for (int i = 0; i < 3; ++i) {
    server_.setReply("/held" + std::to_string(i),
                     HttpTestServer::Reply::Status("HTTP/1.0 404 Not Found").held("go"));
  }
  WriteBookmarks({{"A", "/held0"}, {"B", "/held1"}, {"C", "/held2"}});
  const std::string before = ReadWhole(dir_ / "bookmarks.htm");
  StoreSettings(FLAG_CLEAN_BOOKMARKS | FLAG_BROKEN_DELETE, 1);
  Script script;
  script
      .then(
          "the main window", [&] { return (main_ = ShowingWindow(kMainCaption)) != nullptr; },
          [&] { ClickButton(*main_, IDC_CLEAN); })
      .then(
          "the first link being checked", [&] { return server_.requestCount() >= 1; },
          [&] {
            // As the close box does: the window stays until the run has given it back.
            WxWindowOf(*main_)->Close();
            Settle();
            EXPECT_EQ(ActiveWxWindow(), main_);
            server_.openGate("go");
          });
  RunProgram(script);
  EXPECT_FALSE(CleanRunActive());
  EXPECT_EQ(ReadWhole(dir_ / "bookmarks.htm"), before);
}

}  // namespace

QF_GUI_TEST_MAIN()
