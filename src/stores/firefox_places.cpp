#include "stores/firefox_places.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "stores/firefox_backup.h"
#include "stores/firefox_profile.h"
#include "tree/settings.h"
#include "ui/progress.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUnitSeparator = '\x1F';
constexpr int kBusyTimeoutMs = 3000;  // how long a lock held by another program is waited for

constexpr int kTypeBookmark = 1;
constexpr int kTypeFolder = 2;
constexpr int kTypeSeparator = 3;

const char* const kRootGuid = "root________";
const char* const kTagsGuid = "tags________";

struct RootName {
  const char* guid;
  const char* shown;  // the folder's name as Firefox shows it
  const char* root;   // the "root" member of Firefox's backups
};
const RootName kRoots[] = {
    {"menu________", "Bookmarks Menu", "bookmarksMenuFolder"},
    {"toolbar_____", "Bookmarks Toolbar", "toolbarFolder"},
    {"unfiled_____", "Other Bookmarks", "unfiledBookmarksFolder"},
    {"mobile______", "Mobile Bookmarks", "mobileFolder"},
};

const RootName* FindRoot(const std::string& guid) {
  for (const RootName& r : kRoots)
    if (guid == r.guid) return &r;
  return nullptr;
}

// One database connection, closed with the object.
class Database {
 public:
  ~Database() {
    if (db_) sqlite3_close(db_);
  }
  int open(const std::string& path, int flags) {
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc == SQLITE_OK) sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return rc;
  }
  // Opens a database nobody else has open, read-only and leaving no file behind. SQLite would
  // make the "-shm" and "-wal" files beside a database in write-ahead-log mode even for a
  // reader; such a database (its log empty, as Firefox leaves it when it closes) is opened as
  // immutable instead, which reads the file alone.
  int openReadOnly(const std::string& path) {
    if (!InWalMode(path)) return open(path, SQLITE_OPEN_READONLY);
    std::string generic = fs::path(path).generic_string();
    // A path with a drive letter becomes an absolute address of its own ("file:///C:/...").
    std::string uri = generic.size() > 1 && generic[1] == ':' ? "file:///" : "file:";
    for (char c : generic) {
      if (c == '%' || c == '?' || c == '#') {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02x", static_cast<unsigned char>(c));
        uri += escaped;
      } else {
        uri += c;
      }
    }
    uri += "?immutable=1";
    return open(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
  }
  sqlite3* get() const { return db_; }

  // Bytes 18 and 19 of the header are 2 in write-ahead-log mode.
  static bool InWalMode(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[20] = {};
    return in.read(header, sizeof header) && header[18] == 2 && header[19] == 2;
  }

 private:
  sqlite3* db_ = nullptr;
};

// One prepared statement, finalised with the object.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int prepared() const { return rc_; }
  int step() { return st_ ? sqlite3_step(st_) : rc_; }
  int64_t integer(int column) const { return sqlite3_column_int64(st_, column); }
  bool isNull(int column) const { return sqlite3_column_type(st_, column) == SQLITE_NULL; }
  std::string text(int column) const {
    const unsigned char* p = sqlite3_column_text(st_, column);
    int n = sqlite3_column_bytes(st_, column);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
             : std::string();
  }

 private:
  sqlite3_stmt* st_ = nullptr;
  int rc_ = SQLITE_OK;
};

struct Failure {
  PlacesError error = PlacesError::None;
  std::string message;
};

Failure FromSqlite(int rc, sqlite3* db, const std::string& path) {
  Failure f;
  int primary = rc & 0xFF;
  std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    f.error = PlacesError::Locked;
    f.message = path + " is locked by another program (" + detail + ")";
  } else if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) {
    f.error = PlacesError::NotDatabase;
    f.message = path + " is damaged, encrypted or not a database (" + detail + ")";
  } else {
    f.error = PlacesError::CannotOpen;
    f.message = "cannot read " + path + " (" + detail + ")";
  }
  return f;
}

struct Row {
  int64_t id = 0;
  int64_t parent = 0;
  int type = 0;
  int64_t dateAdded = 0;
  int64_t lastModified = 0;
  int64_t placeId = 0;
  int64_t lastVisit = 0;  // of the page, microseconds; 0 for none
  bool hasTitle = false;
  bool hasUrl = false;
  bool visited = false;
  std::string title;
  std::string guid;
  std::string url;
};

