#include "stores/bookmark_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tree/settings.h"
#include "platform/files.h"
#include "support/headless_fixture.h"

namespace {

// Renders a tree as one line per entry: indentation, kind and fields, for comparisons.
std::string Dump(const NodeList& list, int depth = 0) {
  std::string out;
  for (Node* n = list.head(); n->next; n = n->next) {
    const LinkEntry& e = *LinkEntry::of(n);
    out += std::string(depth * 2, ' ');
    if (e.isSeparator()) {
      out += "---\n";
      continue;
    }
    out += e.isLink() ? "L " : "F ";
    out += e.name;
    if (e.isLink()) out += " <" + std::string(e.url.c_str()) + ">";
    out += "\n";
    if (!e.children.isEmpty()) out += Dump(e.children, depth + 1);
  }
  return out;
}

LinkEntry* Nth(const NodeList& list, int index) {
  Node* n = list.head();
  for (int i = 0; i < index && n->next; ++i) n = n->next;
  return n->next ? LinkEntry::of(n) : nullptr;
}

int CountEntries(const NodeList& list) {
  int count = 0;
  for (Node* n = list.head(); n->next; n = n->next) ++count;
  return count;
}

class BookmarkReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = &record_; }
  void TearDown() override {
    FreeTree(root_);
    settings = nullptr;
  }
  void Read(const std::string& text) {
    FreeTree(root_);
    count_ = 0;
    ReadBookmarkText(text.data(), text.size(), root_, count_);
  }
  Settings record_;
  NodeList root_;
  int32_t count_ = 0;
};

TEST_F(BookmarkReaderTest, ReadsFoldersLinksSeparatorsAndTitleInFileOrder) {
  Read(
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n"
      "<TITLE>My Marks</TITLE>\r\n"
      "<H1>My Marks</H1>\r\n"
      "<DL><p>\r\n"
      "    <DT><H3 FOLDED ADD_DATE=\"100\">News</H3>\r\n"
      "    <DL><p>\r\n"
      "        <DT><A HREF=\"http://b/\" ADD_DATE=\"1\" LAST_VISIT=\"2\" "
      "LAST_MODIFIED=\"3\">  Bee  </A>\r\n"
      "    </DL><p>\r\n"
      "    <HR>\r\n"
      "    <DT><A HREF=\"http://a/\">Aye</A>\r\n"
      "</DL><p>\r\n");
  EXPECT_EQ(Dump(root_), "F News\n  L Bee <http://b/>\n---\nL Aye <http://a/>\n");
  EXPECT_STREQ(record_.bookmarkTitle, "My Marks");
  EXPECT_EQ(count_, 2);
  LinkEntry* news = Nth(root_, 0);
  EXPECT_EQ(news->addDate, 100);
  EXPECT_EQ(news->source, SOURCE_BOOKMARKS);
  LinkEntry* bee = Nth(news->children, 0);
  EXPECT_EQ(bee->addDate, 1);
  EXPECT_EQ(bee->lastVisit, 2);
  EXPECT_EQ(bee->lastModified, 3);
  EXPECT_EQ(bee->source, SOURCE_BOOKMARKS);
  EXPECT_EQ(bee->action, ACTION_LEAVE);
  EXPECT_EQ(Nth(root_, 1)->source, SOURCE_BOOKMARKS);  // the separator
}

TEST_F(BookmarkReaderTest, LowerCaseTagsAreRecognised) {
  Read("<dl><p>\n<dt><h3>Sub</h3>\n<dl><p>\n<dt><a href=\"http://x/\">Ex</a>\n</dl><p>\n<hr>\n");
  EXPECT_EQ(Dump(root_), "F Sub\n  L Ex <http://x/>\n---\n");
}

