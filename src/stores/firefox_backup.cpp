#include "stores/firefox_backup.h"

#include <lz4.h>
#include <openssl/evp.h>

#include <cstring>
#include <filesystem>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/directories.h"
#include "platform/files.h"
#include "platform/text.h"
#include "stores/firefox_places.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;

constexpr char kMagic[8] = {'m', 'o', 'z', 'L', 'z', '4', '0', '\0'};
// A backup larger than this is no bookmark collection of a person; the bound keeps a damaged
// size field from asking for gigabytes.
constexpr uint32_t kMaxBackupText = 1u << 30;

// Writes the tree's bookmark side as JSON, depth first with an explicit stack (the tree may
// nest deeply).
class BackupFormatter {
 public:
  explicit BackupFormatter(std::string& out) : out_(out) {}

  void format(const NodeList& tree, const std::string& rootMembers, int64_t& itemCount) {
    out_ += "{\"guid\":\"root________\",\"title\":\"\",\"index\":0,";
    out_ += rootMembers.empty() ? std::string(
                                      "\"typeCode\":2,\"type\":\"text/x-moz-place-container\","
                                      "\"root\":\"placesRoot\"")
                                : rootMembers;
    count_ = 1;
    // The roots in tree order; everything else at the top level goes into "Other Bookmarks".
    std::vector<const LinkEntry*> roots;
    for (Node* n = tree.head(); n->next; n = n->next) {
      const LinkEntry* e = LinkEntry::of(n);
      if (!(e->source & SOURCE_BOOKMARKS)) continue;
      FirefoxRecord record;
      if (ParseFirefoxRecord(*e, record) && record.isRoot && e->isFolder() &&
          used_.insert(record.guid).second) {
        roots.push_back(e);
        if (record.guid == "unfiled_____") unfiled_ = e;
      } else {
        strays_.push_back(e);
      }
    }
    Frame top{nullptr, 0, true, false};
    for (const LinkEntry* r : roots) {
      openChild(top);
      writeOpen(*r, top.index++);
      drain();
    }
    if (!unfiled_ && hasWrittenStray()) {
      openChild(top);
      out_ += "{\"guid\":\"unfiled_____\",\"title\":\"unfiled\",\"index\":";
      out_ += std::to_string(top.index++);
      out_ +=
          ",\"typeCode\":2,\"type\":\"text/x-moz-place-container\","
          "\"root\":\"unfiledBookmarksFolder\"";
      ++count_;
      stack_.push_back(Frame{nullptr, 0, true, true});
      drain();
    }
    if (!top.first) out_ += ']';
    out_ += '}';
    itemCount = count_;
  }

 private:
  struct Frame {
    Node* next;       // the next node of the folder being written
    int64_t index;    // the position the next written child gets
    bool first;       // no child written yet (the "children" member is not open)
    bool takeStrays;  // after its own children, the folder gets the top level's strays
  };

  static bool Written(const LinkEntry& e) {
    return (e.source & SOURCE_BOOKMARKS) && !(e.isLink() && e.action == ACTION_DELETE);
  }

  bool hasWrittenStray() const {
    for (const LinkEntry* e : strays_)
      if (Written(*e)) return true;
    return false;
  }

  void openChild(Frame& f) {
    out_ += f.first ? ",\"children\":[" : ",";
    f.first = false;
  }

