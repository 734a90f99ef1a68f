#include "tree/link_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Names(const NodeList& list) {
  std::string out;
  for (Node* n = list.head(); n->next; n = n->next) {
    if (!out.empty()) out += ",";
    out += n->name ? n->name : "-";
  }
  return out;
}

// Checks both directions of the links, so that a broken prev pointer shows.
std::string NamesBackwards(const NodeList& list) {
  std::string out;
  for (Node* n = list.tailPred(); n->prev; n = n->prev) {
    if (!out.empty()) out = "," + out;
    out = (n->name ? n->name : "-") + out;
  }
  return out;
}

class LinkTreeTest : public ::testing::Test {
 protected:
  void TearDown() override { FreeTree(list_); }
  LinkEntry* Add(const char* name) {
    auto* e = new LinkEntry(name, nullptr, 0);
    list_.addTail(e);
    return e;
  }
  NodeList list_;
};

TEST_F(LinkTreeTest, AnEmptyListIsEmptyAndWalksNothing) {
  EXPECT_TRUE(list_.isEmpty());
  EXPECT_EQ(list_.head()->next, nullptr);
  EXPECT_EQ(list_.tailPred()->prev, nullptr);
  list_.addHead(nullptr);
  list_.addTail(nullptr);
  list_.insertBefore(nullptr, nullptr);
  list_.insertSorted(nullptr);
  EXPECT_TRUE(list_.isEmpty());
  EXPECT_EQ(list_.findByName(nullptr, "x"), nullptr);
}

TEST_F(LinkTreeTest, InsertionsKeepBothDirections) {
  LinkEntry* b = Add("b");
  list_.addHead(new LinkEntry("a", nullptr, 0));
  Add("d");
  list_.insertBefore(new LinkEntry("c", nullptr, 0), list_.tailPred());
  list_.insertBefore(new LinkEntry("first", nullptr, 0), nullptr);
  list_.insertBefore(new LinkEntry("0", nullptr, 0), list_.head());
  EXPECT_EQ(Names(list_), "0,first,a,b,c,d");
  EXPECT_EQ(NamesBackwards(list_), Names(list_));
  b->unlink();
  delete b;
  EXPECT_EQ(Names(list_), "0,first,a,c,d");
  EXPECT_EQ(NamesBackwards(list_), Names(list_));
}

TEST_F(LinkTreeTest, UnlinkOfFirstLastAndOnlyNodes) {
  LinkEntry* only = Add("only");
  only->unlink();
  EXPECT_TRUE(list_.isEmpty());
  EXPECT_EQ(only->next, nullptr);
  EXPECT_EQ(only->prev, nullptr);
  only->unlink();  // an unlinked node: nothing happens
  list_.addTail(only);
  LinkEntry* last = Add("last");
  only->unlink();
  EXPECT_EQ(list_.head(), last);
  list_.addHead(only);
  last->unlink();
  EXPECT_EQ(list_.tailPred(), only);
  EXPECT_EQ(Names(list_), "only");
  delete last;
}

TEST_F(LinkTreeTest, InsertSortedOrdersByNameFoldingOnlyAsciiLetters) {
  list_.insertSorted(new LinkEntry("Beta", nullptr, 0));
  EXPECT_EQ(Names(list_), "Beta");
  FreeTree(list_);
  Add("Alpha");
  Add("delta");
  list_.insertSorted(new LinkEntry("Beta", nullptr, 0));
  EXPECT_EQ(Names(list_), "Alpha,Beta,delta");
  FreeTree(list_);
  Add("News");
  Add("Zebra");
  list_.insertSorted(new LinkEntry("news", nullptr, 0));
  EXPECT_EQ(Names(list_), "News,news,Zebra");
  list_.insertSorted(new LinkEntry());  // a nameless node goes first
  EXPECT_EQ(Names(list_), "-,News,news,Zebra");
  list_.insertSorted(new LinkEntry("aaa", nullptr, 0));  // stopped by the nameless node
  EXPECT_EQ(Names(list_), "aaa,-,News,news,Zebra");
  EXPECT_LT(CompareNames("_x", "ax"), 0);   // underscore sorts before the letters
  EXPECT_GT(CompareNames("\xC9", "e"), 0);  // no folding beyond A to Z
  EXPECT_EQ(NamesBackwards(list_), Names(list_));
}

TEST_F(LinkTreeTest, FindByNameSearchesOnFromANode) {
  Add("One");
  list_.addTail(new LinkEntry());
  LinkEntry* two = Add("two");
  LinkEntry* again = Add("ONE");
  EXPECT_EQ(list_.findByName(nullptr, "one"), list_.head());
  EXPECT_EQ(list_.findByName(list_.head(), "one"), again);
  EXPECT_EQ(list_.findByName(again, "one"), nullptr);  // after the last node
  EXPECT_EQ(list_.findByName(nullptr, "TWO"), two);
  EXPECT_EQ(list_.findByName(nullptr, ""), nullptr);  // the nameless node is never found
}

