#include "app/cli_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli_options.h"
#include "platform/files.h"
#include "platform/net.h"
#include "support/cli_program.h"
#include "support/chromium_files.h"
#include "support/file_text.h"
#include "support/http_test_server.h"
#include "support/places_fixture.h"
#include "support/test_authority.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string Substitute(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Output of a command: everything written to a stream, read back.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() {
    if (file_) std::fclose(file_);
  }
  FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string all;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) all.append(buffer, n);
    return all;
  }

 private:
  FILE* file_;
};

class CliRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qf-cli-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "config");
    // The per-user settings live under this folder while the test runs.
    const char* old = std::getenv("XDG_CONFIG_HOME");
    savedConfig_ = old ? old : "";
    hadConfig_ = old != nullptr;
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    port_ = std::to_string(server_.port());
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
  }
  void TearDown() override {
    SetNetResolver(nullptr);
    if (hadConfig_)
      ::setenv("XDG_CONFIG_HOME", savedConfig_.c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir_);
  }

  // The bookmark file and Favorites folder of the clean-run test data, with this server.
  void UseTestStores() {
    fs::path input = fs::path(QF_TEST_DATA_DIR) / "cleanrun" / "input";
    for (const auto& [name, text] : FilesUnder(input)) {
      WriteWhole(dir_ / name, Substitute(text, "@PORT@", port_));
      fs::last_write_time(dir_ / name,
                          fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    }
  }
  std::vector<std::string> StoreArgs() {
    return {"--bookmarks", (dir_ / "bookmarks.htm").string(),
            "--favorites", (dir_ / "favorites").string(),
            "--threads",   "1",
            "--timeout",   "10",
            "--retries",   "0"};
  }
  std::string Expected(const std::string& name) {
    return Substitute(ReadWhole(fs::path(QF_TEST_DATA_DIR) / "cleanrun" / "expected" / name),
                      "@PORT@", port_);
  }
  static std::string Unix(const std::string& text) { return Substitute(text, "\r\n", "\n"); }

  int Run(const std::vector<std::string>& args) {
    Capture out, err;
    int status = RunCli(args, out.file(), err.file());
    out_ = out.text();
    err_ = err.text();
    return status;
  }

  HttpTestServer server_;
  std::string port_;
  fs::path dir_;
  std::string savedConfig_;
  bool hadConfig_ = false;
  std::string out_, err_;
};

TEST_F(CliRunTest, WholeRunPrintsTheLogThenTheProblemsAndSaves) {
  UseTestStores();
  std::vector<std::string> args = StoreArgs();
  for (const char* more : {"--broken", "shift", "--moved", "update", "--forbidden"})
    args.push_back(more);
  EXPECT_EQ(Run(args), CLI_EXIT_PROBLEMS);
  EXPECT_EQ(out_, Unix(Expected("shift_log.txt") + Expected("shift_problems.txt")));
  EXPECT_EQ(err_, "");
  EXPECT_EQ(FilesUnder(dir_ / "favorites").size(), 4u);
  EXPECT_TRUE(fs::exists(dir_ / "favorites" / "Broken Links" / "Gone too.url"));
  // Nothing of the run's options is stored.
  EXPECT_TRUE(FilesUnder(dir_ / "config").empty());
}

TEST_F(CliRunTest, WhereTheProgramWouldAskTheRowsArePrintedAndCancelSavesNothing) {
  UseTestStores();
  std::map<std::string, std::string> before = FilesUnder(dir_);
  std::vector<std::string> args = StoreArgs();
  for (const char* more : {"--broken", "ask", "--moved", "ask", "--forbidden"})
    args.push_back(more);
  EXPECT_EQ(Run(args), CLI_EXIT_PROBLEMS);
  std::string host = "http://127.0.0.1:" + port_;
  std::string rows = "Forbidden page\tFav\tForbidden\tLeave\t" + host + "/forbidden\t\n" +
                     "Gone page\tBook\tNot found\tLeave\t" + host + "/gone\t\n" +
                     "Gone too\tFav\tNot found\tLeave\t" + host + "/gone-too\t\n" +
                     "Moved page\tBook\tMoved\tLeave\thttp://links.test:" + port_ + "/moved\t" +
                     host + "/new-home\n" +
                     "Nowhere\tBook\tInvalid host\tLeave\thttp://no-such-host.test/\t\n";
  std::string summary = "don't work.\n\n";
  size_t at = out_.find(summary);
  ASSERT_NE(at, std::string::npos) << out_;
  EXPECT_EQ(out_.substr(at + summary.size(), rows.size()), rows);
  EXPECT_EQ(out_.find("Saving"), std::string::npos);
  EXPECT_EQ(FilesUnder(dir_), before);

  args.push_back("--yes");
  EXPECT_EQ(Run(args), CLI_EXIT_PROBLEMS);
  EXPECT_NE(out_.find(rows + "Cleaning up URL list...\nSaving Bookmark file...\nSaving "
                             "Favorites...\n"),
            std::string::npos)
      << out_;
}

