#include "stores/chromium_store.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>
#include <functional>
#include <new>
#include <nlohmann/json.hpp>
#include <random>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "stores/browser_profiles.h"
#include "tree/settings.h"
#include "ui/progress.h"

using Json = nlohmann::ordered_json;

namespace {

// The browsers read no document nested deeper than a few hundred levels, so a deeper one is
// no file they wrote; the limit also bounds the recursion of reading and writing.
constexpr int kJsonDepthMax = 400;
// Folders inside folders the save may write: each folder level takes two JSON levels.
constexpr int kFolderDepthMax = (kJsonDepthMax - 8) / 2;
// Larger files are not read at all (the parsed document takes several times the file size).
constexpr size_t kFileSizeMax = size_t{512} << 20;

constexpr const char* kBrokenLinks = "Broken Links";

struct RootName {
  const char* key;
  const char* shown;
};
// The roots the browser knows, in the order its checksum takes them, and the names it shows.
constexpr RootName kRoots[] = {
    {"bookmark_bar", "Bookmarks bar"},
    {"other", "Other bookmarks"},
    {"synced", "Mobile bookmarks"},
};

}  // namespace

// One node of the file: where it is in the document and where it was in its parent.
struct ChromiumRecord {
  Json* node;               // the node's object inside the document
  uint32_t parent;          // record of the folder holding it, 0 for a root
  uint32_t index;           // its place in that folder's children
  uint32_t childCount;      // its children in the file
  TimeValue checkedOrUsed;  // the later of date_last_used and the program's check date
  std::string rootKey;      // for a root, its key in "roots"
};

struct ChromiumDocument {
  Json json;
  std::vector<ChromiumRecord> records;  // record r is records[r - 1]
  uint64_t maxId = 0;
  size_t fileHash = 0;  // of the file's bytes when read, to notice a change before the save
  std::string path;
};

void ChromiumDocumentDeleter::operator()(ChromiumDocument* document) const { delete document; }

TimeValue ChromiumDateToTime(const std::string& text) {
  int64_t micro = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  auto parsed = std::from_chars(begin, end, micro);
  if (parsed.ec != std::errc() || parsed.ptr != end || micro <= 0) return 0;
  int64_t seconds = micro / 1000000 - kSecondsFrom1601To1970;
  return seconds > 0 ? seconds : 0;
}

std::string TimeToChromiumDate(TimeValue time) {
  if (time <= 0) return "0";
  // Past this the microseconds would not fit in 64 bits.
  constexpr int64_t kLatest = INT64_MAX / 1000000 - kSecondsFrom1601To1970;
  if (time > kLatest) time = kLatest;
  return std::to_string((time + kSecondsFrom1601To1970) * 1000000);
}

