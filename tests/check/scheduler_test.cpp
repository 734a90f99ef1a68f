#include "check/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tree/settings.h"
#include "check/clean_run_state.h"
#include "check/recording_window.h"
#include "support/headless_fixture.h"
#include "support/http_test_server.h"
#include "support/cat.h"

// A failing allocator: allocations of the thread that arms it fail from the nth on (only
// that one, or every later one too); every other thread allocates as usual.
namespace {
thread_local long allocationsBeforeFailure = -1;  // -1: never fail
thread_local bool failuresPersist = false;
thread_local long failuresInjected = 0;

bool AllocationFails() {
  if (allocationsBeforeFailure < 0) return false;
  if (allocationsBeforeFailure > 0) {
    --allocationsBeforeFailure;
    return false;
  }
  if (!failuresPersist) allocationsBeforeFailure = -1;
  ++failuresInjected;
  return true;
}
}  // namespace

// Out of line like the releases below, so that GCC pairs them as it should.
[[gnu::noinline]] void* operator new(std::size_t size) {
  void* block = AllocationFails() ? nullptr : std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  return block;
}
[[gnu::noinline]] void* operator new[](std::size_t size) { return ::operator new(size); }
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocationFails() ? nullptr : std::malloc(size ? size : 1);
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
// Out of line: inlined into a caller, GCC would take the free() for a mismatched release of
// what operator new returned.
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace {

using Reply = HttpTestServer::Reply;

LinkEntry* AddLink(NodeList& list, const std::string& url, int32_t source = SOURCE_BOOKMARKS,
                   TimeValue visit = 0) {
  auto* entry = new LinkEntry("link", url.c_str(), visit);
  entry->source = source;
  list.addTail(entry);
  return entry;
}

LinkEntry* AddFolder(NodeList& list, const char* name) {
  auto* folder = new LinkEntry(name, "", 0);
  list.addTail(folder);
  return folder;
}

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class SchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings = &own_;
    own_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES;
    own_.retries = 0;
    own_.threadCount = 1;
    server_.setDefaultReply(Reply::Status("HTTP/1.0 200 OK"));
  }
  void TearDown() override {
    FreeTree(tree_);
    schedulerTuning = SchedulerTuning();
    abortRequested = false;
    settings = saved_;
  }
  bool run() { return CheckAllLinks(&window_, tree_, tree_); }
  std::string url(const std::string& path) { return server_.url(path); }
  std::vector<std::string> targets() {
    std::vector<std::string> out;
    for (auto& r : server_.requests()) out.push_back(r.target);
    return out;
  }

  Settings own_;
  Settings* saved_ = nullptr;
  HttpTestServer server_;
  RecordingWindow window_;
  NodeList tree_;
};

TEST_F(SchedulerTest, OneThreadChecksLinksStrictlyInTreeOrder) {
  AddLink(tree_, url("/1"));
  LinkEntry* folder = AddFolder(tree_, "Folder");
  AddLink(folder->children, url("/2"));
  AddLink(folder->children, url("/3"));
  AddLink(tree_, url("/4"));
  window_.addThreadRows(1);
  EXPECT_TRUE(run());
  EXPECT_EQ(targets(), (std::vector<std::string>{"/1", "/2", "/3", "/4"}));
  std::string expected;
  for (int i = 1; i <= 4; ++i) {
    std::string n = std::to_string(i);
    expected += n + ": Connecting to 127.0.0.1:" + std::to_string(server_.port()) + "...\r\n" + n +
                ": Retrieving information for /" + n + "...\r\n" + n + ": HTTP/1.0 200 OK\r\n";
  }
  EXPECT_EQ(window_.log(), expected);
  EXPECT_EQ(server_.maxConcurrent(), 1);
  window_.inspect([](RecordingControls& c) {
    EXPECT_EQ(c.progressSteps, 4);
    EXPECT_EQ(c.counterHistory, (std::vector<std::string>{"1", "0", "1", "0", "1", "0", "1", "0"}));
    EXPECT_TRUE(c.rows.empty());
    EXPECT_EQ(c.removedSlots, std::vector<int>{0});
    return 0;
  });
}