  // Writes the members of one entry; a folder's frame is pushed (its children and closing
  // brace follow in drain), anything else is closed at once.
  void writeOpen(const LinkEntry& e, int64_t index) {
    ++count_;
    FirefoxRecord record;
    bool kept = ParseFirefoxRecord(e, record);
    out_ += '{';
    if (kept && (record.isRoot || used_.insert(record.guid).second)) {
      out_ += "\"guid\":\"";
      out_.append(record.guid.data(), record.guid.size());
      out_ += "\",";
    }
    out_ += "\"title\":";
    if (kept && record.isRoot)
      out_.append(record.title.data(), record.title.size());
    else if (e.name)
      AppendJsonString(out_, e.name, std::strlen(e.name));
    else
      out_ += "\"\"";
    out_ += ",\"index\":";
    out_ += std::to_string(index);
    out_ += ',';
    if (kept) {
      out_.append(record.before.data(), record.before.size());
    } else {
      TimeValue added = e.addDate ? e.addDate : e.lastVisit;
      if (added > 0) {
        TimeValue changed = e.lastModified > added ? e.lastModified : added;
        out_ += "\"dateAdded\":" + std::to_string(added * 1000000) +
                ",\"lastModified\":" + std::to_string(changed * 1000000) + ",";
      }
      if (e.isSeparator())
        out_ += "\"typeCode\":3,\"type\":\"text/x-moz-place-separator\"";
      else if (e.isFolder())
        out_ += "\"typeCode\":2,\"type\":\"text/x-moz-place-container\"";
      else
        out_ += "\"typeCode\":1,\"type\":\"text/x-moz-place\"";
    }
    if (e.isLink()) {
      out_ += ",\"uri\":";
      AppendJsonString(out_, e.url.data, static_cast<size_t>(e.url.length));
    }
    if (kept && !record.after.empty()) {
      out_ += ',';
      out_.append(record.after.data(), record.after.size());
    }
    if (e.isFolder())
      stack_.push_back(Frame{e.children.head(), 0, true, &e == unfiled_});
    else
      out_ += '}';
  }

  void drain() {
    while (!stack_.empty()) {
      Frame& f = stack_.back();
      const LinkEntry* next = nullptr;
      if (f.next && f.next->next) {
        next = LinkEntry::of(f.next);
        f.next = f.next->next;
      } else if (f.takeStrays && strayNext_ < strays_.size()) {
        next = strays_[strayNext_++];
      }
      if (!next) {
        if (!f.first) out_ += ']';
        out_ += '}';
        stack_.pop_back();
        continue;
      }
      if (!Written(*next)) continue;
      int64_t index = f.index++;
      openChild(f);
      writeOpen(*next, index);  // may push: f is not used after this
    }
  }

  std::string& out_;
  std::vector<Frame> stack_;
  std::vector<const LinkEntry*> strays_;
  size_t strayNext_ = 0;
  const LinkEntry* unfiled_ = nullptr;
  // The guids written so far, as views into the entries' own records, which outlive the
  // formatting: a copy of each would cost an allocation per entry.
  std::unordered_set<std::string_view> used_;
  int64_t count_ = 0;
};

}  // namespace

void AppendJsonString(std::string& out, const char* text, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  out += '"';
  size_t i = 0;
  while (i < length) {
    unsigned char c = p[i];
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\f':
          out += "\\f";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    uint32_t code;
    size_t n = DecodeUtf8(p + i, length - i, &code);
    if (n) {
      out.append(text + i, n);
      i += n;
    } else {
      AppendWindows1252Byte(out, c);
      ++i;
    }
  }
  out += '"';
}

void FormatFirefoxBackup(const NodeList& tree, const std::string& rootMembers, std::string& json,
                         int64_t& itemCount) {
  json.clear();
  itemCount = 0;
  BackupFormatter(json).format(tree, rootMembers, itemCount);
}

bool CompressMozLz4(const std::string& text, std::string& out) {
  out.clear();
  if (text.size() > kMaxBackupText) return false;
  int size = static_cast<int>(text.size());
  int bound = LZ4_compressBound(size);
  if (bound <= 0) return false;
  out.resize(sizeof kMagic + 4 + static_cast<size_t>(bound));
  std::memcpy(&out[0], kMagic, sizeof kMagic);
  uint32_t n = static_cast<uint32_t>(size);
  for (int i = 0; i < 4; ++i) out[sizeof kMagic + i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  int written = LZ4_compress_default(text.data(), &out[sizeof kMagic + 4], size, bound);
  if (written <= 0 && size > 0) {
    out.clear();
    return false;
  }
  out.resize(sizeof kMagic + 4 + static_cast<size_t>(written));
  return true;
}

bool DecompressMozLz4(const std::string& data, std::string& text) {
  text.clear();
  if (data.size() < sizeof kMagic + 4 || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0)
    return false;
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i)
    n |= static_cast<uint32_t>(static_cast<unsigned char>(data[sizeof kMagic + i])) << (8 * i);
  if (n > kMaxBackupText) return false;
  text.resize(n);
  size_t packed = data.size() - sizeof kMagic - 4;
  if (packed > kMaxBackupText) return false;
  int got = LZ4_decompress_safe(data.data() + sizeof kMagic + 4, text.data(),
                                static_cast<int>(packed), static_cast<int>(n));
  if (got < 0 || static_cast<uint32_t>(got) != n) {
    text.clear();
    return false;
  }
  return true;
}