struct Keyword {
  std::string keyword;
  std::string postData;  // empty: none (Firefox's restore drops a bookmark with "")
};

struct Tables {
  std::vector<Row> rows;                                            // by parent, then position
  std::unordered_map<int64_t, std::pair<size_t, size_t>> children;  // parent id -> row range
  std::unordered_map<int64_t, std::string> tags;                    // place id -> "a,b"
  std::unordered_map<int64_t, Keyword> keywords;                    // place id -> first one
  std::unordered_map<int64_t, std::string> charsets;                // place id -> charset
  std::unordered_map<std::string, std::string> icons;               // page address -> icon
};

Failure ReadSchema(sqlite3* db, const std::string& path, int& schema) {
  Statement version(db, "PRAGMA user_version");
  int rc = version.prepared() == SQLITE_OK ? version.step() : version.prepared();
  if (rc != SQLITE_ROW) return FromSqlite(rc, db, path);
  schema = static_cast<int>(version.integer(0));
  Statement tables(db,
                   "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                   "('moz_bookmarks', 'moz_places', 'moz_keywords')");
  rc = tables.prepared() == SQLITE_OK ? tables.step() : tables.prepared();
  if (rc != SQLITE_ROW) return FromSqlite(rc, db, path);
  Failure f;
  if (tables.integer(0) != 3) {
    f.error = PlacesError::Foreign;
    f.message = path + " is an SQLite database but holds no Firefox bookmarks";
  } else if (schema < PLACES_OLDEST_SCHEMA || schema > PLACES_NEWEST_SCHEMA) {
    f.error = PlacesError::UnknownSchema;
    f.message = path + " has database schema " + std::to_string(schema) + ", which this program " +
                "does not know (it reads schemas " + std::to_string(PLACES_OLDEST_SCHEMA) + " to " +
                std::to_string(PLACES_NEWEST_SCHEMA) + "); nothing was read";
  }
  return f;
}

// The next row: true while one is there. rc is the last result of the statement.
bool Next(Statement& st, int& rc) {
  rc = st.prepared() == SQLITE_OK ? st.step() : st.prepared();
  return rc == SQLITE_ROW;
}

// The failure a statement ended with (none when it ran to its end).
Failure Ended(const Statement& st, int rc, sqlite3* db, const std::string& path) {
  if (rc == SQLITE_DONE) return {};
  if (st.prepared() != SQLITE_OK && (rc & 0xFF) == SQLITE_ERROR) {
    Failure f;
    f.error = PlacesError::UnknownSchema;
    f.message = path + " does not have the bookmark tables this program knows (" +
                std::string(sqlite3_errmsg(db)) + ")";
    return f;
  }
  return FromSqlite(rc, db, path);
}

Failure ReadTables(sqlite3* db, const std::string& path, Tables& t) {
  int rc = 0;
  {
    Statement st(db,
                 "SELECT b.id, b.parent, b.type, b.title, b.dateAdded, b.lastModified, b.guid, "
                 "b.fk, h.url, h.last_visit_date FROM moz_bookmarks b "
                 "LEFT JOIN moz_places h ON h.id = b.fk ORDER BY b.parent, b.position, b.id");
    while (Next(st, rc)) {
      Row r;
      r.id = st.integer(0);
      r.parent = st.integer(1);
      r.type = static_cast<int>(st.integer(2));
      r.hasTitle = !st.isNull(3);
      r.title = st.text(3);
      r.dateAdded = st.integer(4);
      r.lastModified = st.integer(5);
      r.guid = st.text(6);
      r.placeId = st.integer(7);
      r.hasUrl = !st.isNull(8);
      r.url = st.text(8);
      r.lastVisit = st.integer(9);
      t.rows.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) return Ended(st, rc, db, path);
  }
  for (size_t i = 0; i < t.rows.size();) {
    size_t j = i;
    while (j < t.rows.size() && t.rows[j].parent == t.rows[i].parent) ++j;
    t.children[t.rows[i].parent] = {i, j};
    i = j;
  }
  {
    Statement st(db,
                 "SELECT b.fk, t.title FROM moz_bookmarks b "
                 "JOIN moz_bookmarks t ON t.id = b.parent "
                 "JOIN moz_bookmarks g ON g.id = t.parent "
                 "WHERE g.guid = 'tags________' AND b.fk IS NOT NULL ORDER BY b.fk, t.title");
    while (Next(st, rc)) {
      std::string& list = t.tags[st.integer(0)];
      if (!list.empty()) list += ',';
      list += st.text(1);
    }
    if (rc != SQLITE_DONE) return Ended(st, rc, db, path);
  }
  {
    Statement st(db, "SELECT place_id, keyword, post_data FROM moz_keywords ORDER BY id");
    while (Next(st, rc)) {
      Keyword k{st.text(1), st.text(2)};
      t.keywords.try_emplace(st.integer(0), std::move(k));
    }
    if (rc != SQLITE_DONE) return Ended(st, rc, db, path);
  }
  {
    // Optional tables: a database without annotations simply has no character sets.
    Statement st(db,
                 "SELECT a.place_id, a.content FROM moz_annos a "
                 "JOIN moz_anno_attributes n ON n.id = a.anno_attribute_id "
                 "WHERE n.name = 'URIProperties/characterSet'");
    if (st.prepared() == SQLITE_OK) {
      while (st.step() == SQLITE_ROW) t.charsets.try_emplace(st.integer(0), st.text(1));
    }
  }
  return {};
}

// Icons live in favicons.sqlite beside the database. Only pages that are bookmarked are kept;
// the icon Firefox's backup names is the widest one that is not a rich (touch) icon.
void ReadIcons(const std::string& faviconsPath, bool writable, Tables& t) {
  std::error_code error;
  if (!fs::is_regular_file(faviconsPath, error)) return;
  Database icons;
  if ((writable ? icons.open(faviconsPath, SQLITE_OPEN_READWRITE)
                : icons.openReadOnly(faviconsPath)) != SQLITE_OK)
    return;
  std::unordered_set<std::string> pages;
  for (const Row& r : t.rows)
    if (r.hasUrl) pages.insert(r.url);
  const char* withFlags =
      "SELECT p.page_url, i.icon_url FROM moz_pages_w_icons p "
      "JOIN moz_icons_to_pages ip ON ip.page_id = p.id JOIN moz_icons i ON i.id = ip.icon_id "
      "ORDER BY p.id, (i.flags & 2), i.width DESC";
  const char* plain =
      "SELECT p.page_url, i.icon_url FROM moz_pages_w_icons p "
      "JOIN moz_icons_to_pages ip ON ip.page_id = p.id JOIN moz_icons i ON i.id = ip.icon_id "
      "ORDER BY p.id, i.width DESC";
  Statement first(icons.get(), withFlags);
  Statement second(icons.get(), first.prepared() == SQLITE_OK ? "SELECT 1 WHERE 0" : plain);
  Statement& st = first.prepared() == SQLITE_OK ? first : second;
  if (st.prepared() != SQLITE_OK) return;
  while (st.step() == SQLITE_ROW) {
    std::string page = st.text(0);
    if (pages.count(page)) t.icons.try_emplace(std::move(page), st.text(1));
  }
}

void AppendMember(std::string& out, const char* name, int64_t value) {
  if (!out.empty()) out += ',';
  out += '"';
  out += name;
  out += "\":";
  out += std::to_string(value);
}

void AppendMember(std::string& out, const char* name, const std::string& value) {
  if (!out.empty()) out += ',';
  out += '"';
  out += name;
  out += "\":";
  AppendJsonString(out, value.data(), value.size());
}

void MakeMembers(const Row& r, const RootName* root, const Tables& t, std::string& before,
                 std::string& after) {
  AppendMember(before, "dateAdded", r.dateAdded);
  AppendMember(before, "lastModified", r.lastModified);
  AppendMember(before, "id", r.id);
  AppendMember(before, "typeCode", r.type);
  if (r.type == kTypeBookmark) {
    if (auto c = t.charsets.find(r.placeId); c != t.charsets.end())
      AppendMember(before, "charset", c->second);
    if (auto g = t.tags.find(r.placeId); g != t.tags.end()) AppendMember(before, "tags", g->second);
    if (auto i = t.icons.find(r.url); i != t.icons.end())
      AppendMember(before, "iconUri", i->second);
    AppendMember(before, "type", std::string("text/x-moz-place"));
    if (auto k = t.keywords.find(r.placeId); k != t.keywords.end()) {
      AppendMember(after, "keyword", k->second.keyword);
      if (k->second.postData.empty())
        after += ",\"postData\":null";
      else
        AppendMember(after, "postData", k->second.postData);
    }
  } else if (r.type == kTypeFolder) {
    AppendMember(before, "type", std::string("text/x-moz-place-container"));
    if (root) AppendMember(before, "root", std::string(root->root));
  } else {
    AppendMember(before, "type", std::string("text/x-moz-place-separator"));
  }
}

std::string MakeRecord(const Row& r, const RootName* root, const Tables& t) {
  std::string before, after;
  MakeMembers(r, root, t, before, after);
  std::string record;
  record.reserve(r.guid.size() + before.size() + after.size() + 16);
  record += root ? 'R' : 'I';
  record += r.guid;
  record += kUnitSeparator;
  if (root) AppendJsonString(record, r.title.data(), r.title.size());
  record += kUnitSeparator;
  record += before;
  record += kUnitSeparator;
  record += after;
  return record;
}

TimeValue Seconds(int64_t microseconds) { return microseconds / 1000000; }

// Builds the entries below the places root, depth first with an explicit stack (a hostile
// database may nest deeply). Each row is used once, so a parent loop cannot repeat a subtree.
bool BuildTree(Tables& t, NodeList& root, int32_t& linkCount, std::string& rootMembers) {
  Row* placesRoot = nullptr;
  for (Row& r : t.rows)
    if (r.guid == kRootGuid) placesRoot = &r;
  if (!placesRoot) return false;
  placesRoot->visited = true;
  std::string unused;
  rootMembers.clear();
  MakeMembers(*placesRoot, nullptr, t, rootMembers, unused);
  AppendMember(rootMembers, "root", std::string("placesRoot"));

  bool sorted = settings && (settings->flags & FLAG_SORT_BOOKMARKS);
  struct Level {
    size_t next, end;
    NodeList* list;
    bool insideBrokenLinks;
  };
  std::vector<Level> stack;
  auto open = [&](int64_t parentId, NodeList* list, bool broken) {
    auto range = t.children.find(parentId);
    if (range != t.children.end())
      stack.push_back({range->second.first, range->second.second, list, broken});
  };
  open(placesRoot->id, &root, false);
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.end) {
      stack.pop_back();
      continue;
    }
    Row& r = t.rows[level.next++];
    NodeList* list = level.list;
    bool broken = level.insideBrokenLinks;
    bool topLevel = list == &root;
    if (r.visited || r.guid == kTagsGuid) continue;
    r.visited = true;
    const RootName* rootName = topLevel ? FindRoot(r.guid) : nullptr;
    if (topLevel && !rootName) continue;  // only the roots Firefox shows
    LinkEntry* entry = nullptr;
    if (r.type == kTypeSeparator) {
      entry = new (std::nothrow) LinkEntry();
    } else if (r.type == kTypeFolder) {
      entry = new (std::nothrow)
          LinkEntry(rootName ? rootName->shown : r.title.c_str(), nullptr, Seconds(r.dateAdded));
    } else if (r.type == kTypeBookmark && r.hasUrl && !r.url.empty()) {
      TimeValue visit = r.lastVisit ? Seconds(r.lastVisit) : Seconds(r.dateAdded);
      entry = new (std::nothrow) LinkEntry(r.title.c_str(), r.url.c_str(), visit);
    } else {
      continue;  // an item Firefox's own backup leaves out too
    }
    if (!entry) return false;
    entry->addDate = Seconds(r.dateAdded);
    entry->lastModified = Seconds(r.lastModified);
    std::string record = MakeRecord(r, rootName, t);
    entry->extraAttributes.assign(record.data(), static_cast<int32_t>(record.size()));
    if (sorted)
      list->insertSorted(entry);
    else
      list->addTail(entry);
    if (entry->isLink()) {
      if (!broken) ++linkCount;
    } else if (r.type == kTypeFolder) {
      open(r.id, &entry->children, broken || r.title == "Broken Links");
    }
  }
  return true;
}

