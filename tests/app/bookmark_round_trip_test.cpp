// Bookmark files written the way browsers and other tools write them, taken twice through
// the command-line program: the first run keeps what the file holds, and a second run with
// nothing to repair changes nothing in either store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_program.h"
#include "support/file_text.h"
#include "support/http_test_server.h"

namespace fs = std::filesystem;

namespace {

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class BookmarkRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = CliProgramPath();
    if (program_.empty()) GTEST_SKIP() << "quillfen-cli is not built next to the tests";
    dir_ = fs::temp_directory_path() / ("qf-roundtrip-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "config");
    fs::create_directories(dir_ / "stores" / "favorites");
    server_.setDefaultReply(HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // One run of the program on the two stores; its exit status.
  int Run(const std::vector<std::string>& extra) {
    std::vector<std::string> all = {"--bookmarks",
                                    (dir_ / "stores" / "bookmarks.htm").string(),
                                    "--favorites",
                                    (dir_ / "stores" / "favorites").string(),
                                    "--broken",
                                    "leave",
                                    "--moved",
                                    "leave",
                                    "--older-than",
                                    "1",
                                    "--retries",
                                    "0"};
    all.insert(all.end(), extra.begin(), extra.end());
    // The program's settings live under a folder of the test's own.
    return WaitProgram(StartProgram(program_, all, dir_ / "out.txt", dir_ / "err.txt",
                                    {"XDG_CONFIG_HOME=" + (dir_ / "config").string()}));
  }

  std::string Url(const std::string& path) { return server_.url(path); }

  HttpTestServer server_;
  fs::path program_, dir_;
};

TEST_F(BookmarkRoundTripTest, ASecondRunChangesNothingAndTheFirstKeepsWhatTheFileHolds) {
  struct Case {
    const char* what;
    std::string bookmarks;
    std::map<std::string, std::string> favorites;
    std::vector<std::string> options;
    std::function<void(const std::string& saved)> check;
  };
  const std::string old = "ADD_DATE=\"900000000\"";
  const Case cases[] = {
      {"a file on one line",
       "<!DOCTYPE NETSCAPE-Bookmark-file-1><TITLE>One</TITLE><H1>One</H1><DL><p><DT><H3 " + old +
           ">Folder</H3><DL><p><DT><A HREF=\"" + Url("/1") + "\" " + old +
           ">First</A><DT><A HREF=\"" + Url("/2") + "\" " + old +
           ">Second</A></DL><p><HR><DT><A HREF=\"" + Url("/3") + "\" " + old + ">Third</A></DL><p>",
       {},
       {},
       [](const std::string& saved) {
         EXPECT_EQ(Count(saved, "<DT><A HREF="), 3u);
         EXPECT_EQ(Count(saved, ">Folder</H3>"), 1u);
         EXPECT_EQ(Count(saved, "<HR>"), 1u);
         EXPECT_NE(saved.find("<TITLE>One</TITLE>"), std::string::npos);
       }},
      {"separators sharing lines, as a current browser exports them",
       "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n    <HR>    <HR>    <DT><A HREF=\"" +
           Url("/1") + "\" " + old + ">1</A>\n    <HR NAME=\"rule\">    <DT><A HREF=\"" +
           Url("/2") + "\" " + old + ">2</A>\n    <HR>\n</DL>\n",
       {},
       {},
       [](const std::string& saved) {
         EXPECT_EQ(Count(saved, "<HR"), 4u);
         EXPECT_EQ(Count(saved, "<HR NAME=\"rule\">"), 1u);
       }},
      {"nothing invented: no dates, an open folder, a heading of its own",
       "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Title</TITLE>\n<H1>Heading</H1>\n<DL><p>\n"
       "<DT><H3>Open</H3>\n<DL><p>\n<DT><A HREF=\"" +
           Url("/1") + "\">Undated</A>\n</DL><p>\n</DL><p>\n",
       {},
       {},
       [](const std::string& saved) {
         EXPECT_NE(saved.find("<H1>Heading</H1>"), std::string::npos);
         EXPECT_NE(saved.find("<DT><H3>Open</H3>"), std::string::npos);
         EXPECT_EQ(saved.find("ADD_DATE"), std::string::npos) << saved;
         EXPECT_EQ(saved.find("LAST_MODIFIED"), std::string::npos);
         EXPECT_EQ(Count(saved, "LAST_VISIT=\""), 1u);  // the check's own date
       }},
      {"a date with a space",
       "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><A HREF=\"" + Url("/1") +
           "\" ADD_DATE=\"10/Oct/2000:13:55:36 +0300\">Dated</A>\n</DL><p>\n",
       {},
       {},
       [](const std::string& saved) {
         EXPECT_NE(saved.find("ADD_DATE=\"10/Oct/2000:13:55:36 +0300\""), std::string::npos)
             << saved;
       }},
      {"an address with quotes, synchronised from a shortcut",
       "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n</DL><p>\n",
       {{"Quoted.url", "[InternetShortcut]\r\nURL=" + Url("/q?a=\"b\"") + "\r\n"}},
       {"--sync"},
       [this](const std::string& saved) {
         EXPECT_EQ(Count(saved, "<DT><A HREF=\"" + Url("/q?a=%22b%22") + "\""), 1u) << saved;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "stores");
    WriteWhole(dir_ / "stores" / "bookmarks.htm", c.bookmarks);
    fs::create_directories(dir_ / "stores" / "favorites");
    for (const auto& [name, text] : c.favorites) {
      WriteWhole(dir_ / "stores" / "favorites" / name, text);
      fs::last_write_time(dir_ / "stores" / "favorites" / name,
                          fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    }
    ASSERT_EQ(Run(c.options), 0) << ReadWhole(dir_ / "out.txt") << ReadWhole(dir_ / "err.txt");
    std::map<std::string, std::string> first = FilesUnder(dir_ / "stores");
    c.check(first["bookmarks.htm"]);
    ASSERT_EQ(Run(c.options), 0) << ReadWhole(dir_ / "out.txt");
    std::map<std::string, std::string> second = FilesUnder(dir_ / "stores");
    first.erase("bookmarks.htm.bak");  // the first run's backup holds the original
    second.erase("bookmarks.htm.bak");
    EXPECT_EQ(second, first);
  }
}

// A file that is not a bookmark file is read as holding no links and never written, even
// when the run saves the Favorites.
TEST_F(BookmarkRoundTripTest, AFileThatIsNotABookmarkFileIsLeftAlone) {
  const std::string notes = "Links to look at later:\nhttp://x/ <- this one\n";
  WriteWhole(dir_ / "stores" / "bookmarks.htm", notes);
  WriteWhole(dir_ / "stores" / "favorites" / "Fav.url",
             "[InternetShortcut]\r\nURL=" + Url("/fav") + "\r\n");
  EXPECT_EQ(Run({"--sync"}), 0);
  std::string out = ReadWhole(dir_ / "out.txt");
  EXPECT_NE(out.find("Not a Navigator Bookmark file: it will not be saved.\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Checking 1 URL"), std::string::npos);
  EXPECT_NE(out.find("Not a bookmark file: it is left as it was.\n"), std::string::npos);
  EXPECT_EQ(ReadWhole(dir_ / "stores" / "bookmarks.htm"), notes);
  EXPECT_FALSE(fs::exists(dir_ / "stores" / "bookmarks.htm.bak"));
}

}  // namespace
