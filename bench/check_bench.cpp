// Benchmarks of link checking.
//
// DuplicateWalk: the scheduler's walk over a tree in which every link is taken over from a
// checked twin or passed over by the age test (no network), with the index of checked
// addresses and with the search of the whole tree for every link.
// CheckRun: 5,000 distinct links checked by 64 threads against the loopback test server,
// which answers after the given delay. The counters give the wall time against the ideal
// 5,000 x delay / 64, links per second, the processor time of the whole process (checker
// and server) per run, and the process's peak resident memory.
// SecureCheckRun: the same over TLS, with and without resuming sessions, against a server of
// TLS 1.2 and 1.3 and one of TLS 1.2 alone (whose resumed handshakes skip the key exchange
// that TLS 1.3 makes again); the server's certificate comes from the test authority. Run it alone (--benchmark_filter) for a peak
// memory figure of its own. These runs lift the per-host limit (every link is on the one
// loopback address), so that they measure the checker's own throughput.
// PoliteCheckRun: 5,000 links over 10 host names (500 each, one host after another in the
// tree), 64 threads, at most 4 per host, 50 ms per reply. x_bound is the wall time against
// max(5,000 x 50 ms / 64, 500 x 50 ms / 4) = 6.25 s.
// RedirectGetCheckRun: the same links, of which 20 % answer 301 to a page that answers 200
// and 10 % answer 405 to HEAD and 200 to GET: 6,500 requests. x_bound is the wall time against
// the bound of those requests, max(6,500 x 50 ms / 64, 650 x 50 ms / 4) = 8.125 s, and
// x_plain_bound against the 6.25 s of the plain run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "check/scheduler.h"
#include "check/socket_context.h"
#include "platform/net.h"
#include "support/http_test_server.h"
#include "support/test_authority.h"
#include "tree/settings.h"

namespace {

double PeakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// Carries out posted work on controls that keep nothing, one closure at a time, as a UI
// thread would.
class NullControls : public Controls {
 public:
  std::string getText(int) override { return {}; }
  void setText(int, const char*) override {}
  int getTextLength(int) override { return 0; }
  void setSelection(int, int, int) override {}
  void getSelection(int, int* s, int* e) override { *s = *e = 0; }
  void replaceSelection(int, const char*) override {}
  void clearSelection(int) override {}
  void setTextLimit(int, int) override {}
  bool isChecked(int) override { return false; }
  void setChecked(int, bool) override {}
  bool isEnabled(int) override { return true; }
  void setEnabled(int, bool) override {}
  void setFocus(int) override {}
  void setProgressRange(int, int, int) override {}
  void setProgressStep(int, int) override {}
  void setProgressPos(int, int) override {}
  void stepProgress(int) override {}
  int getProgressPos(int) override { return 0; }
  void insertListColumn(int, int, const char*, int) override {}
  int getListColumnWidth(int, int) override { return 0; }
  void setListColumnWidth(int, int, int) override {}
  int measureText(int, const char*) override { return 0; }
  int insertListRow(int, int, ItemData, const char*) override { return -1; }
  int getListRowCount(int) override { return 0; }
  ItemData getListRowData(int, int) override { return 0; }
  int findListRow(int, ItemData) override { return -1; }
  void setListCell(int, int, int, const char*) override {}
  std::string getListCell(int, int, int) override { return {}; }
  void deleteListRow(int, int) override {}
  void deleteAllListRows(int) override {}
  void sortList(int, ListCompare, intptr_t) override {}
  void redrawListRows(int, int, int) override {}
  int getSelectedListRow(int) override { return -1; }
  void editListLabel(int, int) override {}
};

class NullWindow : public Window {
 public:
  void post(std::function<void(Controls&)> work) override {
    std::lock_guard<std::mutex> hold(lock_);
    work(controls_);
  }
  void postMessage(int, intptr_t, intptr_t) override {}
  Controls& controls() override { return controls_; }
  void endDialog(int) override {}
  void sendCommand(int, int) override {}
  int trackPopupMenu(const std::vector<MenuItem>&, int, int) override { return 0; }
  bool setClipboardText(const char*) override { return false; }
  bool browseForFolder(const char*, std::string&) override { return false; }
  bool chooseOpenFile(const char*, const std::vector<std::pair<std::string, std::string>>&,
                      std::string&) override {
    return false;
  }
  int showModal(int, DialogProc&) override { return -1; }

