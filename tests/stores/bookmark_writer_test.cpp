#include "stores/bookmark_writer.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "stores/bookmark_reader.h"
#include "stores/bookmark_store.h"
#include "support/headless_fixture.h"
#include "tree/settings.h"
#include "support/child_process.h"

namespace {

const char kHeader[] =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<TITLE>Bookmarks</TITLE>\r\n<H1>Bookmarks</H1>\r\n";

std::string Slurp(const std::string& path) {
  std::string out;
  EXPECT_TRUE(ReadWholeFile(path.c_str(), out)) << path;
  return out;
}

LinkEntry* AddLink(NodeList& list, const char* title, const char* url, TimeValue visit) {
  auto* e = new LinkEntry(title, url, visit);
  list.addTail(e);
  return e;
}

LinkEntry* AddFolder(NodeList& list, const char* name) { return AddLink(list, name, nullptr, 0); }

class BookmarkWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = &record_; }
  void TearDown() override {
    FreeTree(tree_);
    settings = nullptr;
  }
  std::string Format() {
    std::string out;
    FormatBookmarkFile(tree_, out);
    return out;
  }
  Settings record_;
  NodeList tree_;
};

TEST_F(BookmarkWriterTest, EmptyTreeGivesTheHeaderAndOneEmptyList) {
  EXPECT_EQ(Format(), std::string(kHeader) + "<DL><p>\r\n</DL><p>\r\n");
}

TEST_F(BookmarkWriterTest, WritesTheDocumentedLayout) {
  LinkEntry* folder = AddFolder(tree_, "Folder");
  folder->addDate = 10;
  LinkEntry* link = AddLink(folder->children, "Name", "http://x/", 20);
  link->addDate = 30;
  link->lastModified = 40;
  tree_.addTail(new LinkEntry());
  EXPECT_EQ(Format(), std::string(kHeader) +
                          "<DL><p>\r\n"
                          "    <DT><H3 FOLDED ADD_DATE=\"10\">Folder</H3>\r\n"
                          "    <DL><p>\r\n"
                          "        <DT><A HREF=\"http://x/\" ADD_DATE=\"30\" LAST_VISIT=\"20\" "
                          "LAST_MODIFIED=\"40\">Name</A>\r\n"
                          "    </DL><p>\r\n"
                          "    <HR>\r\n"
                          "</DL><p>\r\n");
}

TEST_F(BookmarkWriterTest, WhatBelongsOnlyToTheFavoritesOrIsDeletedIsLeftOut) {
  LinkEntry* favOnly = AddFolder(tree_, "FavOnly");
  favOnly->source = SOURCE_FAVORITES;
  AddLink(favOnly->children, "inner", "http://inner/", 1);  // has the bookmark bit
  LinkEntry* both = AddFolder(tree_, "Both");
  both->source = SOURCE_FAVORITES | SOURCE_BOOKMARKS;
  AddLink(both->children, "fav", "http://fav/", 1)->source = SOURCE_FAVORITES;
  LinkEntry* gone = AddLink(tree_, "gone", "http://gone/", 1);
  gone->action = ACTION_DELETE;
  gone->description.assign("lost with its link");
  AddLink(tree_, "shifted", "http://s/", 2)->action = ACTION_SHIFT;
  AddLink(tree_, "updated", "http://new/", 3)->action = ACTION_UPDATE;
  AddLink(tree_, "A & <b>", "http://a/?x=1&y=2", 4);
  EXPECT_EQ(Format(), std::string(kHeader) +
                          "<DL><p>\r\n"
                          "    <DT><H3 FOLDED>Both</H3>\r\n"
                          "    <DL><p>\r\n"
                          "    </DL><p>\r\n"
                          "    <DT><A HREF=\"http://s/\" ADD_DATE=\"2\" LAST_VISIT=\"2\" "
                          "LAST_MODIFIED=\"2\">shifted</A>\r\n"
                          "    <DT><A HREF=\"http://new/\" ADD_DATE=\"3\" LAST_VISIT=\"3\" "
                          "LAST_MODIFIED=\"3\">updated</A>\r\n"
                          "    <DT><A HREF=\"http://a/?x=1&y=2\" ADD_DATE=\"4\" LAST_VISIT=\"4\" "
                          "LAST_MODIFIED=\"4\">A & <b></A>\r\n"
                          "</DL><p>\r\n");
}