TEST_F(LinkTreeTest, ConstructionFormsAndTheKindOfAnEntry) {
  LinkEntry separator;
  EXPECT_TRUE(separator.isSeparator());
  EXPECT_EQ(separator.source, SOURCE_BOOKMARKS);
  EXPECT_EQ(separator.action, ACTION_LEAVE);
  EXPECT_EQ(separator.checkResult, CHECK_NONE);
  LinkEntry folder("Folder", nullptr, 0);
  EXPECT_TRUE(folder.isFolder());
  LinkEntry link("Title", "http://x/", 1234);
  EXPECT_TRUE(link.isLink());
  EXPECT_EQ(link.lastVisit, 1234);
  EXPECT_EQ(link.addDate, 0);
  EXPECT_NE(link.name, nullptr);
  EXPECT_EQ(link.name, link.nameBuffer);
  link.setName(nullptr);
  EXPECT_EQ(link.name, nullptr);
  EXPECT_EQ(link.nameBuffer, nullptr);
  link.setName("ab\0cd", 2);
  EXPECT_STREQ(link.name, "ab");
}

TEST_F(LinkTreeTest, ACopyTakesTheFieldsButNeitherChildrenNorAction) {
  LinkEntry* folder = Add("F");
  folder->children.addTail(new LinkEntry("child", "http://c/", 0));
  folder->action = ACTION_DELETE;
  folder->source = SOURCE_FAVORITES | SOURCE_BOOKMARKS;
  folder->checkResult = 301;
  folder->newUrl.assign("http://new/");
  folder->addDate = 5;
  folder->lastModified = 6;
  folder->lastVisit = 7;
  folder->extraAttributes.assign("ICON=\"x\"");
  folder->description.assign("");
  folder->dateText.assign("A0005\n");
  LinkEntry copy(*folder);
  EXPECT_TRUE(copy.children.isEmpty());
  EXPECT_EQ(copy.action, ACTION_LEAVE);
  EXPECT_STREQ(copy.name, "F");
  EXPECT_NE(copy.name, folder->name);
  EXPECT_EQ(copy.source, 3);
  EXPECT_EQ(copy.checkResult, 301);
  EXPECT_STREQ(copy.newUrl.c_str(), "http://new/");
  EXPECT_EQ(copy.addDate, 5);
  EXPECT_EQ(copy.lastModified, 6);
  EXPECT_EQ(copy.lastVisit, 7);
  EXPECT_STREQ(copy.extraAttributes.c_str(), "ICON=\"x\"");
  EXPECT_NE(copy.description.data, nullptr);  // an empty description stays a description
  EXPECT_STREQ(copy.dateText.c_str(), "A0005\n");
  LinkEntry plain(*LinkEntry::of(folder->children.head()));
  EXPECT_EQ(plain.description.data, nullptr);
}

TEST_F(LinkTreeTest, FreeTreeFreesEveryLevel) {
  FreeTree(list_);  // empty: nothing to do
  LinkEntry* a = Add("a");
  LinkEntry* b = new LinkEntry("b", nullptr, 0);
  a->children.addTail(b);
  LinkEntry* c = new LinkEntry("c", nullptr, 0);
  b->children.addTail(c);
  c->children.addTail(new LinkEntry("link", "http://l/", 0));
  Add("d");
  FreeTree(list_);  // the sanitizer build reports anything left behind
  EXPECT_TRUE(list_.isEmpty());
}

TEST_F(LinkTreeTest, FindCheckedByUrlSearchesDepthFirstAmongCheckedLinks) {
  LinkEntry* folder = Add("F");
  auto* unchecked = new LinkEntry("u", "http://Same/", 0);
  folder->children.addTail(unchecked);
  auto* inner = new LinkEntry("Broken Links", nullptr, 0);
  folder->children.addTail(inner);
  auto* deep = new LinkEntry("deep", "http://SAME/", 0);
  deep->checkResult = 404;
  inner->children.addTail(deep);
  auto* later = new LinkEntry("later", "http://same/", 0);
  later->checkResult = 200;
  list_.addTail(later);
  TextString address;
  address.assign("http://same/");
  EXPECT_EQ(FindCheckedByUrl(address, list_), deep);
  deep->checkResult = CHECK_NONE;
  EXPECT_EQ(FindCheckedByUrl(address, list_), later);
  address.assign("http://other/");
  EXPECT_EQ(FindCheckedByUrl(address, list_), nullptr);
}

TEST_F(LinkTreeTest, VeryDeepTreesAreWalkedAndFreedWithoutRecursion) {
  NodeList* list = &list_;
  for (int i = 0; i < 200000; ++i) {
    auto* folder = new LinkEntry("f", nullptr, 0);
    list->addTail(folder);
    list = &folder->children;
  }
  auto* link = new LinkEntry("x", "http://x/", 0);
  link->checkResult = 200;
  list->addTail(link);
  TextString address;
  address.assign("HTTP://X/");
  EXPECT_EQ(FindCheckedByUrl(address, list_), link);
  FreeTree(list_);
  EXPECT_TRUE(list_.isEmpty());
}

}  // namespace
