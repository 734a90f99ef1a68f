// Reading and writing a large bookmark file, against the bare cost of the same bytes:
// splitting them into lines, and writing them with one fwrite. The file has 100,000 links
// in 2,000 folders; one link in ten carries a 4 KB icon, as current browsers export them.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tree/settings.h"
#include "stores/bookmark_reader.h"
#include "stores/bookmark_writer.h"

namespace {

constexpr int kTopFolders = 50;
constexpr int kSubFolders = 40;  // 50 x 40 = 2,000 folders
constexpr int kLinksPerFolder = 50;

Settings& TheSettings() {
  static Settings record;
  settings = &record;
  return record;
}

const std::string& FileBytes() {
  static std::string bytes = [] {
    TheSettings();
    NodeList tree;
    std::string icon = "data:image/png;base64,";
    for (int i = 0; icon.size() < 4096; ++i) icon += static_cast<char>('A' + (i * 7) % 26);
    int n = 0;
    for (int t = 0; t < kTopFolders; ++t) {
      std::string name = "Folder " + std::to_string(t);
      auto* top = new LinkEntry(name.c_str(), nullptr, 0);
      top->addDate = 1600000000 + t;
      tree.addTail(top);
      for (int s = 0; s < kSubFolders; ++s) {
        std::string sub = "Subfolder " + std::to_string(s);
        auto* folder = new LinkEntry(sub.c_str(), nullptr, 0);
        folder->addDate = 1600000000 + s;
        top->children.addTail(folder);
        for (int l = 0; l < kLinksPerFolder; ++l, ++n) {
          std::string title = "Page number " + std::to_string(n) + " of the benchmark";
          std::string url = "https://host" + std::to_string(n % 997) + ".example.com/path/" +
                            std::to_string(n) + "/index.html?ref=bench";
          auto* link = new LinkEntry(title.c_str(), url.c_str(), 1650000000 + n);
          link->addDate = 1600000000 + n;
          if (n % 10 == 0) {
            std::string extra =
                "ICON_URI=\"https://host.example.com/favicon.ico\" ICON=\"" + icon + "\"";
            link->extraAttributes.assign(extra.c_str());
          }
          folder->children.addTail(link);
        }
      }
    }
    std::string out;
    FormatBookmarkFile(tree, out);
    FreeTree(tree);
    return out;
  }();
  return bytes;
}

std::string TempPath(const char* name) {
  return std::string("/tmp/qf-bench-") + std::to_string(getpid()) + "-" + name;
}

void BM_BareLineSplit(benchmark::State& state) {
  const std::string& bytes = FileBytes();
  for (auto _ : state) {
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    size_t lines = 0, longest = 0;
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
      const char* stop = nl ? nl : end;
      size_t length = stop - p;
      if (length && stop[-1] == '\r') --length;
      if (length > longest) longest = length;
      ++lines;
      p = stop + 1;
    }
    benchmark::DoNotOptimize(lines);
    benchmark::DoNotOptimize(longest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_BareLineSplit)->Unit(benchmark::kMillisecond);

// The same split looking at every byte, as a simple reader without a library search would.
void BM_BareLineSplitBytewise(benchmark::State& state) {
  const std::string& bytes = FileBytes();
  for (auto _ : state) {
    size_t lines = 0, longest = 0, length = 0;
    for (char c : bytes) {
      if (c == '\n' || c == '\r') {
        if (length > longest) longest = length;
        lines += c == '\n';
        length = 0;
      } else {
        ++length;
      }
    }
    benchmark::DoNotOptimize(lines);
    benchmark::DoNotOptimize(longest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_BareLineSplitBytewise)->Unit(benchmark::kMillisecond);

void BM_ReadIntoTree(benchmark::State& state) {
  const std::string& bytes = FileBytes();
  size_t before = mallinfo2().uordblks;
  size_t treeBytes = 0;
  int32_t links = 0;
  for (auto _ : state) {
    NodeList tree;
    int32_t count = 0;
    ReadBookmarkText(bytes.data(), bytes.size(), tree, count);
    state.PauseTiming();
    treeBytes = mallinfo2().uordblks - before;
    links = count;
    FreeTree(tree);
    state.ResumeTiming();
  }
  size_t entries = kTopFolders + kTopFolders * kSubFolders + static_cast<size_t>(links);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
  state.counters["tree_MB"] = static_cast<double>(treeBytes) / 1e6;
  state.counters["links"] = links;
  // The aim: the tree needs no more than twice the file plus 200 bytes an entry.
  state.counters["tree_of_budget"] =
      static_cast<double>(treeBytes) / (2.0 * bytes.size() + 200.0 * entries);
}
BENCHMARK(BM_ReadIntoTree)->Unit(benchmark::kMillisecond);

void BM_ReadFile(benchmark::State& state) {
  const std::string& bytes = FileBytes();
  Settings& record = TheSettings();
  std::string path = TempPath("read.htm");
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  record.bookmarkFile.assign(path.c_str());
  for (auto _ : state) {
    NodeList tree;
    int32_t count = 0;
    ReadBookmarkFile(nullptr, tree, count);
    state.PauseTiming();
    FreeTree(tree);
    state.ResumeTiming();
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);

NodeList& ReadTree() {
  static NodeList tree;
  static bool done = false;
  if (!done) {
    int32_t count = 0;
    ReadBookmarkText(FileBytes().data(), FileBytes().size(), tree, count);
    done = true;
  }
  return tree;
}

void BM_FormatInMemory(benchmark::State& state) {
  NodeList& tree = ReadTree();
  std::string out;
  for (auto _ : state) {
    FormatBookmarkFile(tree, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_FormatInMemory)->Unit(benchmark::kMillisecond);

void BM_SingleFwrite(benchmark::State& state) {
  const std::string& bytes = FileBytes();
  std::string path = TempPath("fwrite.htm");
  bool sync = state.range(0) != 0;
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    if (sync) {
      std::fflush(f);
      fsync(fileno(f));
    }
    std::fclose(f);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_SingleFwrite)->Arg(0)->Arg(1)->ArgName("fsync")->Unit(benchmark::kMillisecond);

// The whole save: temporary file, buffered writes, flush to disk, backup, rename.
void BM_WriteBookmarkFile(benchmark::State& state) {
  NodeList& tree = ReadTree();
  Settings& record = TheSettings();
  std::string path = TempPath("write.htm");
  record.bookmarkFile.assign(path.c_str());
  for (auto _ : state) {
    if (!WriteBookmarkFile(tree)) state.SkipWithError("save failed");
  }
  std::remove(path.c_str());
  std::remove((path + ".bak").c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileBytes().size()));
}
BENCHMARK(BM_WriteBookmarkFile)->Unit(benchmark::kMillisecond);

// Reading 1.2 MB of one element, or the start of one, repeated: the time must stay that of
// reading as much ordinary text, whatever the file holds.
const char* const kHostileUnits[] = {
    "<META\n", "<META>\n", "<!--", "<A HREF=\"", "<TITLE>", "<DD>", "<DT><A HREF=x>", "\"<",
};

void BM_ReadHostile(benchmark::State& state) {
  TheSettings();
  std::string bytes;
  const char* unit = kHostileUnits[state.range(0)];
  while (bytes.size() < 1200000) bytes += unit;
  for (auto _ : state) {
    NodeList tree;
    int32_t count = 0;
    ReadBookmarkText(bytes.data(), bytes.size(), tree, count);
    state.PauseTiming();
    FreeTree(tree);
    state.ResumeTiming();
  }
  std::string label;
  for (const char* p = unit; *p; ++p) label += *p == '\n' ? std::string("\\n") : std::string(1, *p);
  state.SetLabel(label);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadHostile)
    ->DenseRange(0, sizeof kHostileUnits / sizeof kHostileUnits[0] - 1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