// Elements are found by their tags, however the lines fall.
TEST_F(BookmarkReaderTest, ElementsAreFoundHoweverTheLinesFall) {
  struct Case {
    const char* layout;
    const char* text;
    const char* tree;
  };
  const Case cases[] = {
      {"a whole file on one line",
       "<!DOCTYPE NETSCAPE-Bookmark-file-1><TITLE>T</TITLE><H1>T</H1><DL><p><DT><H3 "
       "ADD_DATE=\"1\">F</H3><DD>about F<DL><p><DT><A HREF=\"http://1/\">one</A><DD>about "
       "one<HR><DT><A HREF=\"http://2/\">two</A></DL><p><HR><HR><DT><A "
       "HREF=\"http://3/\">three</A></DL><p>",
       "F F\n  L one <http://1/>\n  ---\n  L two <http://2/>\n---\n---\nL three <http://3/>\n"},
      {"separators sharing lines with each other and with the next element",
       "<DL><p>\n    <HR>    <HR>    <DT><A HREF=\"http://1/\">1</A>\n"
       "    <HR NAME=\"sep\">    <DT><H3>F</H3>\n    <DL><p>\n    </DL><p>\n    <HR>\n</DL>\n",
       "---\n---\nL 1 <http://1/>\n---\nF F\n---\n"},
      {"an address, a title and an end tag running over line breaks",
       "<DT><A HREF=\"http://a/lo\nng\">ti\ntle</A\n>\n<DT><A HREF=\"http://b/\">b</A>\n",
       "L ti\ntle <http://a/lo\nng>\nL b <http://b/>\n"},
      {"a quote never closed and end tags left out",
       "<DT><A HREF=\"http://a/'>A</A>\n<DT><A HREF=\"http://b/\">B\n<DT><H3>F\n<DL><p><DT><A "
       "HREF=\"http://c/\">C</DL><DT><A HREF=\"http://d/\">D</A>",
       "L  <http://a/'>A</A>>\nL B <http://b/>\nF F\n  L C <http://c/>\nL D <http://d/>\n"},
      {"a comment, and <DT> alone on its line",
       "<!-- <DT><A HREF=\"http://hidden/\">h</A>\n-->\n<DT>\n  <H3>F</H3>\n<DL>\n<DT><A "
       "HREF=\"http://1/\">1</A>\n</DL>\n<DT>x <H3>not a folder</H3>",
       "F F\n  L 1 <http://1/>\n"},
  };
  for (const Case& c : cases) {
    Read(c.text);
    EXPECT_EQ(Dump(root_), c.tree) << c.layout;
  }
  // What the one-line file carries besides its entries.
  Read(cases[0].text);
  EXPECT_STREQ(record_.bookmarkTitle, "T");
  EXPECT_STREQ(Nth(root_, 0)->description.c_str(), "about F");
  EXPECT_STREQ(Nth(Nth(root_, 0)->children, 0)->description.c_str(), "about one");
  EXPECT_EQ(count_, 3);
}

// The same files with every line break (and the indentation after it) taken out read into
// the same trees.
TEST_F(BookmarkReaderTest, RealFilesReadTheSameOnOneLine) {
  std::string dir = std::string(QF_TEST_DATA_DIR) + "/bookmarks";
  int files = 0;
  for (const char* name :
       {"firefox-preplaces.html", "firefox-migration-exported.html", "firefox-singleframe.html",
        "chromium-redditsaver.html", "kafene-ie11-nested.html", "kafene-netscape-multiline.html",
        "duckduckgo-chrome-dirty.html", "duckduckgo-vivaldi.html",
        "perl-netscape-bookmarks-mozilla.html", "netscape-go-safari-folded.html",
        "styled-firefox.html", "styled-netscape4.html"}) {
    std::string text;
    ASSERT_TRUE(ReadWholeFile((dir + "/" + name).c_str(), text)) << name;
    Read(text);
    std::string lines = Dump(root_);
    int32_t count = count_;
    std::string joined;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\r' && text[i] != '\n') {
        joined += text[i];
        continue;
      }
      while (i + 1 < text.size() && std::strchr("\r\n \t", text[i + 1])) ++i;
    }
    Read(joined);
    EXPECT_EQ(Dump(root_), lines) << name;
    EXPECT_EQ(count_, count) << name;
    EXPECT_GT(count, 0) << name;
    ++files;
  }
  EXPECT_EQ(files, 12);
}