 private:
  std::mutex lock_;
  NullControls controls_;
};

// links / 2 addresses, each twice: first in the "first" folders, then again (in another
// letter case) in the "second" folders. Every other address was checked in an earlier
// pass; all links are recent, so the age test passes over what has no checked twin.
void BuildDuplicateTree(NodeList& root, int links) {
  TimeValue now = static_cast<TimeValue>(std::time(nullptr));
  int addresses = links / 2;
  const int perFolder = 500;
  for (int copy = 0; copy < 2; ++copy) {
    LinkEntry* folder = nullptr;
    for (int i = 0; i < addresses; ++i) {
      if (i % perFolder == 0) {
        folder = new LinkEntry(copy ? "second" : "first", "", 0);
        root.addTail(folder);
      }
      // The second copies come in another order, as a merged store would have them.
      int a = copy ? (i * 7919) % addresses : i;
      std::string url = (copy ? "HTTP://WWW.SITE" : "http://www.site") + std::to_string(a) +
                        ".example/some/page.html";
      auto* link = new LinkEntry("title", url.c_str(), now);
      if (!copy && a % 2 == 0) link->checkResult = 200;
      folder->children.addTail(link);
    }
  }
}

void DuplicateWalk(benchmark::State& state, bool searchWholeTree) {
  Settings own;
  Settings* saved = settings;
  settings = &own;
  own.flags = FLAG_CLEAN_BOOKMARKS | FLAG_ONLY_OLDER;
  schedulerTuning.searchWholeTree = searchWholeTree;
  NullWindow window;
  for (auto _ : state) {
    state.PauseTiming();
    NodeList tree;
    BuildDuplicateTree(tree, static_cast<int>(state.range(0)));
    state.ResumeTiming();
    CheckAllLinks(&window, tree, tree);
    state.PauseTiming();
    FreeTree(tree);
    state.ResumeTiming();
  }
  schedulerTuning = SchedulerTuning();
  settings = saved;
  state.counters["links"] = static_cast<double>(state.range(0));
  state.counters["peak_rss_MB"] = PeakResidentMegabytes();
}

void BM_DuplicateWalkIndex(benchmark::State& state) { DuplicateWalk(state, false); }
void BM_DuplicateWalkTreeSearch(benchmark::State& state) { DuplicateWalk(state, true); }

BENCHMARK(BM_DuplicateWalkIndex)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
// The whole-tree search costs time proportional to the square of the number of links:
// 100,000 links take minutes, so that size runs once.
BENCHMARK(BM_DuplicateWalkTreeSearch)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DuplicateWalkTreeSearch)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void CheckRun(benchmark::State& state, bool secure, bool resume,
              HttpTestServer::TlsVersions versions = HttpTestServer::TlsVersions::Current) {
  const int links = 5000;
  const int threads = 64;
  const int delayMs = static_cast<int>(state.range(0));
  HttpTestServer server;
  if (secure) server.setTls(TestAuthority::Shared().issue({"127.0.0.1"}), versions);
  socketTuning.resumeSessions = resume;
  server.setRecording(false);
  server.setDefaultReply(HttpTestServer::Reply::Status("HTTP/1.0 200 OK").delayed(delayMs));
  Settings own;
  Settings* saved = settings;
  settings = &own;
  own.flags = FLAG_CLEAN_BOOKMARKS;
  own.threadCount = threads;
  own.hostThreads = threads;
  own.retries = 0;
  NullWindow window;
  double seconds = 0, processor = 0;
  for (auto _ : state) {
    state.PauseTiming();
    NodeList tree;
    for (int i = 0; i < links; ++i)
      tree.addTail(new LinkEntry("t", server.url("/page" + std::to_string(i)).c_str(), 0));
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    double processorStart = ProcessorSeconds();
    CheckAllLinks(&window, tree, tree);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    processor += ProcessorSeconds() - processorStart;
    state.PauseTiming();
    int checked = 0;
    for (Node* n = tree.head(); n->next; n = n->next)
      checked += LinkEntry::of(n)->checkResult.load() == 200;
    if (checked != links) state.SkipWithError("not every link was checked");
    FreeTree(tree);
    state.ResumeTiming();
  }
  settings = saved;
  socketTuning = SocketTuning();
  double perRun = seconds / static_cast<double>(state.iterations());
  state.counters["links_per_s"] = links / perRun;
  state.counters["cpu_s"] = processor / static_cast<double>(state.iterations());
  if (secure) state.counters["resumed"] = server.resumedHandshakes();
  if (delayMs > 0) state.counters["x_ideal"] = perRun / (links * delayMs / 1000.0 / threads);
  state.counters["peak_rss_MB"] = PeakResidentMegabytes();
}