TEST_F(SchedulerTest, NeverMoreWorkersThanThreadCount) {
  own_.threadCount = 3;
  server_.setDefaultReply(Reply::Status("HTTP/1.0 404 Not Found").delayed(20));
  for (int i = 0; i < 12; ++i) AddLink(tree_, url(Cat("/", i)));
  window_.addThreadRows(3);
  EXPECT_TRUE(run());
  EXPECT_EQ(server_.requestCount(), 24u);  // HEAD, then GET before each is called broken
  EXPECT_LE(server_.maxConcurrent(), 3);
  for (Node* n = tree_.head(); n->next; n = n->next)
    EXPECT_EQ(LinkEntry::of(n)->checkResult.load(), CHECK_NOT_FOUND);
  window_.inspect([](RecordingControls& c) {
    EXPECT_EQ(c.progressSteps, 12);
    for (auto& text : c.counterHistory) EXPECT_LE(std::stoi(text), 3);
    EXPECT_EQ(c.counterHistory.back(), "0");
    EXPECT_TRUE(c.rows.empty());
    EXPECT_EQ(CountOf(c.texts[IDC_PROBLEMS], "Not found: "), 12);
    return 0;
  });
}

TEST_F(SchedulerTest, DuplicateOfAFinishedLinkTakesOverItsResult) {
  server_.setReply("/old", Reply::Status("HTTP/1.0 301 Moved", "Location: /new\r\n"));
  LinkEntry* first = AddLink(tree_, url("/old"));
  // With one thread the walk waits for the first worker before it hands out the second
  // link, so the first result is there when the duplicate is met.
  AddLink(tree_, url("/between"));
  LinkEntry* folder = AddFolder(tree_, "F");
  std::string upper = url("/old");
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  upper.replace(upper.find("/OLD"), 4, "/old");  // the host part differs in case only
  LinkEntry* second = AddLink(folder->children, upper);
  EXPECT_TRUE(run());
  EXPECT_EQ(targets(), (std::vector<std::string>{"/old", "/new", "/between"}));
  EXPECT_EQ(first->checkResult.load(), CHECK_MOVED);
  EXPECT_EQ(second->checkResult.load(), CHECK_MOVED);
  EXPECT_STREQ(second->newUrl.c_str(), url("/new").c_str());
  EXPECT_EQ(window_.progressSteps(), 3);
  EXPECT_EQ(CountOf(window_.problems(), "Moved: "), 1);  // a duplicate writes no line
}

TEST_F(SchedulerTest, DuplicateWhileTheTwinIsStillCheckedIsCheckedToo) {
  own_.threadCount = 2;
  server_.setReply("/slow", Reply::Status("HTTP/1.0 404 Not Found").held("go"));
  LinkEntry* first = AddLink(tree_, url("/slow"));
  LinkEntry* second = AddLink(tree_, url("/slow"));
  bool result = false;
  std::thread runner([&] { result = run(); });
  ASSERT_TRUE(server_.waitForRequests(2));
  server_.openGate("go");
  runner.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(first->checkResult.load(), CHECK_NOT_FOUND);
  EXPECT_EQ(second->checkResult.load(), CHECK_NOT_FOUND);
  EXPECT_EQ(CountOf(window_.problems(), "Not found: "), 2);
}

