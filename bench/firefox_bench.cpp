// Reading a Firefox profile of 100,000 bookmarks (in 1,000 folders, one in five tagged, one in
// fifty with a keyword) and writing its backup, against the bare cost of the same work in
// SQLite and LZ4: the same queries stepped to their last row, and one LZ4 compression of the
// same backup text.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "stores/firefox_backup.h"
#include "stores/firefox_places.h"
#include "support/places_fixture.h"
#include "tree/settings.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFolders = 1000;
constexpr int kLinksPerFolder = 100;

// The profile, made once per process in a folder of its own.
const std::string& Profile() {
  static std::string dir = [] {
    static Settings record;
    settings = &record;
    std::string d =
        (fs::temp_directory_path() / ("qf-firefox-bench-" + std::to_string(std::time(nullptr))))
            .string();
    fs::create_directories(d);
    PlacesFixture db(d + "/places.sqlite");
    int n = 0;
    for (int f = 0; f < kFolders; ++f) {
      int64_t folder = db.folder(f % 2 ? PlacesFixture::kMenu : PlacesFixture::kToolbar,
                                 "Folder " + std::to_string(f));
      for (int l = 0; l < kLinksPerFolder; ++l, ++n) {
        std::string url = "https://host" + std::to_string(n % 997) + ".example.com/path/" +
                          std::to_string(n) + "/index.html?ref=bench";
        db.bookmark(folder, "Page number " + std::to_string(n) + " of the benchmark", url,
                    1650000000000000 + n);
        if (n % 5 == 0) db.tag(url, "tag" + std::to_string(n % 40));
        if (n % 50 == 0) db.keyword(url, std::string("k").append(std::to_string(n)), nullptr);
      }
    }
    return d;
  }();
  return dir;
}

void BM_ReadProfileAndWriteBackup(benchmark::State& state) {
  std::string places = Profile() + "/places.sqlite";
  for (auto _ : state) {
    NodeList tree;
    int32_t links = 0;
    PlacesReadResult r = ReadPlacesDatabase(places, false, tree, links);
    if (r.error != PlacesError::None || links != kFolders * kLinksPerFolder) {
      state.SkipWithError(r.message.c_str());
      break;
    }
    // One link deleted, so that the backup is written.
    LinkEntry* first =
        LinkEntry::of(LinkEntry::of(LinkEntry::of(tree.head())->children.head())->children.head());
    first->action = ACTION_DELETE;
    BackupResult written = WriteFirefoxBackup(tree, std::time(nullptr));
    if (written.outcome != BackupOutcome::Written) state.SkipWithError(written.message.c_str());
    state.PauseTiming();
    fs::remove(written.path);
    FreeTree(tree);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ReadProfileAndWriteBackup)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// SQLite stepping through the reader's queries, and LZ4 compressing the backup text once.
void BM_SqliteQueriesAndLz4Alone(benchmark::State& state) {
  std::string places = Profile() + "/places.sqlite";
  std::string json;
  {
    NodeList tree;
    int32_t links = 0;
    ReadPlacesDatabase(places, false, tree, links);
    int64_t items = 0;
    FormatFirefoxBackup(tree, FirefoxState().rootMembers, json, items);
    FreeTree(tree);
  }
  const char* queries[] = {
      "SELECT b.id, b.parent, b.type, b.title, b.dateAdded, b.lastModified, b.guid, b.fk, h.url, "
      "h.last_visit_date FROM moz_bookmarks b LEFT JOIN moz_places h ON h.id = b.fk "
      "ORDER BY b.parent, b.position, b.id",
      "SELECT b.fk, t.title FROM moz_bookmarks b JOIN moz_bookmarks t ON t.id = b.parent "
      "JOIN moz_bookmarks g ON g.id = t.parent WHERE g.guid = 'tags________' AND b.fk IS NOT "
      "NULL ORDER BY b.fk, t.title",
      "SELECT place_id, keyword, post_data FROM moz_keywords ORDER BY id",
  };
  std::string packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(json.size()))), '\0');
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(places.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    size_t bytes = 0;
    for (const char* sql : queries) {
      sqlite3_stmt* st = nullptr;
      sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
      while (sqlite3_step(st) == SQLITE_ROW)
        for (int c = 0; c < sqlite3_column_count(st); ++c) bytes += sqlite3_column_bytes(st, c);
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    benchmark::DoNotOptimize(bytes);
    int n = LZ4_compress_default(json.data(), packed.data(), static_cast<int>(json.size()),
                                 static_cast<int>(packed.size()));
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_SqliteQueriesAndLz4Alone)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