void BM_CheckRun(benchmark::State& state) { CheckRun(state, false, false); }
void BM_SecureCheckRun(benchmark::State& state) { CheckRun(state, true, true); }
void BM_SecureCheckRunNoResume(benchmark::State& state) { CheckRun(state, true, false); }
void BM_SecureCheckRunTls12(benchmark::State& state) {
  CheckRun(state, true, true, HttpTestServer::TlsVersions::Only12);
}
void BM_SecureCheckRunTls12NoResume(benchmark::State& state) {
  CheckRun(state, true, false, HttpTestServer::TlsVersions::Only12);
}

BENCHMARK(BM_CheckRun)
    ->Arg(50)
    ->Arg(0)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecureCheckRun)
    ->Arg(50)
    ->Arg(0)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecureCheckRunNoResume)
    ->Arg(50)
    ->Arg(0)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecureCheckRunTls12)
    ->Arg(50)
    ->Arg(0)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecureCheckRunTls12NoResume)
    ->Arg(50)
    ->Arg(0)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// 5,000 links over 10 host names of the loopback server, 500 per host in a row.
void PoliteRun(benchmark::State& state, bool mixed) {
  const int links = 5000, hosts = 10, threads = 64, delayMs = 50;
  HttpTestServer server;
  server.setRecording(false);
  server.setDefaultReply(HttpTestServer::Reply::Status("HTTP/1.0 200 OK").delayed(delayMs));
  std::vector<NetHostRule> names;
  for (int h = 0; h < hosts; ++h)
    names.push_back({"h" + std::to_string(h) + ".test", {"127.0.0.1"}, "", 0});
  SetNetResolver(NetResolverFromTable(names));
  auto address = [&](int i, const std::string& path) {
    return "http://h" + std::to_string(i / (links / hosts)) + ".test:" +
           std::to_string(server.port()) + path;
  };
  Settings own;
  Settings* saved = settings;
  settings = &own;
  own.flags = FLAG_CLEAN_BOOKMARKS;
  own.threadCount = threads;
  own.retries = 0;
  NullWindow window;
  double seconds = 0;
  int extra = 0;
  for (auto _ : state) {
    state.PauseTiming();
    NodeList tree;
    extra = 0;
    for (int i = 0; i < links; ++i) {
      std::string path = "/page" + std::to_string(i);
      if (mixed && i % 10 < 2) {  // 20 %: moved once
        server.setReply(path, HttpTestServer::Reply::Status(
                                  "HTTP/1.0 301 Moved", "Location: /new" + std::to_string(i) + "\r\n")
                                  .delayed(delayMs));
        ++extra;
      } else if (mixed && i % 10 == 2) {  // 10 %: HEAD refused
        server.setReplies(path,
                          {HttpTestServer::Reply::Status("HTTP/1.0 405 No HEAD").delayed(delayMs),
                           HttpTestServer::Reply::Status("HTTP/1.0 200 OK").delayed(delayMs)});
        ++extra;
      }
      tree.addTail(new LinkEntry("t", address(i, path).c_str(), 0));
    }
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    CheckAllLinks(&window, tree, tree);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    int expected = 0;
    for (Node* n = tree.head(); n->next; n = n->next) {
      int32_t result = LinkEntry::of(n)->checkResult.load();
      expected += result == 200 || result == CHECK_MOVED;
    }
    if (expected != links) state.SkipWithError("not every link got its verdict");
    FreeTree(tree);
    state.ResumeTiming();
  }
  SetNetResolver(nullptr);
  settings = saved;
  double perRun = seconds / static_cast<double>(state.iterations());
  double requests = links + extra;
  double bound = std::max(requests * delayMs / 1000.0 / threads,
                          requests / hosts * delayMs / 1000.0 / 4);
  state.counters["requests"] = requests;
  state.counters["x_bound"] = perRun / bound;
  state.counters["x_plain_bound"] = perRun / 6.25;
  int maxPerHost = 0;
  for (int h = 0; h < hosts; ++h)
    maxPerHost = std::max(maxPerHost, server.maxConcurrentForHost("h" + std::to_string(h) + ".test"));
  state.counters["max_per_host"] = maxPerHost;
}

void BM_PoliteCheckRun(benchmark::State& state) { PoliteRun(state, false); }
void BM_RedirectGetCheckRun(benchmark::State& state) { PoliteRun(state, true); }

BENCHMARK(BM_PoliteCheckRun)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedirectGetCheckRun)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