TEST_F(BookmarkWriterTest, LongNamesTitlesAndDatesAreWrittenWhole) {
  std::string name(300, 'n');
  CopySettingsText(record_.bookmarkTitle, "T&<le>");
  LinkEntry* folder = AddFolder(tree_, name.c_str());
  folder->addDate = -1;
  LinkEntry* link = AddLink(tree_, "t", "http://t/", 99999999999LL);
  link->lastModified = INT64_MIN;
  std::string out = Format();
  EXPECT_NE(out.find("<TITLE>T&<le></TITLE>\r\n<H1>T&<le></H1>\r\n"), std::string::npos);
  EXPECT_NE(out.find("<DT><H3 FOLDED ADD_DATE=\"-1\">" + name + "</H3>\r\n"), std::string::npos);
  EXPECT_NE(out.find("ADD_DATE=\"99999999999\" LAST_VISIT=\"99999999999\" "
                     "LAST_MODIFIED=\"-9223372036854775808\""),
            std::string::npos);
}

TEST_F(BookmarkWriterTest, KeptTextsGoBackWhereTheyWere) {
  std::string text =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV=\"Content-Type\" "
      "CONTENT=\"text/html; charset=UTF-8\">\n<TITLE>Mine</TITLE>\n<H1>Mine</H1>\n"
      "<DD>About the file\n<DL><p>\n"
      "<DT><H3 ADD_DATE=\"0000000000\" LAST_MODIFIED=\"7\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bar"
      "</H3>\n<DD>About the bar\n<DL><p>\n"
      "<DT><A HREF=\"http://x/\" ADD_DATE=\"0012\" LAST_VISIT=\"99999999999999999999\" "
      "ICON_URI=\"i\" LAST_MODIFIED=\"2016-11-05\" TAGS=\"a\">x</A>\n"
      "<DD>line one\nline two\n<HR>\n</DL><p>\n</DL><p>\n";
  int32_t count = 0;
  ReadBookmarkText(text.data(), text.size(), tree_, count);
  EXPECT_EQ(Format(),
            "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<META HTTP-EQUIV=\"Content-Type\" "
            "CONTENT=\"text/html; charset=UTF-8\">\r\n<TITLE>Mine</TITLE>\r\n<H1>Mine</H1>\r\n"
            "<DD>About the file\r\n<DL><p>\r\n"
            "    <DT><H3 ADD_DATE=\"0000000000\" LAST_MODIFIED=\"7\" "
            "PERSONAL_TOOLBAR_FOLDER=\"true\">Bar</H3>\r\n"
            "    <DD>About the bar\r\n    <DL><p>\r\n"
            "        <DT><A HREF=\"http://x/\" ADD_DATE=\"0012\" "
            "LAST_VISIT=\"99999999999999999999\" LAST_MODIFIED=\"2016-11-05\" ICON_URI=\"i\" "
            "TAGS=\"a\">x</A>\r\n"
            "        <DD>line one\nline two\r\n        <HR>\r\n"
            "    </DL><p>\r\n</DL><p>\r\n");
  // A date the program changes is written as its number.
  LinkEntry* x = LinkEntry::of(LinkEntry::of(tree_.head())->children.head());
  x->lastVisit = 1000;
  x->addDate = 13;
  std::string out = Format();
  EXPECT_NE(out.find("ADD_DATE=\"13\" LAST_VISIT=\"1000\" LAST_MODIFIED=\"2016-11-05\""),
            std::string::npos);
}

