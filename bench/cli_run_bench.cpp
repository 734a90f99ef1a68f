// A whole clean run through quillfen-cli: 5,000 links (half in the bookmark file, half in the
// Favorites folder), 64 threads, every reply from the loopback server after 50 ms, both
// stores read and saved. Beside it, the reading and writing of the same stores alone, so that
// the run can be compared with 5,000 x 50 ms / 64 plus that time.
//
//   build-*/bench/cli_run_bench          (quillfen-cli must be built next to bench/)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tree/settings.h"
#include "stores/bookmark_writer.h"
#include "stores/favorites_writer.h"
#include "stores/read_stores.h"
#include "support/http_test_server.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kLinks = 5000;
constexpr int kPerFolder = 50;
constexpr int kReplyMs = 50;
constexpr int kThreads = 64;

struct Stores {
  fs::path dir;
  fs::path bookmarks;
  fs::path favorites;
};

// Half the links in the bookmark file, half as shortcut files, 50 to a folder.
Stores MakeStores(const HttpTestServer& server, const std::string& tag) {
  Stores s;
  s.dir = fs::temp_directory_path() / ("qf-cli-bench-" + std::to_string(::getpid()) + tag);
  fs::remove_all(s.dir);
  s.bookmarks = s.dir / "bookmarks.htm";
  s.favorites = s.dir / "favorites";
  fs::create_directories(s.favorites);
  std::string text =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n<TITLE>Bookmarks</TITLE>\r\n<H1>Bookmarks</H1>\r\n"
      "<DL><p>\r\n";
  for (int i = 0; i < kLinks / 2; ++i) {
    if (i % kPerFolder == 0) {
      if (i) text += "</DL><p>\r\n";
      text += "<DT><H3 ADD_DATE=\"900000000\">Folder " + std::to_string(i / kPerFolder) +
              "</H3>\r\n<DL><p>\r\n";
    }
    text += "<DT><A HREF=\"" + server.url("/b" + std::to_string(i)) +
            "\" ADD_DATE=\"900000000\" LAST_VISIT=\"900000001\" LAST_MODIFIED=\"900000002\">"
            "Bookmark " +
            std::to_string(i) + "</A>\r\n";
  }
  text += "</DL><p>\r\n</DL><p>\r\n";
  std::ofstream(s.bookmarks, std::ios::binary) << text;
  for (int i = 0; i < kLinks / 2; ++i) {
    fs::path folder = s.favorites / ("Group " + std::to_string(i / kPerFolder));
    fs::create_directories(folder);
    std::ofstream(folder / ("Favorite " + std::to_string(i) + ".url"), std::ios::binary)
        << "[InternetShortcut]\r\nURL=" << server.url("/f" + std::to_string(i)) << "\r\n";
  }
  return s;
}

// When the run reached each of its phases, in seconds from the start of the program.
struct Phases {
  double checking = 0;  // "Checking ..." : the stores have been read
  double complete = 0;  // "Complete!" : every link has been checked
  double saving = 0;    // "Saving Bookmark file..."
  double end = 0;       // the program has ended
};

// Runs quillfen-cli on the stores, reading its output as it comes to time the phases; its
// exit status, peak resident size in KiB and processor time.
bool RunProgram(const Stores& s, int& status, long& maxRssKiB, double& cpuSeconds, Phases& phases) {
  fs::path program =
      fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "quillfen-cli";
  if (!fs::exists(program)) return false;
  std::vector<std::string> args = {program.string(),
                                   "--bookmarks",
                                   s.bookmarks.string(),
                                   "--favorites",
                                   s.favorites.string(),
                                   "--threads",
                                   std::to_string(kThreads),
                                   "--broken",
                                   "delete",
                                   "--moved",
                                   "update",
                                   "--timeout",
                                   "30"};
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  auto start = std::chrono::steady_clock::now();
  auto since = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  pid_t pid = -1;
  int failure = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (failure) {
    ::close(pipeFds[0]);
    return false;
  }
  std::string pending;
  char buffer[65536];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1)) {
      if (pending.compare(0, 9, "Checking ") == 0) phases.checking = since();
      if (pending.compare(0, 9, "Complete!") == 0) phases.complete = since();
      if (pending.compare(0, 23, "Saving Bookmark file...") == 0) phases.saving = since();
    }
  }
  ::close(pipeFds[0]);
  int raw = 0;
  struct rusage usage {};
  if (wait4(pid, &raw, 0, &usage) != pid) return false;
  phases.end = since();
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  maxRssKiB = usage.ru_maxrss;
  cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return true;
}