std::string MakePrivateDirectory() {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) return std::string();
  std::random_device rd;
  for (int attempt = 0; attempt < 50; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "quillfen-places-%08x", static_cast<unsigned>(rd()));
    fs::path dir = base / name;
    if (fs::create_directory(dir, error) && !error) {
      fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, error);
      return dir.string();
    }
  }
  return std::string();
}

// Copies a file and, when present, its write-ahead log. False when the file itself cannot be
// copied.
bool CopyWithLog(const fs::path& from, const fs::path& to) {
  std::error_code error;
  if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, error)) return false;
  fs::path wal = from;
  wal += "-wal";
  fs::path walTo = to;
  walTo += "-wal";
  fs::remove(walTo, error);
  if (fs::exists(wal, error))
    fs::copy_file(wal, walTo, fs::copy_options::overwrite_existing, error);
  fs::path shm = to;
  shm += "-shm";
  fs::remove(shm, error);
  return true;
}

bool PassesCheck(sqlite3* db) {
  Statement st(db, "PRAGMA quick_check");
  if (st.prepared() != SQLITE_OK || st.step() != SQLITE_ROW) return false;
  return st.text(0) == "ok";
}

Failure ReadConnection(sqlite3* db, const std::string& shownPath, const std::string& faviconsPath,
                       bool writableIcons, Tables& t, int& schema) {
  Failure f = ReadSchema(db, shownPath, schema);
  if (f.error != PlacesError::None) return f;
  f = ReadTables(db, shownPath, t);
  if (f.error != PlacesError::None) return f;
  ReadIcons(faviconsPath, writableIcons, t);
  return {};
}

}  // namespace