// A save writes back what was read: no date the file did not have, FOLDED only where it
// was, every date in its own text, every rule with its attributes.
TEST_F(BookmarkWriterTest, WritesBackWhatWasRead) {
  struct Case {
    const char* read;
    const char* written;
  };
  const Case cases[] = {
      {"<DT><A HREF=\"http://a/\">a</A>", "<DT><A HREF=\"http://a/\">a</A>"},
      {"<DT><A HREF=\"http://a/\" ADD_DATE=\"5\">a</A>",
       "<DT><A HREF=\"http://a/\" ADD_DATE=\"5\">a</A>"},
      {"<DT><A LAST_MODIFIED=\"7\" HREF=\"http://a/\" LAST_VISIT=\"0\" ADD_DATE=\"-1\">a</A>",
       "<DT><A HREF=\"http://a/\" ADD_DATE=\"-1\" LAST_VISIT=\"0\" LAST_MODIFIED=\"7\">a</A>"},
      {"<DT><A HREF=\"http://a/\" ADD_DATE=\"10/Oct/2000:13:55:36 +0300\" LAST_VISIT=\"\">a</A>",
       "<DT><A HREF=\"http://a/\" ADD_DATE=\"10/Oct/2000:13:55:36 +0300\" LAST_VISIT=\"\">a</A>"},
      {"<DT><H3>Open</H3>", "<DT><H3>Open</H3>"},
      {"<DT><H3 ADD_DATE=\"0000000000\" FOLDED>Closed</H3>",
       "<DT><H3 FOLDED ADD_DATE=\"0000000000\">Closed</H3>"},
      {"<HR>", "<HR>"},
      {"<HR NAME=\"rule\" class=x>", "<HR NAME=\"rule\" class=x>"},
  };
  for (const Case& c : cases) {
    FreeTree(tree_);
    std::string text = std::string("<DL><p>\n") + c.read + "\n</DL><p>\n";
    int32_t count = 0;
    ReadBookmarkText(text.data(), text.size(), tree_, count);
    EXPECT_NE(Format().find(std::string("<DL><p>\r\n    ") + c.written + "\r\n"), std::string::npos)
        << c.read << "\n"
        << Format();
  }
  // A date the program sets is written; an entry the file did not give gets the dates it
  // has, and a new folder is written closed.
  FreeTree(tree_);
  std::string text = "<DT><A HREF=\"http://a/\" ADD_DATE=\"5\">a</A>\n";
  int32_t count = 0;
  ReadBookmarkText(text.data(), text.size(), tree_, count);
  LinkEntry::of(tree_.head())->lastVisit = 1000;
  AddFolder(tree_, "New")->lastVisit = 2000;
  AddFolder(tree_, "Undated");
  std::string out = Format();
  EXPECT_NE(out.find("<DT><A HREF=\"http://a/\" ADD_DATE=\"5\" LAST_VISIT=\"1000\">a</A>\r\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("<DT><H3 FOLDED ADD_DATE=\"2000\">New</H3>\r\n"), std::string::npos);
  EXPECT_NE(out.find("<DT><H3 FOLDED>Undated</H3>\r\n"), std::string::npos);
}

TEST_F(BookmarkWriterTest, TheHeadingIsWrittenAsRead) {
  std::string text =
      "<TITLE>The title</TITLE>\n<H1 LAST_MODIFIED=\"9\">A heading <b>of its own</b></H1>\n"
      "<DL><p>\n</DL><p>\n";
  int32_t count = 0;
  ReadBookmarkText(text.data(), text.size(), tree_, count);
  EXPECT_NE(Format().find("<TITLE>The title</TITLE>\r\n<H1 LAST_MODIFIED=\"9\">A heading <b>of "
                          "its own</b></H1>\r\n<DL><p>\r\n"),
            std::string::npos)
      << Format();
  text = "<TITLE>Only a title</TITLE>\n<DL><p>\n</DL><p>\n";
  ReadBookmarkText(text.data(), text.size(), tree_, count);
  EXPECT_NE(Format().find("<TITLE>Only a title</TITLE>\r\n<H1>Only a title</H1>\r\n"),
            std::string::npos);
}