std::string BackupContentHash(const std::string& json) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(json.data(), json.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    return std::string();
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  for (unsigned int i = 0; i < length; i += 3) {
    uint32_t v = static_cast<uint32_t>(digest[i]) << 16;
    if (i + 1 < length) v |= static_cast<uint32_t>(digest[i + 1]) << 8;
    if (i + 2 < length) v |= digest[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < length ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < length ? kAlphabet[v & 63] : '=';
  }
  return out;
}

std::string BackupFileName(std::time_t now, int64_t itemCount, const std::string& hash) {
  struct tm local {};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return std::string("bookmarks-") + date + "_" + std::to_string(itemCount) + "_" + hash +
         ".jsonlz4";
}

namespace {

// The backup folder, made when missing. Empty, with message set, when it cannot be used: a
// symbolic link (which could lead anywhere) or anything else that is not a plain folder.
std::string BackupFolder(const std::string& profileDir, std::string& message) {
  fs::path folder = fs::path(profileDir) / "bookmarkbackups";
  std::error_code error;
  fs::file_status status = fs::symlink_status(folder, error);
  if (fs::is_symlink(status)) {
    message = folder.string() + " is a symbolic link; nothing is written through it";
    return std::string();
  }
  if (!fs::exists(status)) {
    if (CreateDirectoryAt(folder.string().c_str()) == CreateDirectoryResult::Failed) {
      message = "cannot make the folder " + folder.string();
      return std::string();
    }
  } else if (!fs::is_directory(status)) {
    message = folder.string() + " is not a folder";
    return std::string();
  }
  return folder.string();
}

}  // namespace

BackupResult WriteFirefoxBackup(const NodeList& tree, std::time_t now) {
  BackupResult result;
  const FirefoxStoreState& state = FirefoxState();
  if (!state.active) {
    result.message = "no Firefox bookmarks were read in this run";
    return result;
  }
  std::string json;
  FormatFirefoxBackup(tree, state.rootMembers, json, result.items);
  std::string hash = BackupContentHash(json);
  if (hash.empty()) {
    result.message = "cannot compute the backup's hash";
    return result;
  }
  if (hash == state.readDigest) {
    result.outcome = BackupOutcome::Unchanged;
    return result;
  }
  std::string folder = BackupFolder(state.profileDir, result.message);
  if (folder.empty()) return result;
  std::string name = BackupFileName(now, result.items, hash);
  result.date = name.substr(10, 10);
  result.path = (fs::path(folder) / name).string();
  if (FileExists(result.path.c_str())) {
    // The date and the content hash are in the name: an earlier run wrote this very backup.
    result.outcome = BackupOutcome::AlreadyThere;
    return result;
  }
  std::string packed;
  if (!CompressMozLz4(json, packed)) {
    result.message = "the bookmarks are too large for a Firefox backup";
    return result;
  }
  // Each backup has a name of its own: the temporary files of earlier ones that a killed run
  // left in the folder are ours to remove (Firefox's own names end in ".jsonlz4").
  RemoveLeftoverTemps(folder, std::string(), ".jsonlz4");
  AtomicFileWriter file;
  bool ok = file.begin(result.path.c_str());
  if (ok) {
    file.write(packed.data(), packed.size());
    ok = file.commit();
  }
  if (!ok) {
    result.message = "cannot write " + result.path + " (" + FileErrorText(file.error()) + ")";
    return result;
  }
  result.outcome = BackupOutcome::Written;
  return result;
}

std::string FirefoxBackupAdvice(const BackupResult& result) {
  switch (result.outcome) {
    case BackupOutcome::Unchanged:
      return "Firefox's bookmarks were checked and need no change: no backup was written.\r\n";
    case BackupOutcome::Written:
    case BackupOutcome::AlreadyThere:
      return "Firefox's bookmarks were checked. To apply the changes, open Firefox > Bookmarks > "
             "Manage Bookmarks > Import and Backup > Restore, and choose " +
             result.date + " (" + std::to_string(result.items) + " items).\r\nThe backup is " +
             result.path +
             " (if Firefox does not list it yet, use \"Choose File...\" in the same menu).\r\n";
    case BackupOutcome::Failed:
      break;
  }
  return "Couldn't write Firefox's bookmark backup: " + result.message + ".\r\n";
}