// What reading tells about the file: only a file recognised as a bookmark file may be
// written back; anything else adds nothing to the tree.
TEST_F(BookmarkReaderTest, OnlyBookmarkFilesAreRecognised) {
  struct Case {
    std::string text;
    bool bookmarks;
  };
  const Case cases[] = {
      {"", true},
      {" \r\n\t\n", true},
      {"<!doctype netscape-bookmark-file-1>\n", true},
      {"<DL><p>\n</DL><p>\n", true},
      {"<a href=\"http://x/\">x</a>", true},
      {"<DT><H3>Empty</H3>", true},
      {"{\"roots\": {\"bookmark_bar\": {\"children\": [{\"name\": \"<b>\", \"type\": \"url\", "
       "\"url\": \"http://x/\"}]}}, \"version\": 1}\n",
       false},
      {"Just some text.\n", false},
      {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR<hr>", 21), false},
      {"<html><head><title>Page</title></head><body><hr><dd>x</body></html>", false},
  };
  for (const Case& c : cases) {
    FreeTree(root_);
    int32_t count = 0;
    EXPECT_EQ(ReadBookmarkText(c.text.data(), c.text.size(), root_, count), c.bookmarks) << c.text;
    if (!c.bookmarks) {
      EXPECT_TRUE(root_.isEmpty()) << c.text;
      EXPECT_EQ(record_.bookmarkDescription.data, nullptr) << c.text;
    }
  }
}

TEST_F(BookmarkReaderTest, DatesFollowTheFileRules) {
  Read(
      "<DT><A HREF=\"http://a/\" ADD_DATE=\"500\" LAST_VISIT=\"0\">a</A>\n"
      "<DT><A HREF=\"http://b/\" ADD_DATE=\"-1\" LAST_MODIFIED=\"-1\">b</A>\n"
      "<DT><H3 ADD_DATE=\"-1\">f</H3>\n</DL><p>\n"
      "<DT><A HREF=\"http://c/\" ADD_DATE=1234 LAST_VISIT=5678>c</A>\n"
      "<DT><A HREF=\"http://d/\" ADD_DATE=\"99999999999\" LAST_VISIT=\"-4294967297\">d</A>\n"
      "<DT><A HREF=\"http://e/\" ADD_DATE=\"123456789012345678901234567890\">e</A>\n"
      "<DT><A HREF=\"http://f/\" ADD_DATE=\"12abc\" LAST_VISIT=\"\">f</A>\n");
  LinkEntry* a = Nth(root_, 0);
  EXPECT_EQ(a->lastVisit, 500);
  EXPECT_EQ(a->addDate, 500);
  LinkEntry* b = Nth(root_, 1);
  EXPECT_EQ(b->addDate, 0);
  EXPECT_EQ(b->lastModified, 0);
  EXPECT_EQ(Nth(root_, 2)->addDate, -1);  // a folder keeps -1
  LinkEntry* c = Nth(root_, 3);           // unquoted values are read whole
  EXPECT_EQ(c->addDate, 1234);
  EXPECT_EQ(c->lastVisit, 5678);
  LinkEntry* d = Nth(root_, 4);  // beyond 32 bits
  EXPECT_EQ(d->addDate, 99999999999LL);
  EXPECT_EQ(d->lastVisit, -4294967297LL);
  EXPECT_EQ(Nth(root_, 5)->addDate, INT64_MAX);  // saturated, not undefined
  LinkEntry* f = Nth(root_, 6);
  EXPECT_EQ(f->addDate, 12);
  EXPECT_EQ(f->lastVisit, 12);
}

TEST_F(BookmarkReaderTest, AddressesTitlesAndLinesAreKeptWhole) {
  std::string address = "http://example.com/" + std::string(3000, 'p');
  std::string title(700, 't');
  std::string icon(100000, 'Q');
  Read("<DT><A HREF=\"" + address + "\" ICON=\"data:" + icon + "\">" + title + "</A>\n" +
       "<DT><H3>" + std::string(400, 'n') + "</H3>\n");
  ASSERT_EQ(CountEntries(root_), 2);
  EXPECT_EQ(std::string(Nth(root_, 0)->url.c_str()), address);
  EXPECT_EQ(std::string(Nth(root_, 0)->name), title);
  EXPECT_EQ(std::string(Nth(root_, 0)->extraAttributes.c_str()), "ICON=\"data:" + icon + "\"");
  EXPECT_EQ(std::string(Nth(root_, 1)->name), std::string(400, 'n'));
}

TEST_F(BookmarkReaderTest, DocumentTitleIsCutTo79AndMissingTitleKeepsThePrevious) {
  Read("<TITLE>  " + std::string(100, 'T') + "</TITLE>\n");
  EXPECT_EQ(std::string(record_.bookmarkTitle), std::string(79, 'T'));
  Read("<DL><p>\n</DL><p>\n");
  EXPECT_EQ(std::string(record_.bookmarkTitle), std::string(79, 'T'));
  Read("<Title>Mixed case</Title>\n");
  EXPECT_STREQ(record_.bookmarkTitle, "Mixed case");
  // The cut never splits a UTF-8 character; Latin-1 text is cut at the byte.
  std::string e;
  for (int i = 0; i < 50; ++i) e += "\xC3\xA9";
  Read("<TITLE>" + e + "</TITLE>\n");
  EXPECT_EQ(std::string(record_.bookmarkTitle), e.substr(0, 78));
  Read("<TITLE>x" + e + "</TITLE>\n");
  EXPECT_EQ(std::string(record_.bookmarkTitle), "x" + e.substr(0, 78));
  Read("<TITLE>" + std::string(100, '\xE9') + "</TITLE>\n");
  EXPECT_EQ(std::string(record_.bookmarkTitle), std::string(79, '\xE9'));
}

TEST_F(BookmarkReaderTest, EmptyAddressGivesAnEntryTakenForAFolder) {
  Read(
      "<DT><A HREF=\"\">Nothing</A>\n<DT><H3>nothing</H3>\n<DL><p>\n"
      "<DT><A HREF=\"http://x/\">x</A>\n</DL><p>\n");
  ASSERT_EQ(CountEntries(root_), 1);  // the folder line merged into it
  LinkEntry* e = Nth(root_, 0);
  EXPECT_TRUE(e->isFolder());
  EXPECT_EQ(CountEntries(e->children), 1);
  EXPECT_EQ(count_, 2);
}

TEST_F(BookmarkReaderTest, FoldersOfTheSameNameMergeUnderTheFirstName) {
  Read(
      "<DT><H3 ADD_DATE=\"1\">Misc</H3>\n<DL><p>\n<DT><A HREF=\"http://1/\">one</A>\n"
      "</DL><p>\n<DT><A HREF=\"http://1/\">one</A>\n"
      "<DT><H3 ADD_DATE=\"2\">MISC</H3>\n<DL><p>\n<DT><A HREF=\"http://2/\">two</A>\n"
      "</DL><p>\n");
  EXPECT_EQ(Dump(root_), "F Misc\n  L one <http://1/>\n  L two <http://2/>\nL one <http://1/>\n");
  EXPECT_EQ(Nth(root_, 0)->addDate, 1);
  EXPECT_EQ(count_, 3);  // links are never merged
}

TEST_F(BookmarkReaderTest, LinksInBrokenLinksAreNotCounted) {
  Read(
      "<DT><H3>Broken Links</H3>\n<DL><p>\n<DT><A HREF=\"http://1/\">1</A>\n"
      "<DT><H3>Inner</H3>\n<DL><p>\n<DT><A HREF=\"http://2/\">2</A>\n</DL><p>\n</DL><p>\n"
      "<DT><H3>broken links</H3>\n<DL><p>\n<DT><A HREF=\"http://3/\">3</A>\n</DL><p>\n"
      "<DT><A HREF=\"http://4/\">4</A>\n");
  EXPECT_EQ(count_, 2);  // 3 and 4
}

TEST_F(BookmarkReaderTest, LeavingANestedBrokenLinksFolderClearsTheFlagForTheOuterOne) {
  Read(
      "<DT><H3>Broken Links</H3>\n<DL><p>\n<DT><H3>Broken Links</H3>\n<DL><p>\n</DL><p>\n"
      "<DT><A HREF=\"http://counted/\">c</A>\n</DL><p>\n");
  EXPECT_EQ(count_, 1);
}

TEST_F(BookmarkReaderTest, SortedReadingOrdersByTitleAndDropsSeparators) {
  record_.flags |= FLAG_SORT_BOOKMARKS;
  Read(
      "<DT><A HREF=\"http://z/\">zebra</A>\n<HR>\n<DT><H3>Misc</H3>\n<DL><p>\n"
      "<DT><A HREF=\"http://d/\">delta</A>\n<DT><A HREF=\"http://b/\">Beta</A>\n</DL><p>\n"
      "<DT><A HREF=\"http://a/\">alpha</A>\n<HR>    <DT><A HREF=\"http://n/\">news</A>\n");
  EXPECT_EQ(Dump(root_),
            "L alpha <http://a/>\nF Misc\n  L Beta <http://b/>\n  L delta <http://d/>\n"
            "L news <http://n/>\nL zebra <http://z/>\n");
}

TEST_F(BookmarkReaderTest, SortedReadingOrdersAsInsertingEachEntryInTurn) {
  record_.flags |= FLAG_SORT_BOOKMARKS;
  std::string text = "<DT><H3>F</H3>\n<DL><p>\n";
  NodeList expected;
  unsigned seed = 7;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245 + 12345;
    std::string name(
        1, static_cast<char>((seed >> 16) % 2 ? 'a' + (seed >> 8) % 4 : 'A' + (seed >> 8) % 4));
    name += std::to_string((seed >> 20) % 5);
    if (i == 1500) text += "</DL><p>\n<DT><H3>f</H3>\n<DL><p>\n";  // merged: goes on in F
    text += "<DT><A HREF=\"http://" + std::to_string(i) + "/\">" + name + "</A>\n";
    expected.insertSorted(new LinkEntry(name.c_str(), std::to_string(i).c_str(), 0));
  }
  text += "</DL><p>\n";
  Read(text);
  std::string got, want;
  for (Node* n = Nth(root_, 0)->children.head(); n->next; n = n->next)
    got += std::string(n->name) + "=" + LinkEntry::of(n)->url.c_str() + " ";
  for (Node* n = expected.head(); n->next; n = n->next)
    want += std::string(n->name) + "=http://" + LinkEntry::of(n)->url.c_str() + "/ ";
  EXPECT_EQ(got, want);
  FreeTree(expected);
  // A list that held entries before the read keeps the insertion rule, a nameless entry
  // included: later entries land in front of it.
  FreeTree(root_);
  root_.addTail(new LinkEntry());
  int32_t count = 0;
  std::string more = "<DT><A HREF=\"http://b/\">b</A>\n<DT><A HREF=\"http://a/\">a</A>\n";
  ReadBookmarkText(more.data(), more.size(), root_, count);
  EXPECT_EQ(Dump(root_), "L a <http://a/>\nL b <http://b/>\n---\n");
  // A very long folder is sorted without a walk per entry.
  std::string many;
  for (int i = 0; i < 200000; ++i)
    many += "<DT><A HREF=\"http://x/\">" + std::to_string((i * 7919) % 200000) + "</A>\n";
  Read(many);
  EXPECT_STREQ(Nth(root_, 0)->name, "0");
  EXPECT_STREQ(Nth(root_, 1)->name, "1");
  EXPECT_STREQ(Nth(root_, 2)->name, "10");
}