// An address holding a double quote is written with %22 in its place: read back, it is the
// same address (and the same link for synchronisation), not one cut at the quote. A NUL
// byte ends an address.
TEST_F(BookmarkWriterTest, AddressesStayWholeBetweenTheirQuotes) {
  LinkEntry* quoted = AddLink(tree_, "q", "http://a/?q=\"x\"&y=1", 1);
  LinkEntry* nul = AddLink(tree_, "n", nullptr, 1);
  nul->url.assign("http://n/\0tail", 14);
  std::string out = Format();
  EXPECT_NE(out.find("<DT><A HREF=\"http://a/?q=%22x%22&y=1\" "), std::string::npos) << out;
  EXPECT_NE(out.find("<DT><A HREF=\"http://n/\" "), std::string::npos) << out;
  EXPECT_EQ(out.find('\0'), std::string::npos);
  NodeList back;
  int32_t count = 0;
  ReadBookmarkText(out.data(), out.size(), back, count);
  ASSERT_EQ(count, 2);
  LinkEntry* first = LinkEntry::of(back.head());
  EXPECT_STREQ(first->url.c_str(), "http://a/?q=%22x%22&y=1");
  EXPECT_EQ(first->url.compareNoCase(quoted->url), 0);
  EXPECT_EQ(quoted->url.compareNoCase(first->url), 0);
  TextString other;
  other.assign("http://a/?q=%22x%22&y=2");
  EXPECT_LT(first->url.compareNoCase(other), 0);
  EXPECT_GT(other.compareNoCase(quoted->url), 0);
  std::string again;
  FormatBookmarkFile(back, again);
  EXPECT_EQ(again, out);
  FreeTree(back);
}

TEST_F(BookmarkWriterTest, VeryDeepTreesAreWrittenWithBoundedIndentation) {
  const int depth = 100000;
  NodeList* list = &tree_;
  for (int i = 0; i < depth; ++i) list = &AddFolder(*list, "f")->children;
  AddLink(*list, "deep", "http://deep/", 1);
  std::string out = Format();
  EXPECT_LT(out.size(), 1000u * depth);  // grows with the depth, not with its square
  FreeTree(tree_);
  int32_t count = 0;
  ReadBookmarkText(out.data(), out.size(), tree_, count);
  EXPECT_EQ(count, 1);
  std::string again;
  FormatBookmarkFile(tree_, again);
  EXPECT_EQ(again, out);
}

class BookmarkSaveTest : public BookmarkWriterTest {
 protected:
  void SetUp() override {
    BookmarkWriterTest::SetUp();
    char dir[] = "/tmp/qf-bm-writeXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/bookmark.htm";
    record_.bookmarkFile.assign(path_.c_str());
  }
  void TearDown() override {
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') std::remove((dir_ + "/" + e->d_name).c_str());
      }
      closedir(d);
    }
    rmdir(dir_.c_str());
    BookmarkWriterTest::TearDown();
  }
  void Put(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  int FileCount() {
    int n = 0;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
      closedir(d);
    }
    return n;
  }
  std::string dir_, path_;
};

TEST_F(BookmarkSaveTest, SaveReplacesTheFileAndKeepsTheOldOneAsBackup) {
  AddLink(tree_, "one", "http://1/", 5);
  EXPECT_TRUE(WriteBookmarkFile(tree_));
  std::string first = Slurp(path_);
  EXPECT_EQ(first, Format());
  EXPECT_EQ(FileCount(), 1);  // nothing to back up yet, no temporary left
  AddLink(tree_, "two", "http://2/", 6);
  EXPECT_TRUE(WriteBookmarkFile(tree_));
  EXPECT_EQ(Slurp(path_), Format());
  EXPECT_EQ(Slurp(path_ + ".bak"), first);
  EXPECT_EQ(FileCount(), 2);
}