// A mixed run, every link's outcome in the report as the actions were taken.
TEST_F(CliRunTest, ReportHasOneRowPerCheckedLinkWithTheActionTaken) {
  UseTestStores();
  std::vector<std::string> args = StoreArgs();
  for (const char* more : {"--broken", "shift", "--moved", "update", "--report"})
    args.push_back(more);
  args.push_back((dir_ / "r.csv").string());
  EXPECT_EQ(Run(args), CLI_EXIT_PROBLEMS);
  std::string host = "http://127.0.0.1:" + port_;
  std::string csv = ReadWhole(dir_ / "r.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n') + 1),
            "store,folder,name,address,status,verdict,new_address,action\n");
  for (const std::string& row : std::vector<std::string>{
           "Bookmarks,,Working page," + host + "/ok,200,OK,,none\n",
        "Bookmarks,Tools,Moved page,http://links.test:" + port_ + "/moved,301,Moved," + host +
            "/new-home,updated\n",
        "Bookmarks,Tools,Moved without a new home," + host +
            "/moved-nowhere,,Redirect not followed,,none\n",
        "Bookmarks,,Nowhere,http://no-such-host.test/,,Invalid host,,shifted to Broken Links\n",
        "Favorites,,Forbidden page," + host + "/forbidden,403,Blocked,,none\n"})
    EXPECT_NE(csv.find(row), std::string::npos) << row << csv;
  size_t rows = 0;
  for (char c : csv) rows += c == '\n';

  // The same rows as JSON, and on the standard output after the log.
  UseTestStores();
  args.back() = (dir_ / "r.json").string();
  EXPECT_EQ(Run(args), CLI_EXIT_PROBLEMS);
  nlohmann::json json = nlohmann::json::parse(ReadWhole(dir_ / "r.json"));
  ASSERT_TRUE(json.is_array());
  EXPECT_EQ(json.size(), rows - 1);
  EXPECT_EQ(json[0]["name"], "Working page");
  EXPECT_EQ(json[0]["status"], 200);
  UseTestStores();
  args.back() = "-";
  EXPECT_EQ(Run(args), CLI_EXIT_PROBLEMS);
  size_t heading = out_.find("\nstore,folder,name,address,status,verdict,new_address,action\n");
  ASSERT_NE(heading, std::string::npos);
  EXPECT_LT(out_.find("Complete!"), heading);
}

// Every name fails to resolve: from five links on, that is no network, not dead links.
TEST_F(CliRunTest, WithoutAnyAnswerNothingIsChangedOrSaved) {
  SetNetResolver(NetResolverFromTable({}));
  for (int links : {4, 5}) {
    std::string text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n";
    for (int i = 0; i < links; ++i)
      text += "<DT><A HREF=\"http://site" + std::to_string(i) + ".test/\">S</A>\r\n";
    text += "</DL><p>\r\n";
    WriteWhole(dir_ / "b.htm", text);
    fs::remove(dir_ / "b.htm.bak");
    int status = Run({"--bookmarks", (dir_ / "b.htm").string(), "--broken", "delete", "--report",
                      (dir_ / "r.csv").string()});
    std::string csv = ReadWhole(dir_ / "r.csv");
    if (links == 4) {
      EXPECT_EQ(status, CLI_EXIT_PROBLEMS);
      EXPECT_NE(ReadWhole(dir_ / "b.htm"), text);  // the invalid hosts were deleted
      EXPECT_NE(csv.find(",Invalid host,,deleted\n"), std::string::npos) << csv;
      continue;
    }
    EXPECT_EQ(status, CLI_EXIT_ABORTED);
    EXPECT_EQ(ReadWhole(dir_ / "b.htm"), text);
    EXPECT_FALSE(fs::exists(dir_ / "b.htm.bak"));
    std::string ending =
        "No server answered any of the 5 links checked: the network seems unreachable, so "
        "nothing was changed.\n";
    ASSERT_GE(out_.size(), ending.size()) << out_;
    EXPECT_EQ(out_.substr(out_.size() - ending.size()), ending);
    EXPECT_EQ(out_.find("Saving"), std::string::npos);
    EXPECT_NE(err_.find("the network seems unreachable"), std::string::npos);
    EXPECT_EQ(csv.find("Invalid host"), std::string::npos);
    EXPECT_NE(csv.find(",No answer,,none\n"), std::string::npos) << csv;
  }
}