TEST_F(BookmarkReaderTest, AStrayListEndAtTheTopEndsTheFile) {
  Read("<DT><A HREF=\"http://1/\">1</A>\n</DL><p>\n<DT><A HREF=\"http://2/\">2</A>\n");
  EXPECT_EQ(Dump(root_), "L 1 <http://1/>\n");
}

TEST_F(BookmarkReaderTest, TheLastLineIsReadWithoutALineEnd) {
  Read("<DT><A HREF=\"http://1/\">1</A>\n<DT><A HREF=\"http://2/\">2</A>");
  EXPECT_EQ(count_, 2);
}

TEST_F(BookmarkReaderTest, ListEndWithoutParagraphEndsTheListAndEachOneCounts) {
  Read(
      "<DL>\n<DT><H3>A</H3>\n<DL>\n<DT><A HREF=\"http://1/\">1</A>\n</DL>\n<p>\n"
      "<DT><H3>B</H3>\n<DL><p>\n<DT><H3>C</H3>\n<DL><p>\n</DL><p></DL><p>\n"
      "<DT><A HREF=\"http://2/\">2</A>\n</DL>\n");
  EXPECT_EQ(Dump(root_), "F A\n  L 1 <http://1/>\nF B\n  F C\nL 2 <http://2/>\n");
}

