// Synchronising round trips through the command line: each store pair is cleaned twice, and
// the second run, with nothing left to repair, changes neither store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_run.h"
#include "support/file_text.h"
#include "support/http_test_server.h"

namespace fs = std::filesystem;

namespace {

// Every shortcut file of the folder with its bytes.
std::map<std::string, std::string> Shortcuts(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(dir))
    if (item.is_regular_file())
      files[item.path().string().substr(dir.string().size() + 1)] = ReadWhole(item.path());
  return files;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class CliSyncRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qf-sync-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "config");
    fs::create_directories(dir_ / "favorites");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadConfig_ = old != nullptr;
    if (old) savedConfig_ = old;
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    server_.setReply("/ok", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
  }
  void TearDown() override {
    if (hadConfig_)
      ::setenv("XDG_CONFIG_HOME", savedConfig_.c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir_);
  }

  int Run(const std::vector<std::string>& more) {
    std::vector<std::string> args = {"--bookmarks",
                                     (dir_ / "bookmarks.htm").string(),
                                     "--favorites",
                                     (dir_ / "favorites").string(),
                                     "--sync",
                                     "--threads",
                                     "1",
                                     "--timeout",
                                     "10",
                                     "--retries",
                                     "0"};
    args.insert(args.end(), more.begin(), more.end());
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    int status = RunCli(args, out, err);
    std::fclose(out);
    std::fclose(err);
    return status;
  }

  // The bookmark file without the check dates, which every run sets anew.
  std::string Bookmarks() {
    static const std::regex visit(" LAST_VISIT=\"[0-9]*\"");
    return std::regex_replace(ReadWhole(dir_ / "bookmarks.htm"), visit, "");
  }

  HttpTestServer server_;
  fs::path dir_;
  std::string savedConfig_;
  bool hadConfig_ = false;
};

TEST_F(CliSyncRoundTripTest, ASecondRunChangesNothing) {
  const std::string ok = server_.url("/ok");
  const std::string gone = server_.url("/gone");
  struct Case {
    const char* what;
    std::vector<std::string> links;  // bookmark lines
    std::map<std::string, std::string> favorites;
    std::vector<std::string> args;
    std::map<std::string, std::string> savedFavorites;  // after the first run
  };
  const std::string icon = "IconFile=C:\\site.ico\r\n";
  const Case cases[] = {
      {"the twin's file stays the link's one file, also when the link is deleted",
       {"<DT><A HREF=\"" + ok + "\">x.y</A>", "<DT><A HREF=\"" + gone + "\">Gone</A>"},
       {{"Sub/x.y.url", "[InternetShortcut]\r\nURL=" + ok + "\r\n" + icon},
        {"Other/Gone.url", "[InternetShortcut]\r\nURL=" + gone + "\r\n" + icon}},
       {"--broken", "delete"},
       {{"Sub/x.y.url", "[InternetShortcut]\r\nURL=" + ok + "\r\n" + icon}}},
      {"a name the file name cannot hold whole",
       {"<DT><A HREF=\"" + ok + "\">Bm: Top | Site.com</A>"},
       {},
       {"--broken", "leave"},
       {{"Bm Top  Sitecom.url", "[InternetShortcut]\r\nURL=" + ok + "\r\n"}}},
      {"an address with a leading blank",
       {"<DT><A HREF=\" " + ok + "\">Blank</A>"},
       {},
       {"--broken", "leave", "--moved", "leave"},
       {{"Blank.url", "[InternetShortcut]\r\nURL=\" " + ok + "\"\r\n"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "favorites");
    fs::create_directories(dir_ / "favorites");
    std::string text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
    for (const std::string& line : c.links) text += line + "\n";
    WriteWhole(dir_ / "bookmarks.htm", text + "</DL><p>\n");
    for (const auto& [name, bytes] : c.favorites) WriteWhole(dir_ / "favorites" / name, bytes);

    int first = Run(c.args);
    EXPECT_TRUE(first == CLI_EXIT_CLEAN || first == CLI_EXIT_PROBLEMS) << first;
    std::string bookmarks = Bookmarks();
    std::map<std::string, std::string> favorites = Shortcuts(dir_ / "favorites");
    EXPECT_EQ(favorites, c.savedFavorites);
    // Each link is in the bookmark file once, under its own name.
    for (const std::string& line : c.links) {
      std::string href = line.substr(line.find("HREF=") + 5);
      href = href.substr(0, href.find('>'));
      bool deleted = href.find("/gone") != std::string::npos;
      EXPECT_EQ(Count(bookmarks, href), deleted ? 0u : 1u) << bookmarks;
    }

    // Nothing is left to repair: the deleted link does not come back to be found again.
    EXPECT_EQ(Run(c.args), CLI_EXIT_CLEAN);
    EXPECT_EQ(Bookmarks(), bookmarks);
    EXPECT_EQ(Shortcuts(dir_ / "favorites"), favorites);
  }
}

}  // namespace