FirefoxStoreState& FirefoxState() {
  static FirefoxStoreState state;
  return state;
}

bool ParseFirefoxRecord(const LinkEntry& entry, FirefoxRecord& record) {
  record = FirefoxRecord();
  std::string_view text(entry.extraAttributes.c_str(),
                        static_cast<size_t>(entry.extraAttributes.length));
  if (text.size() < 4 || (text[0] != 'R' && text[0] != 'I')) return false;
  size_t a = text.find(kUnitSeparator, 1);
  if (a == std::string_view::npos) return false;
  size_t b = text.find(kUnitSeparator, a + 1);
  if (b == std::string_view::npos) return false;
  size_t c = text.find(kUnitSeparator, b + 1);
  if (c == std::string_view::npos) return false;
  record.isRoot = text[0] == 'R';
  record.guid = text.substr(1, a - 1);
  record.title = text.substr(a + 1, b - a - 1);
  record.before = text.substr(b + 1, c - b - 1);
  record.after = text.substr(c + 1);
  return true;
}

PlacesReadResult ReadPlacesDatabase(const std::string& placesPath, bool firefoxRunning,
                                    NodeList& root, int32_t& linkCount) {
  PlacesReadResult result;
  FirefoxStoreState& state = FirefoxState();
  state = FirefoxStoreState();
  fs::path places(placesPath);
  fs::path favicons = places.parent_path() / "favicons.sqlite";
  Tables tables;
  Failure failure;

  // A write-ahead log with content, left behind by a Firefox that crashed, holds changes the
  // database file does not have yet: such a database is read like a running one's, from a
  // private copy (reading it in place would mean recovering the log into it).
  std::error_code sizeError;
  fs::path wal = places;
  wal += "-wal";
  if (fs::file_size(wal, sizeError) > 0 && !sizeError) firefoxRunning = true;
  if (!firefoxRunning) {
    Database db;
    int rc = db.openReadOnly(placesPath);
    if (rc != SQLITE_OK) {
      failure = FromSqlite(rc, db.get(), placesPath);
    } else {
      failure =
          ReadConnection(db.get(), placesPath, favicons.string(), false, tables, result.schema);
    }
  }
  if (firefoxRunning) {
    result.copied = true;
    std::string dir = MakePrivateDirectory();
    if (dir.empty()) {
      result.error = PlacesError::CannotOpen;
      result.message = "cannot make a private folder to copy " + placesPath + " into";
      return result;
    }
    fs::path copy = fs::path(dir) / "places.sqlite";
    fs::path iconsCopy = fs::path(dir) / "favicons.sqlite";
    for (int attempt = 0; attempt < 2; ++attempt) {
      tables = Tables();
      failure = Failure();
      if (!CopyWithLog(places, copy)) {
        failure.error = PlacesError::CannotOpen;
        failure.message = "cannot copy " + placesPath;
        break;
      }
      std::error_code error;
      if (fs::exists(favicons, error)) CopyWithLog(favicons, iconsCopy);
      Database db;
      int rc = db.open(copy.string(), SQLITE_OPEN_READWRITE);
      if (rc != SQLITE_OK) {
        failure = FromSqlite(rc, db.get(), placesPath);
        break;
      }
      if (!PassesCheck(db.get())) {
        failure.error = PlacesError::Torn;
        failure.message = "the copy of " + placesPath +
                          " taken while Firefox was running was damaged twice; try again "
                          "or close Firefox";
        continue;
      }
      failure =
          ReadConnection(db.get(), placesPath, iconsCopy.string(), true, tables, result.schema);
      break;
    }
    std::error_code error;
    fs::remove_all(dir, error);
  }
  if (failure.error != PlacesError::None) {
    result.error = failure.error;
    result.message = failure.message;
    return result;
  }

  NodeList read;
  int32_t count = 0;
  std::string rootMembers;
  if (!BuildTree(tables, read, count, rootMembers)) {
    FreeTree(read);
    result.error = PlacesError::Foreign;
    result.message = placesPath + " has no bookmark root; nothing was read";
    return result;
  }
  std::string json;
  int64_t items = 0;
  FormatFirefoxBackup(read, rootMembers, json, items);
  state.active = true;
  state.profileDir = places.parent_path().string();
  if (state.profileDir.empty()) state.profileDir = ".";
  state.firefoxRunning = result.copied;
  state.rootMembers = std::move(rootMembers);
  state.readDigest = BackupContentHash(json);
  while (!read.isEmpty()) {
    Node* n = read.head();
    n->unlink();
    root.addTail(n);
  }
  linkCount += count;
  return result;
}