TEST_F(BookmarkReaderTest, OtherGeneratorsLinksAndFoldersAreFound) {
  Read(
      "<DL>\n  <p>\n    <DT>\n    <H3 ADD_DATE=\"5\">Saved</H3>\n    <DL>\n"
      "        <DT>\n        <A ADD_DATE=\"7\" HREF=\"http://g/\">G</A>\n"
      "        <DT><A FEEDURL=\"http://feed/\" HREF=\"http://site/\">Live</A>\n"
      "    </DL>\n</DL>\n");
  EXPECT_EQ(Dump(root_), "F Saved\n  L G <http://g/>\n  L Live <http://site/>\n");
  LinkEntry* g = Nth(Nth(root_, 0)->children, 0);
  EXPECT_EQ(g->addDate, 7);
  EXPECT_EQ(std::string(Nth(Nth(root_, 0)->children, 1)->extraAttributes.c_str()),
            "FEEDURL=\"http://feed/\"");
  EXPECT_EQ(Nth(root_, 0)->addDate, 5);
}

TEST_F(BookmarkReaderTest, DescriptionsBelongToTheEntryBeforeThemAndMayHoldTags) {
  Read(
      "<H1>x</H1>\n<DD>The whole file\n<DL><p>\n"
      "<DT><A HREF=\"http://1/\">1</A>\n"
      "<DD>First line\n<a href=\"http://inside/\"><img src=\"i.png\"/></a>\n\nlast</DD>\n"
      "<DT><H3>F</H3>\n\t<DD><A HREF=\"http://not-a-link/\">x</A>\n<DL><p>\n</DL><p>\n"
      "<DT><A HREF=\"http://2/\">2</A>\r\n<DD>crlf\r\nlines\r\n"
      "<DT><A HREF=\"http://3/\">3</A>\n<DD>\n</DL><p>\n");
  EXPECT_EQ(Dump(root_), "L 1 <http://1/>\nF F\nL 2 <http://2/>\nL 3 <http://3/>\n");
  EXPECT_EQ(count_, 3);
  EXPECT_STREQ(record_.bookmarkDescription.c_str(), "The whole file");
  EXPECT_EQ(std::string(Nth(root_, 0)->description.c_str()),
            "First line\n<a href=\"http://inside/\"><img src=\"i.png\"/></a>\n\nlast</DD>");
  EXPECT_STREQ(Nth(root_, 1)->description.c_str(), "<A HREF=\"http://not-a-link/\">x</A>");
  EXPECT_STREQ(Nth(root_, 2)->description.c_str(), "crlf\r\nlines");
  LinkEntry* three = Nth(root_, 3);
  EXPECT_NE(three->description.data, nullptr);  // an empty description is still there
  EXPECT_EQ(three->description.length, 0);
}