TEST_F(BookmarkSaveTest, AFailedSaveLeavesTheOldFileAndSaysSo) {
  Put(path_, "old contents");
  AddLink(tree_, "one", "http://1/", 5);
  {
    InputFile reader;  // the file is in use
    ASSERT_TRUE(reader.open(path_.c_str()));
    EXPECT_FALSE(WriteBookmarkFile(tree_));
  }
  EXPECT_EQ(Slurp(path_), "old contents");
  // A write that fails part way: the file size limit stops it.
  std::string big(1 << 20, 'i');
  AddLink(tree_, "big", "http://big/", 1)->extraAttributes.assign(big.c_str());
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool saved = WriteBookmarkFile(tree_);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(saved);
  EXPECT_EQ(Slurp(path_), "old contents");
  EXPECT_EQ(FileCount(), 1);
  record_.bookmarkFile.assign((dir_ + "/missing/bookmark.htm").c_str());
  EXPECT_FALSE(WriteBookmarkFile(tree_));
}

// A save of a large bookmark file by a child process killed at seeded random moments: after
// every kill the file holds exactly the old text or exactly the new one, the backup is
// missing or the old text, and nothing else but the save's own temporary files lies beside.
TEST_F(BookmarkSaveTest, AKillAtAnyMomentLeavesTheOldFileOrTheNewOne) {
  std::string old = std::string(kHeader) + "<DL><p>\r\n";
  for (int i = 0; i < 20000; ++i)
    old += "    <DT><A HREF=\"http://crash.example/" + std::to_string(i) +
           "\" ADD_DATE=\"1673000000\">Link " + std::to_string(i) + "</A>\r\n";
  old += "</DL><p>\r\n";
  int32_t count = 0;
  ASSERT_TRUE(ReadBookmarkText(old.data(), old.size(), tree_, count));
  ASSERT_EQ(count, 20000);
  int n = 0;
  ForEachLeaf(tree_, [&](LinkEntry& e) {
    if (n++ % 10 == 3) e.action = ACTION_DELETE;
  });
  const std::string fresh = Format();
  ASSERT_NE(fresh, old);

  auto saveInChild = [&](std::chrono::microseconds delay, bool kill) {
    auto took = RunInChild([&] { WriteBookmarkFile(tree_); }, delay, kill);
    EXPECT_GE(took.count(), 0) << "fork failed";
    return took;
  };
  // What the folder holds: 1 old file, 2 new file; leftovers counted and removed; anything
  // else fails. The old file is put back.
  int leftovers = 0;
  auto countAndRestore = [&]() {
    int found = 0;
    std::string now = Slurp(path_);
    if (now == old) found = 1;
    if (now == fresh) found = 2;
    if (FileExists((path_ + ".bak").c_str()) && Slurp(path_ + ".bak") != old) found = 0;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "bookmark.htm" || name == "bookmark.htm.bak")
          continue;
        if (IsTempNameOf(name, "bookmark.htm") || IsTempNameOf(name, "bookmark.htm.bak")) {
          ++leftovers;
          std::remove((dir_ + "/" + name).c_str());
        } else {
          ADD_FAILURE() << "unexpected file " << name;
        }
      }
      closedir(d);
    }
    Put(path_, old);
    std::remove((path_ + ".bak").c_str());
    return found;
  };

  Put(path_, old);
  std::chrono::microseconds whole = saveInChild({}, false);
  ASSERT_EQ(countAndRestore(), 2);
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int64_t> moment(0, whole.count());
  int olds = 0, news = 0;
  for (int kill = 0; kill < 60; ++kill) {
    saveInChild(std::chrono::microseconds(moment(random)), true);
    int found = countAndRestore();
    ASSERT_NE(found, 0) << "kill " << kill;
    (found == 1 ? olds : news)++;
  }
  std::printf("60 kills in a save of %lld us: %d old files, %d new, %d temporary files left\n",
              static_cast<long long>(whole.count()), olds, news, leftovers);
}