bool ReadFirefoxBookmarks(Window* window, NodeList& root, int32_t& linkCount) {
  FirefoxState() = FirefoxStoreState();
  std::string placesPath, profileDir;
  const char* setting = settings ? settings->bookmarkFile.c_str() : "";
  FirefoxStoreKind kind = ClassifyFirefoxStore(setting, placesPath, profileDir);
  if (kind == FirefoxStoreKind::FolderWithoutDb) {
    AppendLogF(window, IDC_LOG, "Couldn't read Firefox bookmarks: %s holds no places.sqlite.\r\n",
               profileDir.c_str());
    return false;
  }
  if (kind != FirefoxStoreKind::Places) {
    AppendLogF(window, IDC_LOG, "Couldn't read Firefox bookmarks: %s is not a Firefox profile.\r\n",
               setting);
    return false;
  }
  bool running = FirefoxHoldsProfile(profileDir);
  AppendLog(window, IDC_LOG,
            running ? "Reading Firefox bookmarks (Firefox is running: reading a copy)...\r\n"
                    : "Reading Firefox bookmarks...\r\n");
  PlacesReadResult result = ReadPlacesDatabase(placesPath, running, root, linkCount);
  if (result.error != PlacesError::None) {
    AppendLogF(window, IDC_LOG, "Couldn't read Firefox bookmarks: %s.\r\n", result.message.c_str());
    return false;
  }
  return true;
}

int32_t CountFirefoxLinks(const std::string& placesPath) {
  FirefoxStoreState saved = FirefoxState();
  NodeList tree;
  int32_t links = 0;
  std::string parent = fs::path(placesPath).parent_path().string();
  PlacesReadResult r = ReadPlacesDatabase(
      placesPath, FirefoxHoldsProfile(parent.empty() ? "." : parent), tree, links);
  FreeTree(tree);
  FirefoxState() = std::move(saved);
  return r.error == PlacesError::None ? links : -1;
}