TEST_F(CliRunTest, ExitStatusAndWhyNothingWasChecked) {
  WriteWhole(dir_ / "ok.htm", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n<DT><A HREF=\"" +
                                  server_.url("/ok") + "\">Fine</A>\r\n</DL><p>\r\n");
  WriteWhole(dir_ / "empty.htm", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n</DL><p>\r\n");
  fs::create_directories(dir_ / "fav");
  const std::string ok = (dir_ / "ok.htm").string();
  const std::string fav = (dir_ / "fav").string();
  const std::string missing = (dir_ / "missing.htm").string();
  const std::string nowhere = (dir_ / "nowhere").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string outPart;  // found in the output
    std::string err;      // the whole of standard error
  };
  const Case cases[] = {
      {{"--bookmarks", ok, "--favorites", fav},
       CLI_EXIT_CLEAN,
       "All your links appear to be working!\n\n",
       ""},
      {{"--bookmarks", missing, "--favorites", fav},
       CLI_EXIT_NOTHING,
       "Building URL list...\nCouldn't open Navigator Bookmark file!\nNo URLs to check! "
       "(What's going on?)\n",
       "quillfen-cli: cannot read the bookmark file '" + missing + "'\n"},
      // The Favorites folder is missing: the bookmarks are still checked, but the status says
      // that a store could not be read.
      {{"--bookmarks", ok, "--favorites", nowhere},
       CLI_EXIT_NOTHING,
       "Checking 1 URL...",
       "quillfen-cli: cannot read the Favorites folder '" + nowhere + "'\n"},
      {{"--bookmarks", (dir_ / "empty.htm").string(), "--no-favorites"},
       CLI_EXIT_NOTHING,
       "No URLs to check!",
       "quillfen-cli: nothing to check: the stores hold no links\n"},
      {{"--no-bookmarks", "--no-favorites"},
       CLI_EXIT_NOTHING,
       "",
       "quillfen-cli: nothing to check: both the bookmark file and the Favorites folder are "
       "left out\n"},
      {{"--threads", "many"},
       CLI_EXIT_NOTHING,
       "",
       "quillfen-cli: --threads needs a whole number, not 'many' (see --help)\n"},
      {{"--version"}, CLI_EXIT_CLEAN, "quillfen-cli 1.1\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    EXPECT_EQ(Run(c.args), c.status);
    EXPECT_NE(out_.find(c.outPart), std::string::npos) << out_;
    EXPECT_EQ(err_, c.err);
  }
}

// Whatever comes from outside (a server's status line, a link's name, an option's value)
// reaches the terminal without a byte it would act on.
TEST_F(CliRunTest, BytesATerminalActsOnAreWrittenVisibly) {
  server_.setReply(
      "/evil", HttpTestServer::Reply::Status("HTTP/1.0 404 \x1b]0;title\x07Gone\x1b[2J\x7f\x01"));
  WriteWhole(dir_ / "b.htm", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n<DT><A HREF=\"" +
                                 server_.url("/evil") +
                                 "\">Name\x1b[1A\x08over</A>\r\n"
                                 "</DL><p>\r\n");
  EXPECT_EQ(Run({"--bookmarks", (dir_ / "b.htm").string(), "--no-favorites", "--broken", "ask"}),
            CLI_EXIT_PROBLEMS);
  EXPECT_NE(out_.find("404 \\x1b]0;title\\x07Gone\\x1b[2J\\x7f\\x01"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Name\\x1b[1A\\x08over\tBook\tNot found"), std::string::npos) << out_;
  EXPECT_EQ(Run({"--threads", "\x1b[2J\r"}), CLI_EXIT_NOTHING);
  EXPECT_EQ(err_,
            "quillfen-cli: --threads needs a whole number, not '\\x1b[2J\\x0d' (see --help)\n");
  for (const std::string* text : {&out_, &err_})
    for (unsigned char byte : *text)
      EXPECT_TRUE(byte >= 0x20 ? byte != 0x7F : byte == '\t' || byte == '\n') << int{byte};
}

// A browser's Bookmarks file found by --list-stores, cleaned and synchronised with a Favorites
// folder, but not while the browser runs.
TEST_F(CliRunTest, BrowsersBookmarksFileIsListedCleanedAndSynchronised) {
  using chromium_files::Json;
  fs::path profile = dir_ / "config" / "chromium" / "Default";
  fs::create_directories(profile);
  fs::path file = profile / "Bookmarks";
  std::string text =
      chromium_files::Profile(chromium_files::Style::Chrome, server_.url("/")).dump(3);
  WriteWhole(file, text);
  WriteWhole(dir_ / "fav" / "Fine.url",
             "[InternetShortcut]\r\nURL=" + server_.url("/fine") + "\r\n");

  EXPECT_EQ(Run({"--list-stores"}), CLI_EXIT_CLEAN);
  EXPECT_EQ(out_.substr(0, out_.find(" UTC\n") == std::string::npos ? 0 : out_.rfind('\t')),
            "Chromium\tDefault\t" + file.string() + "\t4");

  std::vector<std::string> args = {
      "--bookmarks", file.string(), "--favorites", (dir_ / "fav").string(),
      "--sync",      "--broken",    "delete",      "--moved",
      "update",      "--yes",       "--threads",   "2",
      "--timeout",   "10",          "--retries",   "0"};
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  fs::create_symlink(std::string(host) + "-" + std::to_string(::getpid()),
                     profile.parent_path() / "SingletonLock");
  EXPECT_NE(Run(args), CLI_EXIT_CLEAN);
  EXPECT_NE(out_.find("Close Chromium first: its bookmarks were checked but not changed.\n"),
            std::string::npos)
      << out_;
  EXPECT_EQ(ReadWhole(file), text);

  fs::remove(profile.parent_path() / "SingletonLock");
  Run(args);
  Json out = Json::parse(ReadWhole(file));
  std::string written = out.dump();
  EXPECT_EQ(written.find("/gone"), std::string::npos);
  EXPECT_NE(written.find("/new-home"), std::string::npos);
  EXPECT_EQ(out["roots"]["other"]["children"].back()["url"], server_.url("/fine"));
  // The other way, the bookmarks reached the Favorites folder, in the folders they are in.
  EXPECT_TRUE(fs::exists(dir_ / "fav" / "Bookmarks bar" / "Empty"));
  EXPECT_NE(ReadWhole(dir_ / "fav" / "Other bookmarks" / "Broken Links" / "Old.url")
                .find(server_.url("/old")),
            std::string::npos);
  EXPECT_EQ(ReadWhole(fs::path(file.string() + ".bak")), text);
}

// A Firefox profile folder is a bookmark store the run reads; the output ends with how to
// apply the backup it wrote.
TEST_F(CliRunTest, FirefoxProfileRunEndsWithHowToRestoreTheBackup) {
  fs::path profile = dir_ / "profile";
  fs::create_directories(profile);
  {
    PlacesFixture db((profile / "places.sqlite").string());
    db.bookmark(PlacesFixture::kMenu, "Fine", server_.url("/ok"));
    db.bookmark(PlacesFixture::kToolbar, "Gone", server_.url("/gone"));
  }
  EXPECT_EQ(Run({"--bookmarks", profile.string(), "--no-favorites", "--broken", "delete", "--yes",
                 "--threads", "1", "--timeout", "10", "--retries", "0"}),
            CLI_EXIT_PROBLEMS)
      << err_;
  EXPECT_EQ(err_, "");
  std::vector<fs::path> backups;
  for (const auto& f : fs::directory_iterator(profile / "bookmarkbackups"))
    backups.push_back(f.path());
  ASSERT_EQ(backups.size(), 1u);
  std::string last = out_.substr(out_.rfind("\n\n") + 2);
  EXPECT_EQ(last.find("Firefox's bookmarks were checked. To apply the changes, open Firefox > "
                      "Bookmarks > Manage Bookmarks > Import and Backup > Restore"),
            0u)
      << out_;
  EXPECT_NE(last.find("The backup is " + backups[0].string()), std::string::npos) << out_;
}

TEST_F(CliRunTest, InterruptAtAnyMomentEndsAsAborted) {
  // Whether an interruption prevents the run or reaches it, the command ends as aborted.
  server_.setReply("/held", HttpTestServer::Reply::Status("HTTP/1.0 200 OK").held("never"));
  WriteWhole(dir_ / "b.htm", "<DT><A HREF=\"" + server_.url("/held") + "\">H</A>\r\n");
  std::thread interrupter([this] {
    for (int i = 0; i < 200; ++i) {
      InterruptCli();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    server_.openGate("never");  // a run that did start can now end
  });
  int status = Run({"--bookmarks", (dir_ / "b.htm").string()});
  interrupter.join();
  EXPECT_EQ(status, CLI_EXIT_ABORTED);
}

TEST(FormatResultRowsTest, RowsByNameIgnoringCaseWithTabsAndBreaksAsSpaces) {
  NodeList tree;
  auto add = [](NodeList& list, const char* name, const char* url, int32_t source, int32_t result) {
    auto* e = new LinkEntry(name, url, 0);
    e->source = source;
    e->checkResult.store(result);
    list.addTail(e);
    return e;
  };
  add(tree, "beta", "http://b/", SOURCE_BOOKMARKS, CHECK_NOT_FOUND)->action = ACTION_DELETE;
  LinkEntry* folder = add(tree, "Folder", nullptr, SOURCE_BOOKMARKS, CHECK_NONE);
  LinkEntry* moved =
      add(folder->children, "Alpha\tone", "http://a/", SOURCE_FAVORITES, CHECK_MOVED);
  moved->newUrl.assign("http://new/");
  moved->action = ACTION_UPDATE;
  add(tree, "Beta", "http://B/", 3, CHECK_INVALID_HOST)->action = ACTION_SHIFT;
  add(tree, "fine", "http://f/", SOURCE_BOOKMARKS, 200);
  add(tree, "gamma\r\n", "http://g/", SOURCE_BOOKMARKS, CHECK_FORBIDDEN);
  EXPECT_EQ(FormatResultRows(tree),
            "Alpha one\tFav\tMoved\tUpdate\thttp://a/\thttp://new/\n"
            "beta\tBook\tNot found\tDelete\thttp://b/\t\n"
            "Beta\tBoth\tInvalid host\tShift\thttp://B/\t\n"
            "gamma  \tBook\tForbidden\tLeave\thttp://g/\t\n");
  FreeTree(tree);
}

// A save that fails, in whole or in part, is logged with the store and the reason, ends with
// status 4, and leaves the store as it was. The failures come from the file layer's test
// seam, as a full disk, a failing disk or a read-only mount would give them.
TEST_F(CliRunTest, AFailedSaveIsLoggedEndsWithStatusFourAndKeepsTheStore) {
  const std::string book = (dir_ / "b.htm").string();
  const std::string bookText = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n<DT><A HREF=\"" +
                               server_.url("/ok") + "\">Fine</A>\r\n<DT><A HREF=\"" +
                               server_.url("/gone") + "\">Gone</A>\r\n</DL><p>\r\n";
  const std::string fav = (dir_ / "fav").string();
  const std::string shortcut = fav + "/Moved.url";
  const std::string shortcutText = "[InternetShortcut]\r\nURL=" + server_.url("/moved") + "\r\n";
  const std::vector<std::string> bookArgs = {
      "--bookmarks", book, "--no-favorites", "--broken", "delete", "--retries", "0"};
  const std::vector<std::string> favArgs = {"--no-bookmarks", "--favorites", fav, "--moved",
                                            "update",         "--retries",   "0"};
  const std::string chromium = (dir_ / "chromium" / "Bookmarks").string();
  const std::string chromiumText =
      chromium_files::Profile(chromium_files::Style::Chrome, server_.url("/")).dump(3);
  const std::vector<std::string> chromiumArgs = {"--bookmarks", chromium,    "--no-favorites",
                                                 "--broken",    "delete",    "--moved",
                                                 "update",      "--retries", "0"};
  struct Case {
    const char* what;
    std::vector<std::string> args;
    FileStep step;
    int nth;
    int error;  // 0: the file is made read-only instead
    std::string log;
  };
  const std::string bookLine = "Save failed!\nThe bookmark file was not saved: " + book + " (";
  const Case cases[] = {
      {"full disk", bookArgs, FileStep::Write, 1, ENOSPC, bookLine + "No space left on device)\n"},
      {"flush", bookArgs, FileStep::Flush, 1, EIO, bookLine + "Input/output error)\n"},
      {"backup", bookArgs, FileStep::Rename, 1, EROFS, bookLine + "Read-only file system)\n"},
      {"rename", bookArgs, FileStep::Rename, 2, EXDEV, bookLine + "Invalid cross-device link)\n"},
      {"read-only file", bookArgs, FileStep::Write, 0, 0, bookLine + "Permission denied)\n"},
      {"browser's file", chromiumArgs, FileStep::Flush, 1, EIO,
       "Save failed!\nThe bookmark file was not saved: " + chromium + " (Input/output error)\n"},
      {"Favorites", favArgs, FileStep::Write, 1, ENOSPC,
       "Not saved: " + shortcut +
           " (it could not be written: No space left on device)\nThe Favorites were saved "
           "incompletely!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteWhole(book, bookText);
    WriteWhole(shortcut, shortcutText);
    WriteWhole(chromium, chromiumText);
    fs::remove(book + ".bak");
    fs::remove(chromium + ".bak");
    std::map<std::string, std::string> before = FilesUnder(dir_);
    if (c.error)
      FailFileStep(c.step, c.nth, c.error);
    else
      fs::permissions(book, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    int status = Run(c.args);
    ClearFileStepFailures();
    fs::permissions(book, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(status, CLI_EXIT_SAVE_FAILED);
    EXPECT_NE(out_.find(c.log), std::string::npos) << out_;
    EXPECT_EQ(err_, "quillfen-cli: a save failed or was incomplete (see the log)\n");
    std::map<std::string, std::string> after = FilesUnder(dir_);
    // A backup is made before the rename over the file: it holds the file as it is.
    for (const char* backup : {"b.htm.bak", "chromium/Bookmarks.bak"}) {
      if (!after.count(backup)) continue;
      std::string name = backup;
      EXPECT_EQ(after[backup], before[name.substr(0, name.size() - 4)]);
      after.erase(backup);
    }
    EXPECT_EQ(after, before);
  }
}

// A store that cannot be read (a read failing part-way, a pipe, a device, a file past the
// size bound) is neither checked nor saved, and the status says so. A pipe or device must be
// refused without waiting: the test's time limit catches a hang.
TEST_F(CliRunTest, AStoreThatCannotBeReadIsNeitherCheckedNorSaved) {
  std::string text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n";
  for (int i = 0; i < 3000; ++i)
    text += "<DT><A HREF=\"" + server_.url("/gone") + "?" + std::to_string(i) + "\">Gone " +
            std::to_string(i) + "</A>\r\n";
  text += "</DL><p>\r\n";
  const std::string book = (dir_ / "b.htm").string();
  WriteWhole(book, text);
  const std::string fav = (dir_ / "fav").string();
  WriteWhole(dir_ / "fav" / "Gone.url",
             "[InternetShortcut]\r\nURL=" + server_.url("/gone") + "\r\n");
  const std::string fifo = (dir_ / "pipe.htm").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = (dir_ / "huge.htm").string();
  { std::ofstream(huge, std::ios::binary) << "<!DOCTYPE NETSCAPE-Bookmark-file-1>"; }
  fs::resize_file(huge, (uintmax_t{1} << 30) + 1);  // sparse: nothing is written
  const std::string readFailed =
      "a store could not be read (see the log): nothing was checked or saved";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int failRead;  // the read that fails with EIO, 0 for none
    std::string log;
    std::string err;
  };
  const Case cases[] = {
      // The two looks at the file's first bytes, then the first large block: the fourth read
      // is in the middle of the file.
      {"read error",
       {"--bookmarks", book, "--no-favorites"},
       4,
       "Couldn't read the bookmark file: Input/output error. Nothing is checked or saved.\n",
       readFailed},
      // The folder's listing, then the shortcut in it.
      {"listing read error",
       {"--no-bookmarks", "--favorites", fav},
       1,
       "Couldn't read the Favorites: " + fav +
           " (Input/output error). Nothing is checked or saved.\n",
       readFailed},
      {"shortcut read error",
       {"--no-bookmarks", "--favorites", fav},
       2,
       "Couldn't read the Favorites: " + fav +
           "/Gone.url (Input/output error). Nothing is checked or saved.\n",
       readFailed},
      {"pipe",
       {"--bookmarks", fifo, "--no-favorites"},
       0,
       "The bookmark file is not a regular file: it is not read.\n",
       "cannot read the bookmark file '" + fifo + "'"},
      {"device",
       {"--bookmarks", "/dev/zero", "--no-favorites"},
       0,
       "The bookmark file is not a regular file: it is not read.\n",
       "cannot read the bookmark file '/dev/zero'"},
      {"past the bound",
       {"--bookmarks", huge, "--no-favorites"},
       0,
       "The bookmark file is larger than 1 GiB: it is not read.\n",
       readFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = c.args;
    for (const char* more : {"--broken", "delete", "--retries", "0"}) args.push_back(more);
    std::map<std::string, std::string> before = FilesUnder(dir_ / "fav");
    if (c.failRead) FailFileStep(FileStep::Read, c.failRead, EIO);
    int status = Run(args);
    ClearFileStepFailures();
    EXPECT_EQ(status, CLI_EXIT_NOTHING);
    EXPECT_NE(out_.find(c.log), std::string::npos) << out_;
    EXPECT_EQ(out_.find("Checking"), std::string::npos) << out_;
    EXPECT_EQ(err_, "quillfen-cli: " + c.err + "\n");
    EXPECT_EQ(ReadWhole(book), text);
    EXPECT_FALSE(fs::exists(book + ".bak"));
    EXPECT_EQ(FilesUnder(dir_ / "fav"), before);
    EXPECT_EQ(server_.requestCount(), 0u);
  }
}

// A bookmark file that is a symbolic link is saved where the link leads: the link stays, the
// file it leads to has the new content, and the backup is a file of its own beside it.
TEST_F(CliRunTest, ABookmarkFileBehindASymbolicLinkIsSavedWhereItLies) {
  const std::string old = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n<DT><A HREF=\"" +
                          server_.url("/ok") + "\">Fine</A>\r\n<DT><A HREF=\"" +
                          server_.url("/gone") + "\">Gone</A>\r\n</DL><p>\r\n";
  WriteWhole(dir_ / "dotfiles" / "b.htm", old);
  fs::create_symlink("dotfiles/b.htm", dir_ / "b.htm");
  EXPECT_EQ(Run({"--bookmarks", (dir_ / "b.htm").string(), "--no-favorites", "--broken", "delete",
                 "--retries", "0"}),
            CLI_EXIT_PROBLEMS);
  EXPECT_TRUE(fs::is_symlink(dir_ / "b.htm"));
  EXPECT_EQ(fs::read_symlink(dir_ / "b.htm"), "dotfiles/b.htm");
  std::string saved = ReadWhole(dir_ / "dotfiles" / "b.htm");
  EXPECT_EQ(saved.find("/gone"), std::string::npos);
  EXPECT_NE(saved.find("/ok"), std::string::npos);
  EXPECT_FALSE(fs::is_symlink(dir_ / "dotfiles" / "b.htm.bak"));
  EXPECT_EQ(ReadWhole(dir_ / "dotfiles" / "b.htm.bak"), old);
  EXPECT_FALSE(fs::exists(dir_ / "b.htm.bak"));
}

// The second Ctrl+C, arriving while the stores are being saved, waits for the save to end
// and says so. It is sent here at the save's first write, through the file layer's observer.
struct SecondInterrupt {
  static inline int pipe[2] = {-1, -1};
  static inline std::thread* stopper = nullptr;
  static inline std::unique_lock<std::mutex> holder;

  static void AtStep(FileStep step) {
    if (step != FileStep::Write || stopper) return;
    stopper = new std::thread([] {
      FILE* err = ::fdopen(pipe[1], "w");
      StopAfterAnySave(err, holder);
      std::fclose(err);
    });
    // The save goes on only once the interruption has found it under way.
    char first[128] = {};
    ssize_t n = ::read(pipe[0], first, sizeof first - 1);
    EXPECT_STREQ(first, "quillfen-cli: saving; waiting for the save to end before stopping\n") << n;
  }
};

TEST_F(CliRunTest, ASecondInterruptWhileSavingWaitsForTheSaveToEnd) {
  WriteWhole(dir_ / "b.htm", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n<DT><A HREF=\"" +
                                 server_.url("/ok") + "\">Fine</A>\r\n<DT><A HREF=\"" +
                                 server_.url("/gone") + "\">Gone</A>\r\n</DL><p>\r\n");
  ASSERT_EQ(::pipe(SecondInterrupt::pipe), 0);
  SetFileStepObserver(&SecondInterrupt::AtStep);
  int status = Run({"--bookmarks", (dir_ / "b.htm").string(), "--no-favorites", "--broken",
                    "delete", "--retries", "0"});
  SetFileStepObserver(nullptr);
  ASSERT_NE(SecondInterrupt::stopper, nullptr);
  SecondInterrupt::stopper->join();
  delete SecondInterrupt::stopper;
  SecondInterrupt::stopper = nullptr;
  EXPECT_TRUE(SecondInterrupt::holder.owns_lock());
  SecondInterrupt::holder = std::unique_lock<std::mutex>();
  std::string rest;
  char buffer[256];
  for (ssize_t n; (n = ::read(SecondInterrupt::pipe[0], buffer, sizeof buffer)) > 0;)
    rest.append(buffer, static_cast<size_t>(n));
  ::close(SecondInterrupt::pipe[0]);
  EXPECT_EQ(rest, "quillfen-cli: the save has ended; stopped\n");
  EXPECT_EQ(status, CLI_EXIT_PROBLEMS);  // the save itself was not disturbed
  std::string saved = ReadWhole(dir_ / "b.htm");
  EXPECT_EQ(saved.find("/gone"), std::string::npos);
  EXPECT_NE(saved.find("/ok"), std::string::npos);
}

// The built program itself, next to the tests folder.
class CliProgramTest : public CliRunTest {
 protected:
  void SetUp() override {
    CliRunTest::SetUp();
    program_ = CliProgramPath();
    if (program_.empty()) GTEST_SKIP() << "quillfen-cli is not built next to the tests";
  }

  // Starts the program with its output going to files; the child's pid.
  pid_t Start(const std::vector<std::string>& args) {
    pid_t pid = StartProgram(program_, args, dir_ / "out.txt", dir_ / "err.txt");
    EXPECT_GE(pid, 0);
    return pid;
  }
  int Wait(pid_t pid) { return WaitProgram(pid); }
  int RunProgram(const std::vector<std::string>& args) {
    int status = Wait(Start(args));
    out_ = ReadWhole(dir_ / "out.txt");
    err_ = ReadWhole(dir_ / "err.txt");
    return status;
  }
  // A bookmark file whose links wait at the server until the gate opens.
  void UseHeldLinks(int count, const std::string& gate) {
    server_.setReply("/held", HttpTestServer::Reply::Status("HTTP/1.0 404 Not Found").held(gate));
    std::string text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n";
    for (int i = 0; i < count; ++i)
      text += "<DT><A HREF=\"" + server_.url("/held") + "\">L" + std::to_string(i) + "</A>\r\n";
    WriteWhole(dir_ / "held.htm", text + "</DL><p>\r\n");
  }

  fs::path program_;
};

TEST_F(CliProgramTest, HelpVersionAndWrongOptions) {
  EXPECT_EQ(RunProgram({"--help"}), 0);
  EXPECT_EQ(out_, CliUsage());
  EXPECT_EQ(RunProgram({"--version"}), 0);
  EXPECT_EQ(out_, "quillfen-cli 1.1\n");
  EXPECT_EQ(RunProgram({"--broken", "maybe"}), 2);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_, "quillfen-cli: --broken needs ask, delete, shift or leave (see --help)\n");
  EXPECT_EQ(RunProgram({"--bookmarks", (dir_ / "none.htm").string()}), 2);
  EXPECT_NE(out_.find("Couldn't open Navigator Bookmark file!\n"), std::string::npos);
}

TEST_F(CliProgramTest, RunAgainstTheLoopbackServer) {
  WriteWhole(dir_ / "b.htm", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n<DT><A HREF=\"" +
                                 server_.url("/ok") + "\">Fine</A>\r\n<DT><A HREF=\"" +
                                 server_.url("/gone") + "\">Gone</A>\r\n</DL><p>\r\n");
  EXPECT_EQ(RunProgram({"--bookmarks", (dir_ / "b.htm").string(), "--broken", "delete"}), 1);
  EXPECT_NE(out_.find("Found 1 broken link (Status 404), 0 moved links (Status 301),\nand 0 "
                      "invalid hosts (1 in total). 50% of your links don't work.\n\nCleaning up "
                      "URL list...\nSaving Bookmark file...\n"),
            std::string::npos)
      << out_;
  std::string tail = "Saving Bookmark file...\nNot found: " + server_.url("/gone") + "\n";
  ASSERT_GE(out_.size(), tail.size());
  EXPECT_EQ(out_.substr(out_.size() - tail.size()), tail);
  std::string saved = ReadWhole(dir_ / "b.htm");
  EXPECT_EQ(saved.find("/gone"), std::string::npos);
  EXPECT_NE(saved.find("/ok"), std::string::npos);
}

TEST_F(CliProgramTest, MixedPlainAndSecureLinks) {
  TestAuthority& authority = TestAuthority::Shared();  // the program inherits the trust
  HttpTestServer secure;
  secure.setTls(authority.issue({"127.0.0.1"}));
  secure.setReply("/ok", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
  secure.setReply("/new", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
  HttpTestServer expired;
  expired.setTls(authority.issue({"127.0.0.1"}, CertificateKind::Expired));
  server_.setReply("/upgrade",
                   HttpTestServer::Reply::Status("HTTP/1.1 301 Moved Permanently",
                                                 "Location: " + secure.url("/new") + "\r\n"));
  std::string links[][2] = {
      {server_.url("/ok"), "Plain"},      {secure.url("/ok"), "Secure"},
      {secure.url("/gone"), "Gone"},      {expired.url("/old"), "Stale"},
      {server_.url("/upgrade"), "Moved"},
  };
  std::string text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<DL><p>\r\n";
  for (auto& link : links) text += "<DT><A HREF=\"" + link[0] + "\">" + link[1] + "</A>\r\n";
  WriteWhole(dir_ / "b.htm", text + "</DL><p>\r\n");

  EXPECT_EQ(RunProgram({"--bookmarks", (dir_ / "b.htm").string(), "--broken", "delete", "--moved",
                        "update"}),
            1);
  EXPECT_NE(out_.find("Checking 5 URLs..."), std::string::npos) << out_;
  EXPECT_NE(out_.find(": Certificate problem - certificate has expired\n"), std::string::npos);
  EXPECT_NE(out_.find("Found 1 broken link (Status 404), 1 moved link (Status 301),\nand 0 "
                      "invalid hosts (2 in total). 40% of your links don't work.\n\nFound 1 "
                      "link with a certificate problem"),
            std::string::npos)
      << out_;
  for (const std::string& line :
       {"Not found: " + secure.url("/gone") + "\n", "Certificate: " + expired.url("/old") + "\n",
        "Moved: " + server_.url("/upgrade") + "\n"})
    EXPECT_NE(out_.find(line), std::string::npos) << line;
  std::string saved = ReadWhole(dir_ / "b.htm");
  EXPECT_EQ(saved.find("/gone"), std::string::npos);
  EXPECT_EQ(saved.find("/upgrade"), std::string::npos);
  for (const std::string& kept : {secure.url("/ok"), secure.url("/new"), expired.url("/old")})
    EXPECT_NE(saved.find(kept), std::string::npos) << kept;
}

TEST_F(CliProgramTest, CtrlCAbortsAfterTheWorkersAndSavesNothing) {
  UseHeldLinks(4, "first");
  std::string before = ReadWhole(dir_ / "held.htm");
  pid_t pid =
      Start({"--bookmarks", (dir_ / "held.htm").string(), "--threads", "2", "--broken", "delete"});
  ASSERT_TRUE(server_.waitForRequests(2));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  // The abort is noticed only once a worker ends; give the request time to reach the run.
  for (int i = 0; i < 500 && ReadWhole(dir_ / "out.txt").find("Abort pending") == std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  server_.openGate("first");
  EXPECT_EQ(Wait(pid), CLI_EXIT_ABORTED);
  std::string out = ReadWhole(dir_ / "out.txt");
  EXPECT_NE(out.find("Abort pending...\n"), std::string::npos);
  // The problems log follows the log: the two links that were checked.
  std::string problem = "Not found: " + server_.url("/held") + "\n";
  EXPECT_NE(out.find("\nAborted!\n" + problem + problem), std::string::npos) << out;
  EXPECT_EQ(out.find("broken lin"), std::string::npos);
  EXPECT_EQ(server_.requestCount(), 4u);  // each asked with HEAD, then with GET
  EXPECT_EQ(ReadWhole(dir_ / "held.htm"), before);
}

TEST_F(CliProgramTest, SecondCtrlCEndsAtOnce) {
  UseHeldLinks(2, "never");
  std::string before = ReadWhole(dir_ / "held.htm");
  pid_t pid = Start({"--bookmarks", (dir_ / "held.htm").string(), "--threads", "2"});
  ASSERT_TRUE(server_.waitForRequests(2));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  EXPECT_EQ(Wait(pid), CLI_EXIT_ABORTED);  // the workers are still waiting for the server
  EXPECT_EQ(ReadWhole(dir_ / "err.txt"), "quillfen-cli: interrupted, nothing saved\n");
  EXPECT_EQ(ReadWhole(dir_ / "held.htm"), before);
  server_.openGate("never");
}

}  // namespace