TEST_F(BookmarkSaveTest, AFileThatIsNoBookmarkFileIsNeverWritten) {
  const std::string notes = "Shopping: milk, <b>bread</b>\n";
  Put(path_, notes);
  int32_t count = 0;
  HeadlessMainWindow main;
  EXPECT_TRUE(ReadBookmarkStore(main.window, tree_, count));
  AddLink(tree_, "synchronised", "http://s/", 1);
  EXPECT_EQ(WriteBookmarkStore(main.window, tree_), StoreSave::Refused);
  EXPECT_EQ(main.log(),
            "Reading Navigator Bookmarks...\r\nNot a Navigator Bookmark file: it will not be "
            "saved.\r\nNot a bookmark file: it is left as it was.\r\n");
  EXPECT_EQ(Slurp(path_), notes);
  EXPECT_EQ(FileCount(), 1);
  ReleaseBookmarkStore();
}

// Round trips: what a file holds comes back after a read, a write and a second read.

void ExpectSameDates(const LinkEntry& before, const LinkEntry& after, const std::string& where) {
  EXPECT_EQ(after.addDate, before.addDate) << where;
  EXPECT_EQ(after.lastVisit, before.lastVisit) << where;
  EXPECT_EQ(after.lastModified, before.lastModified) << where;
  EXPECT_EQ(after.bookmarkForm, before.bookmarkForm) << where;
}

void ExpectSameTree(const NodeList& a, const NodeList& b, const std::string& file) {
  std::vector<std::pair<Node*, Node*>> stack{{a.head(), b.head()}};
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    for (; x->next && y->next; x = x->next, y = y->next) {
      const LinkEntry& p = *LinkEntry::of(x);
      const LinkEntry& q = *LinkEntry::of(y);
      std::string where = file + ": " + (p.name ? p.name : "<separator>");
      ASSERT_EQ(p.isSeparator(), q.isSeparator()) << where;
      if (p.name) {
        EXPECT_STREQ(p.name, q.name) << where;
      }
      EXPECT_EQ(std::string(p.url.c_str()), std::string(q.url.c_str())) << where;
      EXPECT_EQ(std::string(p.extraAttributes.c_str()), q.extraAttributes.c_str()) << where;
      EXPECT_EQ(p.description.data == nullptr, q.description.data == nullptr) << where;
      EXPECT_EQ(std::string(p.description.c_str()), q.description.c_str()) << where;
      ExpectSameDates(p, q, where);
      stack.push_back({p.children.head(), q.children.head()});
    }
    EXPECT_TRUE(x->next == nullptr && y->next == nullptr) << file << ": lists differ in length";
  }
}

// Every double-quoted value of the named attribute of an <A tag in the text (a plain scan,
// independent of the reader).
std::multiset<std::string> Values(const std::string& text, const std::string& attribute) {
  std::multiset<std::string> out;
  for (size_t i = 0; (i = text.find('<', i)) != std::string::npos; ++i) {
    if (i + 2 >= text.size() || (text[i + 1] != 'A' && text[i + 1] != 'a') ||
        (text[i + 2] != ' ' && text[i + 2] != '\t'))
      continue;
    // Quoted values may hold '>': look for the attribute up to the end of the line.
    size_t lineEnd = text.find_first_of("\r\n", i);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    for (size_t at = i + 2; at < lineEnd; ++at) {
      if ((text[at - 1] == ' ' || text[at - 1] == '\t') &&
          text.compare(at, attribute.size() + 2, attribute + "=\"") == 0) {
        size_t start = at + attribute.size() + 2;
        size_t close = text.find('"', start);
        if (close != std::string::npos && close < lineEnd)
          out.insert(text.substr(start, close - start));
        break;
      }
      if (text[at] == '"') {  // skip quoted values
        size_t close = text.find('"', at + 1);
        if (close == std::string::npos || close >= lineEnd) break;
        at = close;
      } else if (text[at] == '>') {
        break;
      }
    }
  }
  return out;
}

// Lines that begin (after blanks) with <DD>.
size_t CountDescriptionLines(const std::string& text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size();) {
    size_t end = text.find_first_of("\r\n", i);
    if (end == std::string::npos) end = text.size();
    size_t p = text.find_first_not_of(" \t", i);
    if (p < end && end - p >= 4 && (text[p + 1] == 'D' || text[p + 1] == 'd') &&
        (text[p + 2] == 'D' || text[p + 2] == 'd') && text[p] == '<' && text[p + 3] == '>')
      ++count;
    i = end + 1;
  }
  return count;
}