void BM_CliWholeRun(benchmark::State& state) {
  HttpTestServer server;
  server.setRecording(false);
  int replyMs = static_cast<int>(state.range(0));
  server.setDefaultReply(HttpTestServer::Reply::Status("HTTP/1.0 200 OK").delayed(replyMs));
  // The settings the program loads stay out of the user's own folder.
  fs::path config =
      fs::temp_directory_path() / ("qf-cli-bench-config-" + std::to_string(::getpid()));
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  long maxRss = 0;
  double cpuSeconds = 0;
  Phases phases;
  for (auto _ : state) {
    state.PauseTiming();
    Stores s = MakeStores(server, "-run");
    state.ResumeTiming();
    int status = -1;
    if (!RunProgram(s, status, maxRss, cpuSeconds, phases)) {
      state.SkipWithError("quillfen-cli is not built next to bench/");
      break;
    }
    state.PauseTiming();
    if (status != 0) state.SkipWithError("the run did not complete cleanly");
    fs::remove_all(s.dir);
    state.ResumeTiming();
  }
  fs::remove_all(config);
  state.counters["requests"] = static_cast<double>(server.requestCount());
  state.counters["maxConcurrent"] = server.maxConcurrent();
  state.counters["programCpuSeconds"] = cpuSeconds;
  state.counters["readSeconds"] = phases.checking;
  state.counters["checkSeconds"] = phases.complete - phases.checking;
  state.counters["saveSeconds"] = phases.end - phases.saving;
  state.counters["peakRssMiB"] = static_cast<double>(maxRss) / 1024.0;
  state.counters["idealSeconds"] = kLinks * (replyMs / 1000.0) / kThreads;
}
// 50 ms per reply as a real server might answer, and at once (the program's own cost).
BENCHMARK(BM_CliWholeRun)
    ->Arg(kReplyMs)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// Reading both stores into a tree and writing them back, without checking.
void BM_ReadAndSaveStores(benchmark::State& state) {
  HttpTestServer server;
  Settings record;
  Settings* previous = settings;
  settings = &record;
  for (auto _ : state) {
    state.PauseTiming();
    Stores s = MakeStores(server, "-io");
    record.flags = FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES;
    record.bookmarkFile.assign(s.bookmarks.c_str());
    record.favoritesFolder.assign(s.favorites.c_str());
    state.ResumeTiming();
    NodeList tree;
    int32_t linkCount = 0;
    ReadStores(nullptr, tree, linkCount);
    // Every link visited after its file was made, as in a run: the Favorites writer then
    // makes every shortcut file anew, since a birth time earlier than the visit cannot be set.
    TimeValue visit = static_cast<TimeValue>(std::time(nullptr)) + 60;
    std::vector<Node*> stack;
    for (Node* n = tree.head();;) {
      if (!n->next) {
        if (stack.empty()) break;
        n = stack.back();
        stack.pop_back();
        continue;
      }
      LinkEntry* e = LinkEntry::of(n);
      if (!e->children.isEmpty()) {
        stack.push_back(n->next);
        n = e->children.head();
        continue;
      }
      e->lastVisit = visit;
      n = n->next;
    }
    WriteBookmarkFile(tree);
    WriteFavorites(tree);
    FreeTree(tree);
    state.PauseTiming();
    fs::remove_all(s.dir);
    state.counters["links"] = linkCount;
    state.ResumeTiming();
  }
  settings = previous;
}
BENCHMARK(BM_ReadAndSaveStores)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