// Three names for the one loopback server: the server counts each by its Host line.
TEST_F(SchedulerTest, NoMoreThanTheHostLimitAtOnceWhileOtherHostsKeepTheThreadsBusy) {
  SetNetResolver(NetResolverFromTable({{"h0.test", {"127.0.0.1"}, "", 0},
                                       {"h1.test", {"127.0.0.1"}, "", 0},
                                       {"h2.test", {"127.0.0.1"}, "", 0}}));
  own_.threadCount = 8;
  own_.hostThreads = 2;
  server_.setDefaultReply(Reply::Status("HTTP/1.0 200 OK").held("go"));
  // The first host's links come first in the tree: with nothing but a thread limit they
  // would take all eight threads.
  const int kLinks = 24;
  for (int i = 1; i <= kLinks; ++i) {
    int host = i <= 12 ? 0 : (i % 2) + 1;
    AddLink(tree_, "http://h" + std::to_string(host) + ".test:" + std::to_string(server_.port()) +
                       "/" + std::to_string(i));
  }
  bool result = false;
  std::thread runner([&] { result = run(); });
  // Two per host are held at once, all three hosts served, before any answer comes.
  bool allThree = server_.waitForRequests(6);
  server_.openGate("go");
  runner.join();
  SetNetResolver(nullptr);
  EXPECT_TRUE(allThree);
  EXPECT_TRUE(result);
  EXPECT_EQ(server_.requestCount(), static_cast<size_t>(kLinks));
  for (const char* host : {"h0.test", "h1.test", "h2.test"})
    EXPECT_EQ(server_.maxConcurrentForHost(host), 2) << host;
  // A link that waited for its host keeps the number of its place in the tree.
  std::string log = window_.log();
  for (int i = 1; i <= kLinks; ++i) {
    std::string n = std::to_string(i);
    EXPECT_NE(log.find(n + ": Retrieving information for /" + n + "...\r\n"), std::string::npos)
        << n;
  }
  EXPECT_EQ(window_.progressSteps(), kLinks);
}

TEST_F(SchedulerTest, FoldersSeparatorsAndBrokenLinksAreWalkedAsTheyShould) {
  LinkEntry* broken = AddFolder(tree_, "bROKEN lINKS");
  AddLink(broken->children, url("/never"));
  LinkEntry* similar = AddFolder(tree_, "Broken Links 2");
  AddLink(similar->children, url("/walked"));
  AddFolder(tree_, "Empty");
  tree_.addTail(new LinkEntry());  // separator
  EXPECT_TRUE(run());
  EXPECT_EQ(targets(), std::vector<std::string>{"/walked"});
  EXPECT_EQ(window_.progressSteps(), 1);
}

TEST_F(SchedulerTest, AgeTestPassesOverRecentLinks) {
  own_.flags |= FLAG_ONLY_OLDER;
  own_.olderThanDays = 30;
  TimeValue now = static_cast<TimeValue>(std::time(nullptr));
  AddLink(tree_, url("/old"), SOURCE_BOOKMARKS, now - TimeValue{31} * 86400);
  AddLink(tree_, url("/recent"), SOURCE_BOOKMARKS, now - TimeValue{29} * 86400);
  AddLink(tree_, url("/undated"), SOURCE_BOOKMARKS, 0);
  EXPECT_TRUE(run());
  EXPECT_EQ(targets(), (std::vector<std::string>{"/old", "/undated"}));
  EXPECT_EQ(window_.progressSteps(), 3);
}

TEST_F(SchedulerTest, LinksOfAStoreNotCleanedAreOnlyResolvedFromCheckedTwins) {
  own_.flags = FLAG_CLEAN_BOOKMARKS | FLAG_SYNCHRONISE;
  AddLink(tree_, url("/shared"), SOURCE_BOOKMARKS);
  AddLink(tree_, url("/between"), SOURCE_BOOKMARKS);
  LinkEntry* twin = AddLink(tree_, url("/shared"), SOURCE_FAVORITES);
  LinkEntry* alone = AddLink(tree_, url("/favorite-only"), SOURCE_FAVORITES);
  LinkEntry* both = AddLink(tree_, url("/both-stores"), SOURCE_FAVORITES | SOURCE_BOOKMARKS);
  EXPECT_TRUE(run());
  EXPECT_EQ(targets(), (std::vector<std::string>{"/shared", "/between"}));
  EXPECT_EQ(twin->checkResult.load(), 200);
  EXPECT_EQ(alone->checkResult.load(), CHECK_NONE);
  EXPECT_EQ(both->checkResult.load(), CHECK_NONE);
  EXPECT_EQ(window_.progressSteps(), 3);
}