size_t CountDescriptions(const NodeList& list) {
  size_t n = 0;
  std::vector<const NodeList*> stack{&list};
  while (!stack.empty()) {
    const NodeList* l = stack.back();
    stack.pop_back();
    for (Node* x = l->head(); x->next; x = x->next) {
      n += LinkEntry::of(x)->description.data != nullptr;
      stack.push_back(&LinkEntry::of(x)->children);
    }
  }
  return n;
}

std::vector<std::string> DataFiles() {
  std::vector<std::string> files;
  std::string dir = std::string(QF_TEST_DATA_DIR) + "/bookmarks";
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0)
        files.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  return files;
}

TEST_F(BookmarkWriterTest, RealAndStyledFilesSurviveAReadAndAWrite) {
  std::vector<std::string> files = DataFiles();
  ASSERT_GE(files.size(), 30u);
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    std::string original = Slurp(path);
    FreeTree(tree_);
    record_.setDefaults();
    int32_t count1 = 0, count2 = 0;
    ReadBookmarkText(original.data(), original.size(), tree_, count1);
    std::string title = record_.bookmarkTitle;
    std::string header = record_.bookmarkHeader.c_str();
    std::string written = Format();
    NodeList second;
    ReadBookmarkText(written.data(), written.size(), second, count2);
    EXPECT_EQ(count1, count2);
    EXPECT_EQ(title, record_.bookmarkTitle);
    EXPECT_EQ(header, record_.bookmarkHeader.c_str());
    ExpectSameTree(tree_, second, path);
    std::string again;
    FormatBookmarkFile(second, again);
    EXPECT_EQ(again, written);  // a second save changes nothing
    // Independently of the reader: every address and icon the file holds is written.
    std::multiset<std::string> hrefs = Values(written, "HREF");
    for (const std::string& href : Values(original, "HREF")) {
      EXPECT_TRUE(hrefs.count(href)) << href;
    }
    std::multiset<std::string> icons = Values(written, "ICON");
    for (const std::string& icon : Values(original, "ICON")) {
      EXPECT_TRUE(icons.count(icon)) << icon.substr(0, 60);
    }
    // Every <DD> line of the file gives a description (the file's own, or an entry's).
    size_t dd = CountDescriptionLines(original);
    EXPECT_EQ(dd, CountDescriptions(tree_) + (record_.bookmarkDescription.data ? 1 : 0));
    FreeTree(second);
  }
}

TEST_F(BookmarkWriterTest, StyledFilesKeepWhatTheyHold) {
  std::string path = std::string(QF_TEST_DATA_DIR) + "/bookmarks/styled-firefox.html";
  std::string original = Slurp(path);
  int32_t count = 0;
  ReadBookmarkText(original.data(), original.size(), tree_, count);
  std::string out = Format();
  EXPECT_EQ(count, 6);
  EXPECT_NE(out.find("<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<META HTTP-EQUIV=\"Content-Type\""),
            std::string::npos);
  EXPECT_NE(out.find("content=\"default-src 'self'; script-src 'none'; img-src data: *; "
                     "object-src 'none'\">\r\n<TITLE>"),
            std::string::npos);
  // Written as read: an open folder stays open, a date the file left out stays out.
  EXPECT_NE(out.find("    <HR>\r\n    <DT><H3 ADD_DATE=\"1700000200\" "
                     "LAST_MODIFIED=\"1700000300\">Reading</H3>\r\n    <DD>Articles to read "
                     "later\r\n"),
            std::string::npos);
  EXPECT_NE(out.find("SHORTCUTURL=\"k\" POST_DATA=\"q%3D%25s\" LAST_CHARSET=\"UTF-8\">"),
            std::string::npos);
  EXPECT_NE(out.find("ADD_DATE=\"4102444800\" LAST_MODIFIED=\"4102444801\">"), std::string::npos);
}

}  // namespace
