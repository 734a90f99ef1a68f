// Reading and writing a Favorites folder of 2,000 shortcuts in 40 folders: the read, a save
// that changes nothing (every file is compared and left alone), and a save that changes
// every address. Also the cost of one AppendLog through the headless window.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tree/settings.h"
#include "ui/progress.h"
#include "platform/directories.h"
#include "stores/favorites_reader.h"
#include "stores/favorites_writer.h"
#include "support/headless_fixture.h"

namespace {

constexpr int kFolders = 40;
constexpr int kLinksPerFolder = 50;

struct Fixture {
  Settings record;
  std::string root;
  Fixture() {
    settings = &record;
    char pattern[] = "/tmp/qf-bench-XXXXXX";
    root = mkdtemp(pattern);
    for (int f = 0; f < kFolders; ++f) {
      std::string dir = root + "/Folder " + std::to_string(f);
      std::filesystem::create_directory(dir);
      for (int l = 0; l < kLinksPerFolder; ++l) {
        std::string file = dir + "/Link " + std::to_string(l) + ".url";
        std::ofstream(file, std::ios::binary) << "[InternetShortcut]\r\nURL=http://host" << f
                                              << ".example/page" << l << "\r\nIconIndex=0\r\n";
        SetFileTimes(file.c_str(), 1600000000 + l);
      }
    }
    record.favoritesFolder.assign(root.c_str());
  }
  ~Fixture() { std::filesystem::remove_all(root); }
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

void Read(NodeList& tree) {
  int32_t count = 0;
  bool inside = false;
  ReadFavoritesFolder(TheFixture().record.favoritesFolder, tree, count, inside);
}

void BM_ReadFavorites(benchmark::State& state) {
  TheFixture();
  for (auto _ : state) {
    NodeList tree;
    Read(tree);
    FreeTree(tree);
  }
  state.SetItemsProcessed(state.iterations() * kFolders * kLinksPerFolder);
}
BENCHMARK(BM_ReadFavorites)->Unit(benchmark::kMillisecond);

void BM_WriteUnchangedFavorites(benchmark::State& state) {
  TheFixture();
  NodeList tree;
  Read(tree);
  for (auto _ : state) WriteFavorites(tree);
  FreeTree(tree);
  state.SetItemsProcessed(state.iterations() * kFolders * kLinksPerFolder);
}
BENCHMARK(BM_WriteUnchangedFavorites)->Unit(benchmark::kMillisecond);

void BM_WriteChangedFavorites(benchmark::State& state) {
  TheFixture();
  NodeList tree;
  Read(tree);
  int round = 0;
  for (auto _ : state) {
    std::string suffix = "?v=" + std::to_string(++round);
    for (Node* f = tree.head(); f->next; f = f->next)
      for (Node* n = LinkEntry::of(f)->children.head(); n->next; n = n->next) {
        LinkEntry* e = LinkEntry::of(n);
        std::string url = std::string("http://moved.example/") + e->name + suffix;
        e->url.assign(url.c_str());
      }
    WriteFavorites(tree);
  }
  FreeTree(tree);
  state.SetItemsProcessed(state.iterations() * kFolders * kLinksPerFolder);
}
BENCHMARK(BM_WriteChangedFavorites)->Unit(benchmark::kMillisecond);

void BM_AppendLog(benchmark::State& state) {
  HeadlessMainWindow main;
  for (auto _ : state) AppendLog(main.window, IDC_LOG, "123: http://host.example/page - 404\r\n");
  main.ui.flush();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendLog);

}  // namespace

BENCHMARK_MAIN();