TEST_F(BookmarkReaderTest, ARuleOnTheLineOfAnElementGivesBoth) {
  Read(
      "<DL><p>\n<DT><H3>F</H3>\n<DL><p>\n<DT><A HREF=\"http://1/\">1</A>\n"
      "<HR>    </DL><p>\n<HR>    <DT><A HREF=\"http://2/\">2</A>\n"
      "<HR>    <DT><H3>G</H3>\n<DL><p>\n</DL><p>\n<DT><A HREF=\"http://3/\">3 <HR></A>\n");
  // A rule is an element wherever it stands, also where a title was still open.
  EXPECT_EQ(Dump(root_),
            "F F\n  L 1 <http://1/>\n  ---\n---\nL 2 <http://2/>\n---\nF G\n"
            "L 3 <http://3/>\n---\n");
}

TEST_F(BookmarkReaderTest, OtherAttributesAreKeptInOrderBesideTheOnesRead) {
  Read(
      "<DT><H3 FOLDED ADD_DATE=\"1\" LAST_MODIFIED=\"2\" PERSONAL_TOOLBAR_FOLDER=\"true\">T"
      "</H3>\n<DL><p>\n"
      "<DT><A ICON_URI=\"u\" HREF=\"http://x/\" ADD_DATE=\"3\" TAGS='a,b' PRIVATE=0 "
      "LAST_VISIT=\"4\" duckduckgo:favorite=\"true\" ADD_DATE=\"9\">x</A>\n");
  LinkEntry* folder = Nth(root_, 0);
  EXPECT_STREQ(folder->extraAttributes.c_str(),
               "LAST_MODIFIED=\"2\" PERSONAL_TOOLBAR_FOLDER=\"true\"");
  LinkEntry* link = Nth(folder->children, 0);
  EXPECT_STREQ(link->extraAttributes.c_str(),
               "ICON_URI=\"u\" TAGS='a,b' PRIVATE=0 duckduckgo:favorite=\"true\" "
               "ADD_DATE=\"9\"");
  EXPECT_EQ(link->addDate, 3);
  EXPECT_EQ(link->lastVisit, 4);
}

TEST_F(BookmarkReaderTest, HeaderMetaTagsAreKeptEvenOverSeveralLines) {
  Read(
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<!-- c --><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">"
      "<TITLE>T</TITLE>\n"
      "<meta http-equiv=\"Content-Security-Policy\"\n"
      "      content=\"default-src 'self'; a > b\"></meta>\n"
      "<DL><p>\n<META NAME=\"late\" CONTENT=\"not in the header\">\n");
  EXPECT_STREQ(record_.bookmarkHeader.c_str(),
               "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\r\n"
               "<meta http-equiv=\"Content-Security-Policy\"\n"
               "      content=\"default-src 'self'; a > b\">\r\n");
  EXPECT_STREQ(record_.bookmarkTitle, "T");
  Read("<DL><p>\n</DL><p>\n");  // a new read forgets the old header
  EXPECT_EQ(record_.bookmarkHeader.length, 0);
}

TEST_F(BookmarkReaderTest, UnterminatedQuotesRunToTheEndOfTheLine) {
  Read(
      "<DT><A HREF=\"http://open/>title</A>\n<DT><A HREF=\"http://x/\" ICON=\"abc>t</A>\n"
      "<DT><H3 ADD_DATE=\"1>folder</H3>\n<DT><A HREF=\"http://after/\">after</A>\n");
  LinkEntry* a = Nth(root_, 0);
  EXPECT_STREQ(a->url.c_str(), "http://open/>title</A>");
  EXPECT_STREQ(a->name, "");
  LinkEntry* b = Nth(root_, 1);
  EXPECT_STREQ(b->extraAttributes.c_str(), "ICON=\"abc>t</A>\"");  // quote closed for a save
  LinkEntry* f = Nth(root_, 2);
  ASSERT_TRUE(f->isFolder());
  EXPECT_EQ(CountEntries(f->children), 1);  // nesting goes on as written
}

