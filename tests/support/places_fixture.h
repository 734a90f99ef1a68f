// Builds small Firefox places.sqlite databases for tests and benchmarks: the bookmark tables
// as Firefox 153 ESR lays them out (schema 86), its roots, and helpers to add folders,
// bookmarks, separators, tags and keywords. Test thread only.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

class PlacesFixture {
 public:
  // Creates the database at path (which must not exist) with the given user_version.
  explicit PlacesFixture(const std::string& path, int schema = 86) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    exec(
        "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, "
        "rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, "
        "typed INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL, "
        "last_visit_date INTEGER, guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL, "
        "url_hash INTEGER DEFAULT 0 NOT NULL);"
        // Firefox finds pages by a hash of the address; here an index on the address itself
        // keeps making large databases quick.
        "CREATE UNIQUE INDEX moz_places_url_uniqueindex ON moz_places (url);"
        "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT "
        "NULL, parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER, "
        "folder_type TEXT, dateAdded INTEGER, lastModified INTEGER, guid TEXT, syncStatus "
        "INTEGER NOT NULL DEFAULT 0, syncChangeCounter INTEGER NOT NULL DEFAULT 1);"
        "CREATE INDEX moz_bookmarks_parentindex ON moz_bookmarks (parent, position);"
        "CREATE TABLE moz_keywords (id INTEGER PRIMARY KEY AUTOINCREMENT, keyword TEXT UNIQUE, "
        "place_id INTEGER, post_data TEXT);"
        "CREATE TABLE moz_anno_attributes (id INTEGER PRIMARY KEY, name VARCHAR(32) UNIQUE NOT "
        "NULL);"
        "CREATE TABLE moz_annos (id INTEGER PRIMARY KEY, place_id INTEGER NOT NULL, "
        "anno_attribute_id INTEGER, content LONGVARCHAR, flags INTEGER DEFAULT 0, expiration "
        "INTEGER DEFAULT 0, type INTEGER DEFAULT 0, dateAdded INTEGER DEFAULT 0, lastModified "
        "INTEGER DEFAULT 0);");
    exec("PRAGMA user_version = " + std::to_string(schema));
    exec("BEGIN");
    addItem(1, 2, 0, 0, "", "root________");
    addItem(2, 2, 1, 0, "menu", "menu________");
    addItem(3, 2, 1, 1, "toolbar", "toolbar_____");
    addItem(4, 2, 1, 2, "tags", "tags________");
    addItem(5, 2, 1, 3, "unfiled", "unfiled_____");
    addItem(6, 2, 1, 4, "mobile", "mobile______");
    nextId_ = 7;
  }
  ~PlacesFixture() {
    exec("COMMIT");
    sqlite3_close(db_);
  }
  PlacesFixture(const PlacesFixture&) = delete;
  PlacesFixture& operator=(const PlacesFixture&) = delete;

  static constexpr int64_t kMenu = 2, kToolbar = 3, kTags = 4, kUnfiled = 5, kMobile = 6;
  // Dates of the items made here: microseconds, as Firefox keeps them.
  static constexpr int64_t kAdded = 1700000000123456, kModified = 1700000100654321;

  int64_t folder(int64_t parent, const std::string& title) {
    int64_t id = nextId_++;
    addItem(id, 2, parent, nextPosition(parent), title, guidFor(id));
    return id;
  }
  int64_t separator(int64_t parent) {
    int64_t id = nextId_++;
    addItem(id, 3, parent, nextPosition(parent), "", guidFor(id));
    return id;
  }
  // A bookmark and, when the address is new, its page; returns the bookmark's id.
  int64_t bookmark(int64_t parent, const std::string& title, const std::string& url,
                   int64_t lastVisit = 0) {
    int64_t place = placeFor(url, lastVisit);
    int64_t id = nextId_++;
    addItem(id, 1, parent, nextPosition(parent), title, guidFor(id), place);
    return id;
  }
  void tag(const std::string& url, const std::string& name) {
    int64_t tagFolder = 0;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "SELECT id FROM moz_bookmarks WHERE parent = 4 AND title = ?", -1, &st,
                       nullptr);
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) tagFolder = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    if (!tagFolder) tagFolder = folder(kTags, name);
    int64_t id = nextId_++;
    addItem(id, 1, tagFolder, nextPosition(tagFolder), "", guidFor(id), placeFor(url, 0));
  }
  void keyword(const std::string& url, const std::string& word, const char* postData) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_,
                       "INSERT INTO moz_keywords (keyword, place_id, post_data) "
                       "VALUES (?, ?, ?)",
                       -1, &st, nullptr);
    sqlite3_bind_text(st, 1, word.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, placeFor(url, 0));
    if (postData)
      sqlite3_bind_text(st, 3, postData, -1, SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(st, 3);
    sqlite3_step(st);
    sqlite3_finalize(st);
  }
  void exec(const std::string& sql) { sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }
  sqlite3* db() const { return db_; }

  static std::string guidFor(int64_t id) {
    std::string g = "item" + std::to_string(id);
    g.resize(12, '_');
    return g;
  }

 private:
  int64_t nextPosition(int64_t parent) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "SELECT count(*) FROM moz_bookmarks WHERE parent = ?", -1, &st,
                       nullptr);
    sqlite3_bind_int64(st, 1, parent);
    int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    sqlite3_finalize(st);
    return n;
  }
  int64_t placeFor(const std::string& url, int64_t lastVisit) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "SELECT id FROM moz_places WHERE url = ?", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, url.c_str(), -1, SQLITE_TRANSIENT);
    int64_t id = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    sqlite3_finalize(st);
    if (id) return id;
    sqlite3_prepare_v2(db_, "INSERT INTO moz_places (url, last_visit_date, guid) VALUES (?, ?, ?)",
                       -1, &st, nullptr);
    sqlite3_bind_text(st, 1, url.c_str(), -1, SQLITE_TRANSIENT);
    if (lastVisit)
      sqlite3_bind_int64(st, 2, lastVisit);
    else
      sqlite3_bind_null(st, 2);
    std::string guid = "page" + std::to_string(++pages_);
    sqlite3_bind_text(st, 3, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_finalize(st);
    return sqlite3_last_insert_rowid(db_);
  }
  void addItem(int64_t id, int type, int64_t parent, int64_t position, const std::string& title,
               const std::string& guid, int64_t fk = 0) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_,
                       "INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, "
                       "dateAdded, lastModified, guid) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &st, nullptr);
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_int(st, 2, type);
    if (fk)
      sqlite3_bind_int64(st, 3, fk);
    else
      sqlite3_bind_null(st, 3);
    sqlite3_bind_int64(st, 4, parent);
    sqlite3_bind_int64(st, 5, position);
    if (type == 3)
      sqlite3_bind_null(st, 6);
    else
      sqlite3_bind_text(st, 6, title.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 7, kAdded + id);
    sqlite3_bind_int64(st, 8, kModified + id);
    sqlite3_bind_text(st, 9, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_finalize(st);
  }

  sqlite3* db_ = nullptr;
  int64_t nextId_ = 1;
  int64_t pages_ = 0;
};