namespace {

// A text with every byte that is not part of well-formed UTF-8 replaced by U+FFFD, as the
// file must hold only UTF-8 (names of shortcut files may be any bytes).
std::string WellFormedUtf8(const char* text, size_t length) {
  std::string out;
  out.reserve(length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length;) {
    uint32_t code;
    size_t n = DecodeUtf8(bytes + i, length - i, &code);
    if (n) {
      out.append(text + i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

// Appends the UTF-16 little-endian bytes of well-formed UTF-8 text.
void AppendUtf16(std::string& out, const std::string& text) {
  auto unit = [&out](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
    if (i + n > text.size()) n = text.size() - i;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
}

// The checksums the browser keeps: MD5 (and, in newer files, SHA-256) over the nodes of its
// three roots in document order, each node giving its id, its name in UTF-16 and then "url"
// and its address or "folder".
class NodeDigest {
 public:
  NodeDigest() {
    md5_ = EVP_MD_CTX_new();
    sha_ = EVP_MD_CTX_new();
    ok_ = md5_ && sha_ && EVP_DigestInit_ex(md5_, EVP_md5(), nullptr) == 1 &&
          EVP_DigestInit_ex(sha_, EVP_sha256(), nullptr) == 1;
  }
  ~NodeDigest() {
    EVP_MD_CTX_free(md5_);
    EVP_MD_CTX_free(sha_);
  }
  NodeDigest(const NodeDigest&) = delete;
  NodeDigest& operator=(const NodeDigest&) = delete;

  void addTree(const Json& node, int depth) {
    if (!node.is_object() || depth > kJsonDepthMax) return;
    auto text = [&node](const char* key) -> const std::string* {
      auto it = node.find(key);
      return it != node.end() && it->is_string() ? &it->get_ref<const std::string&>() : nullptr;
    };
    static const std::string kEmpty;
    const std::string* id = text("id");
    const std::string* name = text("name");
    const std::string* type = text("type");
    add(id ? *id : kEmpty);
    buffer_.clear();
    AppendUtf16(buffer_, name ? *name : kEmpty);
    add(buffer_);
    if (type && *type == "url") {
      const std::string* url = text("url");
      add("url");
      add(url ? *url : kEmpty);
      return;
    }
    add("folder");
    auto children = node.find("children");
    if (children == node.end() || !children->is_array()) return;
    for (const Json& child : *children) addTree(child, depth + 1);
  }

  std::string md5() { return finish(md5_); }
  std::string sha256() { return finish(sha_); }

 private:
  void add(std::string_view bytes) {
    if (!ok_ || bytes.empty()) return;
    ok_ = EVP_DigestUpdate(md5_, bytes.data(), bytes.size()) == 1 &&
          EVP_DigestUpdate(sha_, bytes.data(), bytes.size()) == 1;
  }
  std::string finish(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok_ || EVP_DigestFinal_ex(context, digest, &length) != 1) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
      out += kHex[digest[i] >> 4];
      out += kHex[digest[i] & 15];
    }
    return out;
  }
  EVP_MD_CTX* md5_ = nullptr;
  EVP_MD_CTX* sha_ = nullptr;
  bool ok_ = false;
  std::string buffer_;
};

// Fills the digest from the document's three roots; false when a root is missing.
bool DigestRoots(const Json& document, NodeDigest& digest) {
  auto roots = document.find("roots");
  if (roots == document.end() || !roots->is_object()) return false;
  for (const RootName& root : kRoots) {
    auto it = roots->find(root.key);
    if (it == roots->end()) return false;
    digest.addTree(*it, 1);
  }
  return true;
}

// The deepest nesting of arrays and objects in JSON text, found without parsing it, so that a
// hostile depth is refused before any recursion.
int NestingDepth(const char* data, size_t size) {
  int depth = 0, deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < size; ++i) {
    char c = data[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > deepest) deepest = depth;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}

const std::string* StringField(const Json& node, const char* key, bool& wrongType) {
  auto it = node.find(key);
  if (it == node.end()) return nullptr;
  if (!it->is_string()) {
    wrongType = true;
    return nullptr;
  }
  return &it->get_ref<const std::string&>();
}

// Builds the tree from the document.
class TreeReader {
 public:
  TreeReader(ChromiumDocument& document, int32_t& linkCount, std::string& error)
      : doc_(document), linkCount_(linkCount), error_(error) {
    sorted_ = settings && (settings->flags & FLAG_SORT_BOOKMARKS);
  }

  bool readRoots(NodeList& root) {
    if (!doc_.json.is_object()) return fail("it is not a JSON object");
    auto roots = doc_.json.find("roots");
    if (roots == doc_.json.end() || !roots->is_object()) return fail("it has no \"roots\"");
    for (const RootName& known : kRoots)
      if (roots->find(known.key) == roots->end())
        return fail(std::string("it lacks the root \"") + known.key + "\"");
    for (auto& [key, node] : roots->items()) {
      if (!node.is_object()) return fail("the root \"" + key + "\" is not an object");
      const char* shown = nullptr;
      for (const RootName& known : kRoots)
        if (key == known.key) shown = known.shown;
      bool wrongType = false;
      const std::string* name = StringField(node, "name", wrongType);
      std::string title = shown ? shown : name && !name->empty() ? *name : key;
      LinkEntry* folder = readNode(node, 0, 0, 1, &title);
      if (!folder) return false;
      doc_.records[folder->storeRecord - 1].rootKey = key;
      root.addTail(folder);
    }
    return true;
  }

 private:
  bool fail(const std::string& reason) {
    if (error_.empty()) error_ = reason;
    return false;
  }

  // The entry for one node and, below it, its children; null (with error_) when the node
  // is not one the store can write back as it was.
  LinkEntry* readNode(Json& node, uint32_t parent, uint32_t index, int depth,
                      const std::string* shownName) {
    if (!node.is_object()) return fail("an entry is not a JSON object"), nullptr;
    bool wrongType = false;
    const std::string* id = StringField(node, "id", wrongType);
    const std::string* name = StringField(node, "name", wrongType);
    const std::string* type = StringField(node, "type", wrongType);
    const std::string* url = StringField(node, "url", wrongType);
    const std::string* added = StringField(node, "date_added", wrongType);
    const std::string* modified = StringField(node, "date_modified", wrongType);
    const std::string* used = StringField(node, "date_last_used", wrongType);
    std::string where = id ? " (id " + *id + ")" : "";
    if (wrongType)
      return fail("an entry" + where + " has a number or list where text belongs"), nullptr;
    uint64_t number = 0;
    if (id) {
      auto parsed = std::from_chars(id->data(), id->data() + id->size(), number);
      if (parsed.ec != std::errc() || parsed.ptr != id->data() + id->size())
        return fail("an entry has an id that is not a number: " + *id), nullptr;
      if (!ids_.insert(number).second) return fail("the id " + *id + " is used twice"), nullptr;
      doc_.maxId = std::max(doc_.maxId, number);
    }
    if (!type) return fail("an entry" + where + " has no type"), nullptr;
    bool isUrl = *type == "url";
    if (!isUrl && *type != "folder")
      return fail("an entry" + where + " has the unknown type \"" + *type + "\""), nullptr;
    auto children = node.find("children");
    if (isUrl && children != node.end()) return fail("the link" + where + " has children"), nullptr;
    if (isUrl && (!url || url->empty()))
      return fail("the link" + where + " has no address"), nullptr;
    if (!isUrl && (children == node.end() || !children->is_array()))
      return fail("the folder" + where + " has no list of children"), nullptr;
    if (depth > kFolderDepthMax) return fail("its folders nest too deeply"), nullptr;

    TimeValue visit = used ? ChromiumDateToTime(*used) : 0;
    auto meta = node.find("meta_info");
    if (meta != node.end() && meta->is_object()) {
      auto checked = meta->find(kCheckDateKey);
      if (checked != meta->end() && checked->is_string())
        visit = std::max(visit, ChromiumDateToTime(checked->get_ref<const std::string&>()));
    }
    const std::string& title = shownName ? *shownName : name ? *name : empty_;
    LinkEntry* entry =
        new (std::nothrow) LinkEntry(title.c_str(), isUrl ? url->c_str() : nullptr, visit);
    if (!entry || !entry->name || (isUrl && entry->url.length == 0)) {
      delete entry;
      return fail("there is not enough memory"), nullptr;
    }
    entry->addDate = added ? ChromiumDateToTime(*added) : 0;
    entry->lastModified = modified ? ChromiumDateToTime(*modified) : 0;
    uint32_t count = isUrl ? 0 : static_cast<uint32_t>(children->size());
    doc_.records.push_back({&node, parent, index, count, visit, {}});
    uint32_t record = static_cast<uint32_t>(doc_.records.size());
    entry->storeRecord = record;
    if (isUrl) {
      if (brokenDepth_ == 0) ++linkCount_;
      return entry;
    }
    bool broken = std::strcmp(entry->name, kBrokenLinks) == 0;
    if (broken) ++brokenDepth_;
    std::vector<LinkEntry*> read;
    read.reserve(count);
    uint32_t position = 0;
    for (Json& child : *children) {
      LinkEntry* item = readNode(child, record, position++, depth + 1, nullptr);
      if (!item) {
        for (LinkEntry* done : read) {
          FreeTree(done->children);
          delete done;
        }
        FreeTree(entry->children);
        delete entry;
        return nullptr;
      }
      read.push_back(item);
    }
    if (broken) --brokenDepth_;
    if (sorted_)
      std::stable_sort(read.begin(), read.end(), [](const LinkEntry* a, const LinkEntry* b) {
        return CompareNames(a->name, b->name) < 0;
      });
    for (LinkEntry* item : read) entry->children.addTail(item);
    return entry;
  }

  ChromiumDocument& doc_;
  int32_t& linkCount_;
  std::string& error_;
  bool sorted_ = false;
  int brokenDepth_ = 0;
  std::unordered_set<uint64_t> ids_;
  const std::string empty_;
};

std::string RandomGuid() {
  unsigned char b[16];
  if (RAND_bytes(b, sizeof b) != 1) {
    std::random_device rd;
    for (unsigned char& byte : b) byte = static_cast<unsigned char>(rd());
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[b[i] >> 4];
    out += kHex[b[i] & 15];
  }
  return out;
}

// Changes the kept document in place into the one the tree gives: each folder gets a new list
// of children, made of its entries' nodes moved out of wherever the file had them (with the
// keys the tree changed set in place) and of new nodes. Notes whether anything differs.
class TreeWriter {
 public:
  TreeWriter(ChromiumDocument& document, std::string& error)
      : doc_(document), error_(error), used_(document.records.size(), false) {
    nextId_ = document.maxId + 1;
    uint32_t flags = settings ? settings->flags : 0;
    keepCheckDates_ = (flags & FLAG_ONLY_OLDER) != 0;
    now_ = static_cast<TimeValue>(std::time(nullptr));
  }

  bool build(const NodeList& tree) {
    // The roots as the tree holds them; entries of the top level that are no root go to the
    // end of "Other bookmarks", as the browser has no place above its roots.
    std::vector<LinkEntry*> loose;
    std::vector<std::pair<uint32_t, LinkEntry*>> roots;
    for (Node* n = tree.head(); n->next; n = n->next) {
      LinkEntry* entry = LinkEntry::of(n);
      uint32_t r = entry->storeRecord;
      if (r && r <= doc_.records.size() && !doc_.records[r - 1].rootKey.empty() && !used_[r - 1]) {
        used_[r - 1] = true;
        roots.emplace_back(r, entry);
      } else {
        loose.push_back(entry);
      }
    }
    for (uint32_t r = 1; r <= doc_.records.size(); ++r) {
      const ChromiumRecord& record = doc_.records[r - 1];
      if (!record.rootKey.empty() && !used_[r - 1]) {
        error_ = "the bookmarks of \"" + record.rootKey + "\" are missing from the tree";
        return false;
      }
    }
    for (auto [r, entry] : roots) {
      ++emitted_;
      const ChromiumRecord& record = doc_.records[r - 1];
      if (!writeRecordNode(*entry, r, *record.node, 1,
                           record.rootKey == "other" ? &loose : nullptr))
        return false;
    }
    if (emitted_ != doc_.records.size()) changed_ = true;
    return true;
  }

  bool changed() const { return changed_; }

 private:
  static bool Written(const LinkEntry& entry) {
    if (!entry.name || !(entry.source & SOURCE_BOOKMARKS)) return false;
    return !(entry.isLink() && entry.action == ACTION_DELETE);
  }

  static Json& Reserved(Json& array, size_t count) {
    array.get_ref<Json::array_t&>().reserve(count);
    return array;
  }

  // Sets in the node of an entry the file had what the tree changed, keeping its other keys.
  bool writeRecordNode(const LinkEntry& entry, uint32_t r, Json& node, int depth,
                       const std::vector<LinkEntry*>* extra) {
    const ChromiumRecord& record = doc_.records[r - 1];
    if (entry.isLink()) {
      writeName(entry, record, node);
      auto url = node.find("url");
      std::string_view now(entry.url.c_str(), static_cast<size_t>(entry.url.length));
      if (url == node.end() || !url->is_string() ||
          std::string_view(url->get_ref<const std::string&>()) != now) {
        node["url"] = WellFormedUtf8(now.data(), now.size());
        changed_ = true;
      }
      if (keepCheckDates_ && entry.lastVisit > record.checkedOrUsed) {
        std::string date = TimeToChromiumDate(entry.lastVisit);
        auto meta = node.find("meta_info");
        if (meta == node.end()) {
          node["meta_info"] = Json::object({{kCheckDateKey, date}});
          changed_ = true;
        } else if (meta->is_object()) {
          Json& kept = (*meta)[kCheckDateKey];
          if (!kept.is_string() || kept.get_ref<const std::string&>() != date) {
            kept = date;
            changed_ = true;
          }
        }
      }
      return true;
    }
    Json list = Json::array();
    Reserved(list, record.childCount + (extra ? extra->size() : 0));
    if (!writeChildren(entry.children, r, list, depth, extra)) return false;
    // The old list still holds the places other records point to, so it is kept until the
    // whole document has been written.
    Json& children = node["children"];
    retired_.push_back(std::move(children));
    children = std::move(list);
    // Only now, with no record left below it: a key added to a node may move its other
    // members (the library copies them), and the records of its children point into them.
    writeName(entry, record, node);
    return true;
  }

  void writeName(const LinkEntry& entry, const ChromiumRecord& record, Json& node) {
    if (!record.rootKey.empty()) return;
    auto name = node.find("name");
    if (name == node.end() || !name->is_string() ||
        std::strcmp(name->get_ref<const std::string&>().c_str(), entry.name) != 0) {
      node["name"] = WellFormedUtf8(entry.name, std::strlen(entry.name));
      changed_ = true;
    }
  }

  bool writeChildren(const NodeList& list, uint32_t parent, Json& out, int depth,
                     const std::vector<LinkEntry*>* extra) {
    if (depth > kFolderDepthMax) {
      error_ = "its folders would nest too deeply";
      return false;
    }
    uint32_t position = 0;
    auto one = [&](LinkEntry& entry) {
      if (!Written(entry)) return true;
      uint32_t r = entry.storeRecord;
      if (r && r <= doc_.records.size() && !used_[r - 1] && doc_.records[r - 1].rootKey.empty() &&
          entry.isLink() == !doc_.records[r - 1].node->contains("children")) {
        used_[r - 1] = true;
        ++emitted_;
        const ChromiumRecord& record = doc_.records[r - 1];
        if (record.parent != parent || record.index != position) changed_ = true;
        if (!writeRecordNode(entry, r, *record.node, depth + 1, nullptr)) return false;
        out.push_back(std::move(*record.node));
      } else {
        Json node;
        if (!writeNewNode(entry, node, depth + 1)) return false;
        out.push_back(std::move(node));
        changed_ = true;
      }
      ++position;
      return true;
    };
    for (Node* n = list.head(); n->next; n = n->next)
      if (!one(*LinkEntry::of(n))) return false;
    if (extra)
      for (LinkEntry* entry : *extra)
        if (!one(*entry)) return false;
    if (parent && position != doc_.records[parent - 1].childCount) changed_ = true;
    return true;
  }

  // A node the file did not have: a fresh id above every id of the file, a new GUID, and its
  // keys in the order in which the browser writes them.
  bool writeNewNode(const LinkEntry& entry, Json& out, int depth) {
    TimeValue added = entry.addDate ? entry.addDate : entry.lastVisit ? entry.lastVisit : now_;
    out = Json::object();
    if (!entry.isLink()) {
      Json list = Json::array();
      if (!writeChildren(entry.children, 0, list, depth, nullptr)) return false;
      out["children"] = std::move(list);
    }
    out["date_added"] = TimeToChromiumDate(added);
    out["date_last_used"] = "0";
    if (!entry.isLink()) out["date_modified"] = TimeToChromiumDate(now_);
    out["guid"] = RandomGuid();
    out["id"] = std::to_string(nextId_++);
    out["name"] = WellFormedUtf8(entry.name, std::strlen(entry.name));
    out["type"] = entry.isLink() ? "url" : "folder";
    if (entry.isLink())
      out["url"] = WellFormedUtf8(entry.url.c_str(), static_cast<size_t>(entry.url.length));
    return true;
  }

  ChromiumDocument& doc_;
  std::string& error_;
  std::vector<bool> used_;
  std::vector<Json> retired_;
  size_t emitted_ = 0;
  uint64_t nextId_ = 1;
  bool keepCheckDates_ = false;
  bool changed_ = false;
  TimeValue now_ = 0;
};

// The document currently kept for the save of the run.
ChromiumDocumentPtr& Kept() {
  static ChromiumDocumentPtr kept;
  return kept;
}

size_t HashBytes(const std::string& bytes) { return std::hash<std::string_view>()(bytes); }

}  // namespace

ChromiumDocumentPtr ReadChromiumText(const char* data, size_t size, NodeList& root,
                                     int32_t& linkCount, std::string& error,
                                     bool* checksumMatched) {
  error.clear();
  if (checksumMatched) *checksumMatched = true;
  if (size > kFileSizeMax) {
    error = "it is too large";
    return nullptr;
  }
  if (NestingDepth(data, size) > kJsonDepthMax) {
    error = "its folders nest too deeply";
    return nullptr;
  }
  // The library reports what it cannot do by exceptions; none of them may leave here.
  try {
    ChromiumDocumentPtr doc(new ChromiumDocument);
    doc->json = Json::parse(data, data + size, nullptr, false);
    if (doc->json.is_discarded()) {
      error = "it is not valid JSON (cut short, or not UTF-8 text)";
      return nullptr;
    }
    NodeList read;
    int32_t count = 0;
    TreeReader reader(*doc, count, error);
    if (!reader.readRoots(read)) {
      FreeTree(read);
      return nullptr;
    }
    if (checksumMatched) {
      auto stored = doc->json.find("checksum");
      if (stored != doc->json.end()) {
        NodeDigest digest;
        DigestRoots(doc->json, digest);
        *checksumMatched =
            stored->is_string() && stored->get_ref<const std::string&>() == digest.md5();
      }
    }
    while (!read.isEmpty()) {
      Node* n = read.head();
      n->unlink();
      root.addTail(n);
    }
    linkCount += count;
    return doc;
  } catch (const std::exception&) {
    error = "there is not enough memory";
    return nullptr;
  }
}

bool FormatChromiumText(ChromiumDocument& document, const NodeList& tree, std::string& out,
                        bool& changed, std::string& error) {
  out.clear();
  changed = false;
  error.clear();
  try {
    TreeWriter writer(document, error);
    if (!writer.build(tree)) return false;
    changed = writer.changed();
    if (!changed) return true;
    Json& result = document.json;
    NodeDigest digest;
    DigestRoots(result, digest);
    result["checksum"] = digest.md5();
    if (result.contains("checksum_sha256")) result["checksum_sha256"] = digest.sha256();
    out = result.dump(3, ' ', false, Json::error_handler_t::replace);
    return true;
  } catch (const std::exception&) {
    error = "there is not enough memory";
    return false;
  }
}

std::string ChromiumChecksumOf(const std::string& text) {
  try {
    Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return {};
    NodeDigest digest;
    if (!DigestRoots(json, digest)) return {};
    return digest.md5();
  } catch (const std::exception&) {
    return {};
  }
}

bool ReadChromiumFile(Window* window, const char* path, NodeList& root, int32_t& linkCount) {
  ReleaseChromiumDocument();
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    AppendLog(window, IDC_LOG, "Couldn't open the browser's Bookmarks file!\r\n");
    return false;
  }
  AppendLog(window, IDC_LOG, "Reading the browser's Bookmarks...\r\n");
  std::string error;
  bool checksumMatched = true;
  ChromiumDocumentPtr doc =
      ReadChromiumText(bytes.data(), bytes.size(), root, linkCount, error, &checksumMatched);
  if (!doc) {
    AppendLogF(window, IDC_LOG,
               "The Bookmarks file cannot be read: %s. It will not be changed.\r\n", error.c_str());
    return false;
  }
  if (!checksumMatched)
    AppendLog(window, IDC_LOG,
              "The Bookmarks file's checksum does not match its content; a save will correct "
              "it.\r\n");
  doc->fileHash = HashBytes(bytes);
  doc->path = path;
  Kept() = std::move(doc);
  return true;
}

StoreSave WriteChromiumFile(Window* window, const char* path, NodeList& tree, std::string* why) {
  ChromiumDocumentPtr doc = std::move(Kept());
  if (!doc || doc->path != path) {
    if (why) *why = "the file was not read in this run";
    return StoreSave::Failed;
  }
  std::string text, error;
  bool changed = false;
  if (!FormatChromiumText(*doc, tree, text, changed, error)) {
    AppendLogF(window, IDC_LOG, "The Bookmarks file cannot be written: %s.\r\n", error.c_str());
    if (why) *why = error;
    return StoreSave::Failed;
  }
  if (!changed) return StoreSave::Saved;
  BrowserLock lock = FindBrowserLock(path);
  if (lock.inUse) {
    AppendLogF(window, IDC_LOG, "Close %s first: its bookmarks were checked but not changed.\r\n",
               lock.browser.c_str());
    return StoreSave::Refused;
  }
  std::string now;
  if (!ReadWholeFile(path, now) || HashBytes(now) != doc->fileHash) {
    AppendLog(window, IDC_LOG,
              "The Bookmarks file changed while the links were checked: it was not changed.\r\n");
    return StoreSave::Refused;
  }
  AtomicFileWriter file;
  AtomicWriteOptions options;
  options.throughLink = true;
  options.removeLeftovers = true;
  bool ok = file.begin(path, options);
  if (ok) {
    file.write(text.data(), text.size());
    ok = file.commit(true);
  }
  if (!ok && why) *why = FileErrorText(file.error());
  return ok ? StoreSave::Saved : StoreSave::Failed;
}

void ReleaseChromiumDocument() { Kept().reset(); }