TEST_F(BookmarkReaderTest, AnyLineEndWorks) {
  const std::string lines[] = {"<DL><p>",  "<DT><H3>F</H3>",
                               "<DL><p>",  "<DT><A HREF=\"http://1/\">1</A>",
                               "</DL><p>", "<DT><A HREF=\"http://2/\">2</A>",
                               "</DL><p>"};
  for (const char* end : {"\r\n", "\n", "\r", "\n\r", "\r\r", "\n\n"}) {
    std::string text;
    for (const std::string& l : lines) text += l + end;
    Read(text);
    EXPECT_EQ(Dump(root_), "F F\n  L 1 <http://1/>\nL 2 <http://2/>\n") << "line end " << end;
  }
}

TEST_F(BookmarkReaderTest, BadInputNeverCrashesOrHangs) {
  Read("");
  EXPECT_TRUE(root_.isEmpty());
  std::string garbage;
  unsigned seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245 + 12345;
    garbage += static_cast<char>(seed >> 16);
    if (i % 997 == 0) garbage += "<DT><A HREF=\"";
    if (i % 1409 == 0) garbage += "<DT><H3>";
    if (i % 1999 == 0) garbage += "</DL><p>";
  }
  Read(garbage);
  // A NUL is an ordinary byte: it ends an address or a name (zero-terminated texts), and
  // reading goes on after it.
  const char kNuls[] =
      "<DT><A HREF=\"http://a\0b/\">t\0itle</A>\n<DD>x\0y\nmore\n<DT><A HREF=\"http://c/\">c</A>\n";
  std::string nuls(kNuls, sizeof kNuls - 1);
  Read(nuls);
  ASSERT_EQ(CountEntries(root_), 2);
  EXPECT_STREQ(Nth(root_, 0)->url.c_str(), "http://a");
  EXPECT_EQ(Nth(root_, 0)->url.length, 8);
  EXPECT_STREQ(Nth(root_, 0)->name, "t");
  const TextString& kept = Nth(root_, 0)->description;
  EXPECT_EQ(std::string(kept.data, kept.length), std::string("x\0y\nmore", 8));
  EXPECT_STREQ(Nth(root_, 1)->url.c_str(), "http://c/");
  std::string longLine(10 * 1024 * 1024, 'x');
  longLine.replace(100, 13, "<A HREF=\"http");
  Read(longLine);
  EXPECT_EQ(CountEntries(root_), 1);
  Read(std::string(10 * 1024 * 1024, '<'));
  EXPECT_TRUE(root_.isEmpty());
  // Reading stays linear in the size of the file whatever it holds: 1.2 MB of each of these
  // would take many seconds if any search looked ahead from every element.
  for (const char* unit :
       {"<META\n", "<META>\n", "<META ", "<!--", "<A HREF=\"", "<TITLE>", "<H1>", "<DD>",
        "<DT><A HREF=x>", "<DT><H3>", "\"<", "<HR x=\"\n", "<DT><H3>F</H3><DD>d<DL></DL>"}) {
    std::string hostile;
    while (hostile.size() < 1200000) hostile += unit;
    Read(hostile);
  }
}

TEST_F(BookmarkReaderTest, VeryDeepNestingIsReadWithoutRecursion) {
  const int depth = 100000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<DT><H3>f</H3>\n<DL><p>\n";
  text += "<DT><A HREF=\"http://deep/\">deep</A>\n";
  for (int i = 0; i < depth; ++i) text += "</DL><p>\n";
  text += "<DT><A HREF=\"http://top/\">top</A>\n";
  Read(text);
  EXPECT_EQ(count_, 2);
  const NodeList* list = &root_;
  int levels = 0;
  while (!list->isEmpty() && LinkEntry::of(list->head())->isFolder()) {
    list = &LinkEntry::of(list->head())->children;
    ++levels;
  }
  EXPECT_EQ(levels, depth);
  EXPECT_STREQ(LinkEntry::of(list->head())->url.c_str(), "http://deep/");
  TextString deep;
  deep.assign("HTTP://DEEP/");
  EXPECT_EQ(FindCheckedByUrl(deep, root_), nullptr);  // unchecked: walks all, finds none
  LinkEntry::of(list->head())->checkResult = 404;
  EXPECT_EQ(FindCheckedByUrl(deep, root_), LinkEntry::of(list->head()));
}

