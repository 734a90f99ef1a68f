#include "app/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/about_dialog.h"
#include "tree/settings.h"
#include "app/settings_dialog.h"
#include "app/settings_storage.h"
#include "platform/files.h"
#include "run/clean_run.h"
#include "ui/progress.h"
#include "platform/registry_sandbox.h"
#include "results/results_dialog.h"
#include "support/http_test_server.h"
#include "ui/dialog_template.h"
#include "ui/headless/headless_ui.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qf-main-window-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    bookmarkFile_ = dir_ + "/bookmarks.html";
  }
  void TearDown() override {
    if (program_.joinable()) {
      HeadlessWindow* main = ui_->waitForDialog(IDD_MAIN_WINDOW, 1000);
      if (main) main->close();
      server_.openGate("reply");
      program_.join();
    }
    ui_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Stores settings under the program's key, as an earlier start would have.
  void StoreSettings(uint32_t flags) {
    Settings record;
    Settings* previous = settings;
    settings = &record;
    record.flags = flags;
    record.bookmarkFile.assignPath(bookmarkFile_.c_str());
    record.timeout = 60;
    record.retries = 0;
    SaveSettings();
    settings = previous;
  }
  void WriteBookmarks(const std::vector<std::string>& paths) {
    std::string text =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n"
        "<DL><p>\n";
    for (const std::string& path : paths)
      text += "    <DT><A HREF=\"" + server_.url(path) + "\">Link " + path.substr(1) + "</A>\n";
    text += "</DL><p>\n";
    RegistrySandbox::WriteFile(bookmarkFile_, text);
  }
  std::string Bookmarks() { return RegistrySandbox::ReadFile(bookmarkFile_); }

  // Runs the program on a thread of its own, as the entry point would.
  HeadlessWindow* Start() {
    program_ = std::thread([this] { exitCode_ = RunQuillfen(*ui_); });
    return ui_->waitForDialog(IDD_MAIN_WINDOW);
  }
  int Finish() {
    program_.join();
    return exitCode_.load();
  }
  bool RunActive() {
    bool active = false;
    ui_->run([&] { active = CleanRunActive(); });
    return active;
  }
  // Waits until the run has ended and the window has taken it back.
  bool WaitForRunEnd() {
    for (int i = 0; i < 2000; ++i) {
      ui_->settle();
      if (!RunActive()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  int WindowCount(int templateId) {
    int count = 0;
    for (HeadlessWindow* w : ui_->windows())
      if (w->templateId() == templateId) ++count;
    return count;
  }

  RegistrySandbox box_;
  HttpTestServer server_;
  std::string dir_;
  std::string bookmarkFile_;
  std::unique_ptr<HeadlessUi> ui_ = std::make_unique<HeadlessUi>();
  std::thread program_;
  std::atomic<int> exitCode_{-1};
};

TEST_F(MainWindowTest, StartsWithWelcomeTextCounterAndThreadColumns) {
  StoreSettings(FLAG_BROKEN_ASK | FLAG_MOVED_ASK);
  HeadlessWindow* main = Start();
  ASSERT_NE(main, nullptr);
  ui_->settle();

  EXPECT_EQ(main->text(0), "Quillfen 1.1");
  EXPECT_EQ(main->text(IDC_LOG), "Welcome to Quillfen!\r\n\r\n");
  EXPECT_EQ(main->text(IDC_PROBLEMS), "");
  EXPECT_EQ(main->text(IDC_THREAD_COUNT), "0");
  EXPECT_EQ(main->textLimit(IDC_LOG), 32000);
  EXPECT_EQ(main->textLimit(IDC_PROBLEMS), 32000);
  // The headless controls measure 6 pixels per byte.
  std::vector<std::pair<std::string, int>> expected = {
      {"#", 6 + 16}, {"Status", 18 * 6}, {"Name", 140}, {"URL", 500}};
  EXPECT_EQ(main->columns(IDC_THREAD_LIST), expected);
  EXPECT_EQ(WindowCount(101), 0);  // settings were stored: no Settings dialog

  // The stored settings are the process's record while the window is open.
  std::string file;
  ui_->run([&] { file = settings ? settings->bookmarkFile.c_str() : "(none)"; });
  EXPECT_EQ(file, bookmarkFile_);

  EXPECT_TRUE(main->click(IDC_QUIT));
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(main->result(), 0);
  EXPECT_EQ(settings, nullptr);
}

TEST_F(MainWindowTest, ActsOnButtonClicksOnly) {
  StoreSettings(FLAG_BROKEN_ASK | FLAG_MOVED_ASK);
  int aboutShown = 0;
  ui_->setDialogHandler(IDD_ABOUT, [&](HeadlessWindow& about) {
    ++aboutShown;
    about.click(ID_OK);
  });
  HeadlessWindow* main = Start();
  ASSERT_NE(main, nullptr);

  for (int id : {IDC_CLEAN, IDC_SETTINGS, IDC_ABOUT, IDC_QUIT}) main->command(id, 1);
  main->command(ID_CANCEL, 0);  // Escape: the main window has no control 2
  main->message(WM_APP + 7, 0, 0);
  ui_->settle();
  EXPECT_FALSE(main->ended());
  EXPECT_EQ(aboutShown, 0);
  EXPECT_FALSE(RunActive());

  EXPECT_TRUE(main->click(IDC_ABOUT));
  EXPECT_EQ(aboutShown, 1);
  EXPECT_FALSE(main->ended());

  main->close();
  EXPECT_EQ(Finish(), 0);
  EXPECT_TRUE(main->ended());
}

TEST_F(MainWindowTest, CleanRunShowsResultsAndCancelWritesNothing) {
  server_.setReply("/gone", HttpTestServer::Reply::Status("HTTP/1.0 404 Not Found"));
  server_.setReply("/fine", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
  WriteBookmarks({"/gone", "/fine"});
  std::string before = Bookmarks();
  StoreSettings(FLAG_CLEAN_BOOKMARKS | FLAG_BROKEN_ASK | FLAG_MOVED_ASK);

  std::vector<std::vector<std::string>> rows;
  int answer = ID_CANCEL;
  ui_->setDialogHandler(IDD_RESULTS, [&](HeadlessWindow& results) {
    rows = results.rows(IDC_RESULTS_LIST);
    results.click(IDC_DELETE_ALL);
    results.click(answer);
  });
  HeadlessWindow* main = Start();
  ASSERT_NE(main, nullptr);

  EXPECT_TRUE(main->click(IDC_CLEAN));
  ASSERT_TRUE(WaitForRunEnd());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][RESULT_COLUMN_NAME], "Link gone");
  EXPECT_EQ(rows[0][RESULT_COLUMN_PROBLEM], "Not found");
  EXPECT_EQ(Bookmarks(), before);
  EXPECT_EQ(main->text(IDC_CLEAN), "&Clean!");
  EXPECT_TRUE(main->enabled(IDC_QUIT));

  // The same run confirmed with OK deletes the broken link from the file.
  answer = ID_OK;
  rows.clear();
  EXPECT_TRUE(main->click(IDC_CLEAN));
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_EQ(Bookmarks().find("/gone"), std::string::npos);
  EXPECT_NE(Bookmarks().find("/fine"), std::string::npos);

  main->close();
  EXPECT_EQ(Finish(), 0);
}

TEST_F(MainWindowTest, ClosingDuringARunWaitsForTheRunAndSavesNothing) {
  server_.setReply("/held", HttpTestServer::Reply::Status("HTTP/1.0 404 Not Found").held("reply"));
  WriteBookmarks({"/held"});
  std::string before = Bookmarks();
  StoreSettings(FLAG_CLEAN_BOOKMARKS | FLAG_BROKEN_DELETE);  // would delete without asking
  HeadlessWindow* main = Start();
  ASSERT_NE(main, nullptr);

  EXPECT_TRUE(main->click(IDC_CLEAN));
  ASSERT_TRUE(server_.waitForRequests(1));
  ui_->settle();
  EXPECT_FALSE(main->enabled(IDC_QUIT));
  EXPECT_FALSE(main->enabled(IDC_SETTINGS));

  // The close box during the run: the window stays until the run has given it back.
  main->close();
  main->close();                // a second close changes nothing
  main->command(IDC_CLEAN, 0);  // nor does a click that would start a new run later
  ui_->settle();
  EXPECT_FALSE(main->ended());
  EXPECT_TRUE(RunActive());

  server_.openGate("reply");
  EXPECT_EQ(Finish(), 0);
  EXPECT_TRUE(main->ended());
  EXPECT_NE(main->text(IDC_LOG).find("Aborted!"), std::string::npos);
  EXPECT_EQ(Bookmarks(), before);
  EXPECT_EQ(settings, nullptr);
}

TEST_F(MainWindowTest, QuitDuringARunIsTakenAsClose) {
  server_.setReply("/held", HttpTestServer::Reply::Status("HTTP/1.0 404 Not Found").held("reply"));
  WriteBookmarks({"/held"});
  StoreSettings(FLAG_CLEAN_BOOKMARKS | FLAG_BROKEN_ASK);
  HeadlessWindow* main = Start();
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(main->click(IDC_CLEAN));
  ASSERT_TRUE(server_.waitForRequests(1));

  // Sent before the run has disabled the button: still no window ends under a run.
  main->command(IDC_QUIT, 0);
  EXPECT_FALSE(main->ended());
  server_.openGate("reply");
  EXPECT_EQ(Finish(), 0);
  EXPECT_TRUE(main->ended());
  EXPECT_EQ(WindowCount(IDD_RESULTS), 0);  // an aborted run asks nothing
}

TEST_F(MainWindowTest, FirstStartAsksForTheSettingsBeforeTheWindowIsReady) {
  // Nothing stored: the Settings dialog comes during the main window's initialisation, before
  // the counter and the welcome text are in place.
  std::vector<std::string> seen;
  ui_->setDialogHandler(IDD_SETTINGS, [&](HeadlessWindow& dialog) {
    HeadlessWindow* main = nullptr;
    for (HeadlessWindow* w : ui_->windows())
      if (w->templateId() == IDD_MAIN_WINDOW) main = w;
    seen.push_back(main ? main->text(IDC_THREAD_COUNT) + "|" + main->text(IDC_LOG) : "none");
    dialog.click(ID_CANCEL);
  });
  HeadlessWindow* main = Start();
  ASSERT_NE(main, nullptr);
  ui_->settle();
  EXPECT_EQ(seen, (std::vector<std::string>{"|"}));
  // Cancelled: the window still opens, with the defaults.
  EXPECT_EQ(main->text(IDC_LOG), WELCOME_TEXT);
  EXPECT_EQ(main->text(IDC_THREAD_COUNT), "0");
  uint32_t flags = 0;
  ui_->run([&] { flags = settings->flags; });
  EXPECT_EQ(flags, FLAG_BROKEN_ASK | FLAG_MOVED_ASK);
  main->close();
  EXPECT_EQ(Finish(), 0);

  // A cancelled dialog stored nothing, so the next start asks again; confirmed, it is stored
  // and the start after that does not ask.
  ui_->setDialogHandler(IDD_SETTINGS, [&](HeadlessWindow& dialog) {
    seen.push_back("again");
    dialog.click(ID_OK);
  });
  main = Start();
  ASSERT_NE(main, nullptr);
  main->close();
  EXPECT_EQ(Finish(), 0);
  main = Start();
  ASSERT_NE(main, nullptr);
  main->close();
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(seen, (std::vector<std::string>{"|", "again"}));
}

TEST_F(MainWindowTest, SettingsButtonOpensTheSettingsDialog) {
  StoreSettings(FLAG_BROKEN_ASK | FLAG_MOVED_ASK);
  int shown = 0;
  ui_->setDialogHandler(IDD_SETTINGS, [&](HeadlessWindow& dialog) {
    ++shown;
    dialog.click(ID_CANCEL);
  });
  HeadlessWindow* main = Start();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(shown, 0);
  EXPECT_TRUE(main->click(IDC_SETTINGS));
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(main->ended());
  main->close();
  EXPECT_EQ(Finish(), 0);
}

// A save of the settings that fails is told in the log, with where they are kept; the store
// keeps the values it had.
TEST_F(MainWindowTest, ASettingsSaveThatFailsIsToldInTheLog) {
  StoreSettings(FLAG_BROKEN_ASK | FLAG_MOVED_ASK);
  const std::string before = RegistrySandbox::ReadFile(box_.userFile());
  ui_->setDialogHandler(IDD_SETTINGS, [&](HeadlessWindow& dialog) {
    dialog.setText(IDC_THREADS, "9");
    dialog.click(ID_OK);
  });
  HeadlessWindow* main = Start();
  ASSERT_NE(main, nullptr);
  ui_->settle();
  FailFileStep(FileStep::Rename, 1, EROFS);
  EXPECT_TRUE(main->click(IDC_SETTINGS));
  ClearFileStepFailures();
  ui_->settle();
  EXPECT_EQ(main->text(IDC_LOG),
            std::string(WELCOME_TEXT) + "The settings were not saved: " + box_.userFile() + "\r\n");
  EXPECT_EQ(RegistrySandbox::ReadFile(box_.userFile()), before);
  main->close();
  EXPECT_EQ(Finish(), 0);
}

}  // namespace