TEST_F(SchedulerTest, IdleRowsGoAtOnceAndBusyRowsWhenTheirWorkersEnd) {
  own_.threadCount = 4;
  server_.setDefaultReply(Reply::Status("HTTP/1.0 200 OK").held("go"));
  AddLink(tree_, url("/a"));
  AddLink(tree_, url("/b"));
  window_.addThreadRows(4);
  bool result = false;
  std::thread runner([&] { result = run(); });
  ASSERT_TRUE(window_.waitUntil([](RecordingControls& c) { return c.removedSlots.size() == 2; }));
  window_.inspect([](RecordingControls& c) {
    EXPECT_EQ(c.removedSlots, (std::vector<int>{2, 3}));
    EXPECT_EQ(c.findListRow(IDC_THREAD_LIST, 0), 0);
    EXPECT_EQ(c.findListRow(IDC_THREAD_LIST, 1), 1);
    return 0;
  });
  server_.openGate("go");
  runner.join();
  EXPECT_TRUE(result);
  window_.inspect([](RecordingControls& c) {
    EXPECT_TRUE(c.rows.empty());
    EXPECT_EQ(c.removedSlots.size(), 4u);
    return 0;
  });
}

TEST_F(SchedulerTest, WorkerShowsItsLinkInItsRow) {
  server_.setDefaultReply(Reply::Status("HTTP/1.0 200 OK").held("go"));
  LinkEntry* link = AddLink(tree_, url("/shown"));
  link->setName("Shown title");
  window_.addThreadRows(1);
  std::thread runner([&] { run(); });
  ASSERT_TRUE(server_.waitForRequests(1));
  window_.inspect([&](RecordingControls& c) {
    EXPECT_EQ(c.rows[0].cells[2], "Shown title");
    EXPECT_EQ(c.rows[0].cells[3], url("/shown"));
    EXPECT_EQ(c.rows[0].cells[1], "Waiting for reply");
    return 0;
  });
  server_.openGate("go");
  runner.join();
}

TEST_F(SchedulerTest, DrainWritesWaitingMessagesWithRemarks) {
  own_.threadCount = 3;
  schedulerTuning.drainPeriodMs = 5;
  server_.setDefaultReply(Reply::Status("HTTP/1.0 200 OK").held("go"));
  for (int i = 0; i < 3; ++i) AddLink(tree_, url(Cat("/", i)));
  std::thread runner([&] { run(); });
  ASSERT_TRUE(window_.waitUntil(
      [](RecordingControls& c) { return CountOf(c.texts[IDC_LOG], "aiting for") >= 26; }));
  server_.openGate("go");
  runner.join();
  std::string log = window_.log();
  std::vector<std::string> messages;
  for (size_t at = log.find("aiting for"); at != std::string::npos;
       at = log.find("aiting for", at + 1)) {
    size_t start = log.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    messages.push_back(log.substr(start, log.find("\r\n", at) - start));
  }
  ASSERT_GE(messages.size(), 26u);
  EXPECT_EQ(messages[0], "Waiting for 3 threads...");
  EXPECT_EQ(messages[1], "Still waiting for 3 threads...");
  EXPECT_EQ(messages[2], "Still waiting for 3 threads...");
  EXPECT_EQ(messages[3], "Still waiting for 3 threads... (sorry about this...)");
  EXPECT_EQ(messages[7], "Still waiting for 3 threads... (taking a while, I know...)");
  EXPECT_EQ(messages[11],
            "Still waiting for 3 threads... (mmmm... more bandwidth... more bandwidth...)");
  EXPECT_EQ(messages[15], "Still waiting for 3 threads... (belgium!)");
  EXPECT_EQ(messages[19], "Still waiting for 3 threads... (do you know where YOUR towel is?)");
  EXPECT_EQ(messages[23],
            "Still waiting for 3 threads... (maybe you should quit and try again :-)");
  EXPECT_EQ(messages[24], "Still waiting for 3 threads...");
  EXPECT_EQ(messages[25], "Still waiting for 3 threads...");
}

