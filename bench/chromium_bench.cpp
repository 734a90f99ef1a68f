// Reading and writing a browser's Bookmarks file of 100,000 links in 2,000 folders, against the
// JSON library's own parse and dump of the same file, and the memory the read keeps.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <nlohmann/json.hpp>
#include <string>

#include "stores/chromium_store.h"
#include "tree/settings.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr int kTopFolders = 50;
constexpr int kSubFolders = 40;
constexpr int kLinksPerFolder = 50;

Settings& TheSettings() {
  static Settings record;
  settings = &record;
  return record;
}

int nextId = 4;

Json Node(const std::string& name, const char* type) {
  Json node = Json::object();
  node["date_added"] = "13300000000000000";
  node["date_last_used"] = "13310000000000000";
  char guid[40];
  std::snprintf(guid, sizeof guid, "1b2c3d4e-0000-4000-8000-%012d", nextId);
  node["guid"] = guid;
  node["id"] = std::to_string(nextId++);
  node["name"] = name;
  node["type"] = type;
  return node;
}

const std::string& FileBytes() {
  static std::string bytes = [] {
    Json bar = Json::array();
    int n = 0;
    for (int t = 0; t < kTopFolders; ++t) {
      Json top = Node("Folder " + std::to_string(t), "folder");
      Json subs = Json::array();
      for (int s = 0; s < kSubFolders; ++s) {
        Json sub = Node("Subfolder " + std::to_string(s), "folder");
        Json links = Json::array();
        for (int l = 0; l < kLinksPerFolder; ++l, ++n) {
          Json link = Node("Page number " + std::to_string(n) + " of the benchmark", "url");
          link["url"] = "https://host" + std::to_string(n % 997) + ".example.com/path/" +
                        std::to_string(n) + "/index.html?ref=bench";
          if (n % 10 == 0) link["meta_info"] = {{"last_visited_desktop", "13310000000000000"}};
          links.push_back(std::move(link));
        }
        sub["children"] = std::move(links);
        sub["date_modified"] = "13300000000000000";
        subs.push_back(std::move(sub));
      }
      top["children"] = std::move(subs);
      top["date_modified"] = "13300000000000000";
      bar.push_back(std::move(top));
    }
    Json roots = Json::object();
    auto root = [](const char* id, const char* name, Json children) {
      Json r = Json::object();
      r["children"] = std::move(children);
      r["date_added"] = "13300000000000000";
      r["date_last_used"] = "0";
      r["date_modified"] = "13300000000000000";
      r["guid"] = "0bc5d13f-2cba-5d74-951f-3f233fe6c90" + std::string(id);
      r["id"] = id;
      r["name"] = name;
      r["type"] = "folder";
      return r;
    };
    roots["bookmark_bar"] = root("1", "Bookmarks bar", std::move(bar));
    roots["other"] = root("2", "Other bookmarks", Json::array());
    roots["synced"] = root("3", "Mobile bookmarks", Json::array());
    Json file = Json::object();
    file["checksum"] = "";
    file["roots"] = std::move(roots);
    file["version"] = 1;
    return file.dump(3);
  }();
  return bytes;
}

void BM_LibraryParse(benchmark::State& state) {
  const std::string& bytes = FileBytes();
  for (auto _ : state) {
    Json json = Json::parse(bytes);
    benchmark::DoNotOptimize(json);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LibraryParse)->Unit(benchmark::kMillisecond);

void BM_LibraryDump(benchmark::State& state) {
  Json json = Json::parse(FileBytes());
  for (auto _ : state) {
    std::string out = json.dump(3);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_LibraryDump)->Unit(benchmark::kMillisecond);

void BM_ReadIntoTree(benchmark::State& state) {
  TheSettings();
  const std::string& bytes = FileBytes();
  size_t before = mallinfo2().uordblks;
  size_t kept = 0;
  int32_t links = 0;
  for (auto _ : state) {
    NodeList tree;
    int32_t count = 0;
    std::string error;
    ChromiumDocumentPtr doc = ReadChromiumText(bytes.data(), bytes.size(), tree, count, error);
    state.PauseTiming();
    if (!doc) state.SkipWithError(error.c_str());
    kept = mallinfo2().uordblks - before;  // the tree and the document kept for the save
    links = count;
    doc.reset();
    FreeTree(tree);
    state.ResumeTiming();
  }
  size_t entries = kTopFolders + kTopFolders * kSubFolders + static_cast<size_t>(links) + 3;
  state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
  state.counters["kept_MB"] = static_cast<double>(kept) / 1e6;
  state.counters["links"] = links;
  // The aim: within three times the file plus 200 bytes an entry.
  state.counters["kept_of_budget"] =
      static_cast<double>(kept) / (3.0 * bytes.size() + 200.0 * entries);
}
BENCHMARK(BM_ReadIntoTree)->Unit(benchmark::kMillisecond);

// The save of a run that deleted one link: the text of the whole file with its checksum.
void BM_FormatAfterAChange(benchmark::State& state) {
  TheSettings();
  const std::string& bytes = FileBytes();
  size_t written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    NodeList tree;
    int32_t count = 0;
    std::string error, out;
    ChromiumDocumentPtr doc = ReadChromiumText(bytes.data(), bytes.size(), tree, count, error);
    LinkEntry* bar = LinkEntry::of(tree.head());
    LinkEntry* folder = LinkEntry::of(LinkEntry::of(bar->children.head())->children.head());
    LinkEntry::of(folder->children.head())->action = ACTION_DELETE;
    state.ResumeTiming();
    bool changed = false;
    if (!FormatChromiumText(*doc, tree, out, changed, error) || !changed)
      state.SkipWithError("not written");
    written = out.size();
    state.PauseTiming();
    doc.reset();
    FreeTree(tree);
    state.ResumeTiming();
  }
  state.counters["out_MB"] = static_cast<double>(written) / 1e6;
}
BENCHMARK(BM_FormatAfterAChange)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