TEST_F(BookmarkReaderTest, Utf16IsRecognised) {
  EXPECT_TRUE(LooksLikeUtf16("\xFF\xFE<\0D\0", 6));
  EXPECT_TRUE(LooksLikeUtf16("\xFE\xFF\0<\0D", 6));
  EXPECT_TRUE(LooksLikeUtf16("<\0D\0L\0", 6));
  EXPECT_FALSE(LooksLikeUtf16("<DL><p>\n", 8));
  EXPECT_FALSE(LooksLikeUtf16("\xEF\xBB\xBF<DL>", 7));  // UTF-8 with its mark is fine
  EXPECT_FALSE(LooksLikeUtf16("\0\0\0", 3));
  // A NUL byte that a shortcut put into an address is an ordinary byte of an 8-bit file.
  EXPECT_FALSE(LooksLikeUtf16("<DT><A HREF=\"http://a\0b/\">a</A>\n", 32));
}

class BookmarkFileTest : public BookmarkReaderTest {
 protected:
  void SetUp() override {
    BookmarkReaderTest::SetUp();
    char dir[] = "/tmp/qf-bm-readXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/bookmark.htm";
    record_.bookmarkFile.assign(path_.c_str());
  }
  void TearDown() override {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
    BookmarkReaderTest::TearDown();
  }
  void Write(const std::string& bytes) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::string dir_, path_;
};

TEST_F(BookmarkFileTest, ReadsTheFileNamedInTheSettings) {
  Write("<TITLE>File</TITLE>\n<DL><p>\n<DT><A HREF=\"http://1/\">1</A>\n</DL><p>\n");
  EXPECT_TRUE(ReadBookmarkFile(nullptr, root_, count_));
  EXPECT_EQ(count_, 1);
  EXPECT_STREQ(record_.bookmarkTitle, "File");
  // A file larger than one read block arrives whole.
  std::string big;
  for (int i = 0; i < 20000; ++i)
    big += "<DT><A HREF=\"http://host/" + std::to_string(i) + "\">link " + std::to_string(i) +
           "</A>\r\n";
  Write(big + "<DT><A HREF=\"http://last/\">last</A>");
  FreeTree(root_);
  count_ = 0;
  EXPECT_TRUE(ReadBookmarkFile(nullptr, root_, count_));
  EXPECT_EQ(count_, 20001);
  EXPECT_STREQ(LinkEntry::of(root_.tailPred())->url.c_str(), "http://last/");
}

TEST_F(BookmarkFileTest, MissingLockedAndUtf16FilesAreNotRead) {
  EXPECT_FALSE(ReadBookmarkFile(nullptr, root_, count_));  // missing
  Write(std::string("\xFF\xFE<\0D\0T\0>\0", 10));
  EXPECT_FALSE(ReadBookmarkFile(nullptr, root_, count_));
  Write(std::string("<\0A\0 \0H\0R\0E\0F\0", 14));
  EXPECT_FALSE(ReadBookmarkFile(nullptr, root_, count_));
  Write("<DT><A HREF=\"http://1/\">1</A>\n");
  InputFile other;
  ASSERT_TRUE(other.open(path_.c_str()));
  EXPECT_FALSE(ReadBookmarkFile(nullptr, root_, count_));  // no sharing
  other.close();
  EXPECT_TRUE(ReadBookmarkFile(nullptr, root_, count_));
  EXPECT_EQ(count_, 1);
  record_.bookmarkFile.assign(dir_.c_str());
  EXPECT_FALSE(ReadBookmarkFile(nullptr, root_, count_));  // a directory
}

TEST_F(BookmarkFileTest, TheLogSaysWhatHappened) {
  HeadlessMainWindow main;
  EXPECT_FALSE(ReadBookmarkFile(main.window, root_, count_));
  EXPECT_EQ(main.log(), "Couldn't open Navigator Bookmark file!\r\n");
  Write("<DT><A HREF=\"http://1/\">1</A>\n");
  EXPECT_TRUE(ReadBookmarkFile(main.window, root_, count_));
  EXPECT_EQ(main.log(),
            "Couldn't open Navigator Bookmark file!\r\nReading Navigator Bookmarks...\r\n");
}

TEST_F(BookmarkFileTest, AnEmptyFileGivesAnEmptyTree) {
  Write("");
  EXPECT_TRUE(ReadBookmarkFile(nullptr, root_, count_));
  EXPECT_TRUE(root_.isEmpty());
  EXPECT_EQ(count_, 0);
}

}  // namespace