TEST_F(SchedulerTest, DrainWithOneWorkerSaysThread) {
  schedulerTuning.drainPeriodMs = 5;
  server_.setDefaultReply(Reply::Status("HTTP/1.0 200 OK").held("go"));
  AddLink(tree_, url("/only"));
  std::thread runner([&] { run(); });
  ASSERT_TRUE(window_.waitUntil(
      [](RecordingControls& c) { return CountOf(c.texts[IDC_LOG], "aiting for") >= 1; }));
  server_.openGate("go");
  runner.join();
  std::string log = window_.log();
  size_t at = log.find("Waiting for 1 thread...\r\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(at == 0 || log[at - 1] == '\n');
}

TEST_F(SchedulerTest, AbortStopsTheWalkButWaitsForRunningWorkers) {
  server_.setReply("/first", Reply::Status("HTTP/1.0 200 OK").held("go"));
  LinkEntry* first = AddLink(tree_, url("/first"));
  LinkEntry* second = AddLink(tree_, url("/second"));
  AddLink(tree_, url("/third"));
  bool result = true;
  std::thread runner([&] { result = run(); });
  ASSERT_TRUE(server_.waitForRequests(1));
  abortRequested = true;
  server_.openGate("go");
  runner.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(first->checkResult.load(), 200);  // the running worker was not interrupted
  EXPECT_EQ(second->checkResult.load(), CHECK_NONE);
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(SchedulerTest, AbortBeforeTheWalkChecksNothing) {
  AddLink(tree_, url("/x"));
  abortRequested = true;
  EXPECT_FALSE(run());
  EXPECT_EQ(server_.requestCount(), 0u);
}

// Wherever an allocation of the walk fails, the check ends as an abort: false, every worker
// it started joined (each link the server saw has its result, none arrives later), and the
// log says why when memory is back.
TEST_F(SchedulerTest, AllocationFailureWhileDispatchingEndsAsAnAbort) {
  own_.threadCount = 2;
  server_.setDefaultReply(Reply::Status("HTTP/1.0 500 Error"));
  for (bool persist : {false, true}) {
    long failAt = 0;
    for (;; ++failAt) {
      SCOPED_TRACE(::testing::Message() << "allocation " << failAt << (persist ? " on" : ""));
      FreeTree(tree_);
      std::vector<LinkEntry*> links;
      for (int i = 0; i < 3; ++i) {
        LinkEntry* folder = AddFolder(tree_, "Folder");
        for (int j = 0; j < 2; ++j)
          links.push_back(AddLink(folder->children, url(Cat("/", i * 2 + j))));
      }
      size_t requestsBefore = server_.requestCount();
      window_.inspect([](RecordingControls& c) {
        c.texts.clear();
        return 0;
      });
      failuresPersist = persist;
      failuresInjected = 0;
      allocationsBeforeFailure = failAt;
      bool result = run();
      allocationsBeforeFailure = -1;
      if (failuresInjected == 0) {
        EXPECT_TRUE(result);
        break;
      }
      EXPECT_FALSE(result);
      size_t checked = 0;
      for (LinkEntry* link : links)
        if (link->checkResult.load() != CHECK_NONE) ++checked;
      EXPECT_EQ(checked, server_.requestCount() - requestsBefore);
      if (!persist) {
        EXPECT_NE(window_.log().find("Out of memory"), std::string::npos);
      }
    }
    EXPECT_GT(failAt, 20);  // the walk allocates, so many points were tried
  }
}

TEST_F(SchedulerTest, DeeplyNestedFoldersDoNotExhaustTheStack) {
  NodeList* list = &tree_;
  for (int i = 0; i < 200000; ++i) list = &AddFolder(*list, "deep")->children;
  AddLink(*list, url("/deep"));
  EXPECT_TRUE(run());
  EXPECT_EQ(targets(), std::vector<std::string>{"/deep"});
}

// Builds the same random tree twice: addresses repeat in varying letter case, some entries
// carry results from before, folders nest, "Broken Links" folders hide some.
void BuildRandomTree(NodeList& root, unsigned seed, std::vector<LinkEntry*>& links) {
  std::mt19937 random(seed);
  std::vector<NodeList*> folders{&root};
  TimeValue now = static_cast<TimeValue>(std::time(nullptr));
  for (int i = 0; i < 3000; ++i) {
    NodeList& into = *folders[random() % folders.size()];
    int kind = static_cast<int>(random() % 20);
    if (kind == 0) {
      folders.push_back(&AddFolder(into, random() % 5 == 0 ? "Broken Links" : "F")->children);
      continue;
    }
    std::string address = "http://Host" + std::to_string(random() % 300) + ".test/p";
    if (random() % 2) address[7] = 'h';
    // Recent links are passed over by the age test, so nothing touches the network.
    LinkEntry* link = AddLink(into, address, SOURCE_BOOKMARKS, now);
    if (kind <= 3) {
      link->checkResult = kind == 1 ? CHECK_MOVED : 200 + kind;
      link->newUrl.assign(("http://moved" + std::to_string(i) + ".test/").c_str());
    }
    links.push_back(link);
  }
}

TEST_F(SchedulerTest, AddressIndexFindsTheSameTwinsAsTheTreeSearch) {
  own_.flags |= FLAG_ONLY_OLDER;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    NodeList other;
    std::vector<LinkEntry*> indexed, searched;
    BuildRandomTree(tree_, seed, indexed);
    BuildRandomTree(other, seed, searched);
    schedulerTuning.searchWholeTree = false;
    EXPECT_TRUE(CheckAllLinks(nullptr, tree_, tree_));
    schedulerTuning.searchWholeTree = true;
    EXPECT_TRUE(CheckAllLinks(nullptr, other, other));
    ASSERT_EQ(indexed.size(), searched.size());
    int takenOver = 0;
    for (size_t i = 0; i < indexed.size(); ++i) {
      EXPECT_EQ(indexed[i]->checkResult.load(), searched[i]->checkResult.load()) << i;
      EXPECT_STREQ(indexed[i]->newUrl.c_str(), searched[i]->newUrl.c_str()) << i;
      takenOver += indexed[i]->checkResult.load() != CHECK_NONE;
    }
    EXPECT_GT(takenOver, 100);
    EXPECT_EQ(server_.requestCount(), 0u);
    FreeTree(tree_);
    FreeTree(other);
  }
}

TEST_F(SchedulerTest, WalkOfASubListSearchesTheWholeTree) {
  LinkEntry* checked = AddLink(tree_, url("/c"));
  checked->checkResult = CHECK_NOT_FOUND;
  LinkEntry* folder = AddFolder(tree_, "F");
  LinkEntry* inner = AddLink(folder->children, url("/c"));
  EXPECT_TRUE(CheckAllLinks(&window_, folder->children, tree_));
  EXPECT_EQ(inner->checkResult.load(), CHECK_NOT_FOUND);
  EXPECT_EQ(server_.requestCount(), 0u);
}

TEST_F(SchedulerTest, RunsAgainstTheHeadlessMainWindow) {
  own_.threadCount = 2;
  server_.setReply("/missing", Reply::Status("HTTP/1.0 404 Not Found"));
  AddLink(tree_, url("/ok"));
  AddLink(tree_, url("/missing"));
  AddLink(tree_, "ftp://files.test/");
  HeadlessMainWindow main;
  main.addThreadRow(0);
  main.addThreadRow(1);
  main.window->run([](HeadlessWindow& w) {
    w.setProgressRange(IDC_PROGRESS, 0, 3);
    w.setProgressStep(IDC_PROGRESS, 1);
  });
  EXPECT_TRUE(CheckAllLinks(main.window, tree_, tree_));
  EXPECT_EQ(main.problems(), "Not found: " + url("/missing") + "\r\n");
  std::string log = main.log();
  EXPECT_NE(log.find(": HTTP/1.0 200 OK\r\n"), std::string::npos);
  EXPECT_NE(log.find(": HTTP/1.0 404 Not Found\r\n"), std::string::npos);
  EXPECT_EQ(main.threadRowCount(), 0);
  EXPECT_EQ(main.window->text(IDC_THREAD_COUNT), "0");
  EXPECT_EQ(main.window->progressPos(IDC_PROGRESS), 3);  // the other scheme's link too
}

TEST(IsOlderThanLimit, ComparesWholeDays) {
  Settings own;
  Settings* saved = settings;
  settings = &own;
  own.olderThanDays = 30;
  TimeValue now = static_cast<TimeValue>(std::time(nullptr));
  EXPECT_TRUE(IsOlderThanLimit(0));
  EXPECT_TRUE(IsOlderThanLimit(now - TimeValue{31} * 86400));
  EXPECT_FALSE(IsOlderThanLimit(now - TimeValue{29} * 86400));
  EXPECT_FALSE(IsOlderThanLimit(now + 86400));
  settings = saved;
}

}  // namespace
