#include "stores/favorites_writer.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "platform/directories.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "tree/settings.h"

namespace {

constexpr const char* kSection = "InternetShortcut";
constexpr const char* kKey = "URL";

constexpr const char* kNameNotAllowed = "its name is not allowed here";
constexpr const char* kPathTooLong = "the path is too long";
constexpr const char* kOutside = "it lies outside the Favorites folder (through a symbolic link)";
constexpr const char* kNotRegular = "it is not a regular file";
constexpr const char* kUnreadable = "it could not be read";
constexpr const char* kUnwritable = "it could not be written";
constexpr const char* kNotRemoved = "it could not be removed";
constexpr const char* kNoDirectory = "the directory could not be created";
constexpr const char* kCopyMissing =
    "kept in place: its copy in another folder could not be written";

// No directory can lie deeper than this: a path holds at most 4096 bytes, two per level at
// the least. Deeper folders of a hostile tree are passed over instead of recursing on.
constexpr int kMaxDirectoryDepth = 2048;

#ifdef _WIN32
bool IsReservedWindowsName(const char* name) {
  // CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with any extension.
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  size_t stem = std::strcspn(name, ".");
  auto same = [&](const char* device, size_t n) {
    if (stem != n) return false;
    for (size_t i = 0; i < n; ++i)
      if ((name[i] & ~0x20) != device[i]) return false;
    return true;
  };
  for (const char* device : kDevices)
    if (same(device, 3)) return true;
  if (stem == 4 && name[3] >= '1' && name[3] <= '9' && (same("COM", 3) || same("LPT", 3)))
    return true;
  return false;
}
#endif

bool IsSafeFileName(const TextString& name) {
  return !name.isEmpty() && IsSafePathComponent(name.c_str());
}

// A path one component longer than dir; false when it cannot be made.
bool JoinPath(TextString& dir, const char* name, std::string& out) {
  int32_t before = dir.length;
  bool ok = dir.appendComponent(name) != nullptr;
  if (ok) out.assign(dir.c_str(), static_cast<size_t>(dir.length));
  if (dir.length > before) dir.assign(dir.data, before);
  return ok;
}

bool Enter(TextString& path, const char* name) {
  int32_t before = path.length;
  if (path.appendComponent(name)) return true;
  if (path.length > before) path.assign(path.data, before);
  return false;
}

bool Replace(const std::string& path, const std::string& content) {
  size_t slash = path.rfind('/');
  size_t nameLength = slash == std::string::npos ? path.size() : path.size() - slash - 1;
  if (nameLength > SHORTCUT_NAME_MAX - 16) return ReplaceFileWithShortTemp(path.c_str(), content);
  AtomicFileWriter writer;
  bool ok = writer.begin(path.c_str());
  if (ok) {
    writer.write(content.data(), content.size());
    ok = writer.commit();
  }
  if (!ok) errno = writer.error();
  return ok;
}

bool ReadShortcutText(const std::string& path, std::string& text) {
  return ReadWholeFile(path.c_str(), text) && text.size() <= PROFILE_MAX_FILE_SIZE;
}

bool SameFile(const std::string& a, const std::string& b) {
  uint64_t da = 0, ia = 0, db = 0, ib = 0;
  return GetFileIdentity(a.c_str(), da, ia) && GetFileIdentity(b.c_str(), db, ib) && da == db &&
         ia == ib;
}

// The key under which a link's file is known while it moves: its file name and address.
std::string LinkKey(const LinkEntry& entry) {
  return std::string(entry.shortcutFile.c_str()) + '\n' + entry.url.c_str();
}

// The directory a folder entry is written to; null when its name is not allowed.
const char* DirectoryNameOf(const LinkEntry& entry) {
  // A folder read from the Favorites goes back to the directory it came from.
  const char* name = entry.shortcutFile.isEmpty() ? entry.name : entry.shortcutFile.c_str();
  return IsSafePathComponent(name) ? name : nullptr;
}

// Where a link's own shortcut file lies.
struct OwnFile {
  bool has = false;               // the link was read from (or took over) a file
  const char* refusal = nullptr;  // set when that file cannot be reached safely
  std::string path;
  bool outside = false;  // reached through a symbolic link
};

enum class WriteResult { Unchanged, Written, Failed };

class FavoritesSave {
 public:
  FavoritesSave(const std::string& root, std::vector<FavoritesFailure>* failures)
      : root_(root), failures_(failures) {}

  void run(NodeList& tree, TextString& path) {
    collectLeaving(tree, path, 0);
    collectCopies(tree);
    writeList(tree, path, 0, false);
    finishRemovals();
  }

 private:
  struct Removal {
    std::string path;
    std::string key;  // empty for the old file of a renamed link
    int ownClaims;    // how many of the file's claims are the removing link's own
  };

  void fail(const std::string& path, const std::string& reason) {
    if (failures_) failures_->push_back({path, reason});
  }

  OwnFile ownFileOf(const LinkEntry& entry, TextString& dir, bool outside) {
    OwnFile own;
    if (entry.shortcutFile.isEmpty()) return own;
    own.has = true;
    if (!IsSafeFileName(entry.shortcutFile)) {
      own.refusal = kNameNotAllowed;
      own.path = entry.shortcutFile.c_str();
      return own;
    }
    if (!entry.shortcutElsewhere) {
      own.outside = outside;
      if (!JoinPath(dir, entry.shortcutFile.c_str(), own.path)) own.refusal = kPathTooLong;
      return own;
    }
    // A file taken over from a twin in another directory: walk there from the top, name by
    // name, noticing any directory on the way that is a symbolic link.
    TextString path;
    TextString::constructAsPath(path);
    if (!path.assign(root_.c_str())) {
      own.refusal = kPathTooLong;
      return own;
    }
    std::string directory = entry.shortcutDirectory.c_str();
    for (size_t at = 0; !directory.empty() && at <= directory.size();) {
      size_t slash = directory.find('/', at);
      if (slash == std::string::npos) slash = directory.size();
      std::string name = directory.substr(at, slash - at);
      at = slash + 1;
      if (!IsSafePathComponent(name.c_str())) {
        own.refusal = kNameNotAllowed;
        own.path = entry.shortcutDirectory.c_str();
        return own;
      }
      if (!Enter(path, name.c_str())) {
        own.refusal = kPathTooLong;
        return own;
      }
      ItemInfo info;
      if (GetItemInfo(path.c_str(), info) && info.isSymbolicLink) own.outside = true;
    }
    if (!JoinPath(path, entry.shortcutFile.c_str(), own.path)) own.refusal = kPathTooLong;
    return own;
  }

  // The content of shortcut files that this save removes (read before anything is removed),
  // so that a copy of their link written elsewhere (a link shifted into "Broken Links")
  // keeps the lines of its file.
  void collectLeaving(NodeList& list, TextString& path, int depth) {
    for (Node* n = list.head(); n->next; n = n->next) {
      LinkEntry& entry = *LinkEntry::of(n);
      if (!(entry.source & SOURCE_FAVORITES) || !entry.name) continue;
      if (entry.isLink()) {
        OwnFile own = ownFileOf(entry, path, false);
        if (!own.has || own.refusal) continue;
        std::string text;
        if (entry.action != ACTION_DELETE)
          ++claimed_[own.path];
        else if (ReadShortcutText(own.path, text))
          leaving_.emplace(LinkKey(entry), std::move(text));
        continue;
      }
      const char* dirName = DirectoryNameOf(entry);
      if (!dirName || entry.children.isEmpty() || depth >= kMaxDirectoryDepth) continue;
      int32_t before = path.length;
      if (!Enter(path, dirName)) continue;
      collectLeaving(entry.children, path, depth + 1);
      path.assign(path.data, before);
    }
  }

  // The keys of removed files that another entry of the tree carries on (a shifted link's
  // copy): such a file is removed only once that entry's file has been written.
  void collectCopies(const NodeList& tree) {
    if (leaving_.empty()) return;
    ForEachLeaf(tree, [&](LinkEntry& entry) {
      if ((entry.source & SOURCE_FAVORITES) && entry.name && entry.isLink() &&
          entry.action != ACTION_DELETE && !entry.shortcutFile.isEmpty()) {
        std::string key = LinkKey(entry);
        if (leaving_.count(key)) awaitedCopies_.insert(std::move(key));
      }
    });
  }

  // Writes the link's address into the shortcut file at path, basing the content on what
  // is already there or, for a new file, on base (the old file of a renamed or moved link),
  // and sets the file's times from lastVisit.
  WriteResult writeShortcut(const std::string& path, const std::string* base, const TextString& url,
                            TimeValue lastVisit, bool outside) {
    std::string existing;
    ItemInfo info;
    GetItemInfo(path.c_str(), info);
    if (info.exists) {
      if (!info.isRegularFile) {
        fail(path, kNotRegular);
        return WriteResult::Failed;
      }
      // A file we cannot read in full is not replaced: that would lose what it holds.
      if (!ReadShortcutText(path, existing)) {
        fail(path, kUnreadable);
        return WriteResult::Failed;
      }
    } else if (base) {
      existing = *base;
    }
    std::string content =
        SetProfileString(existing, kSection, kKey, std::string(url.c_str(), url.length));
    bool change = !info.exists || content != existing;
    // A symbolic link, or a file with another name elsewhere, is never written or re-timed
    // in place: that would change what lies outside. A change replaces the link (or the
    // name) with a file of its own.
    bool shared = info.isSymbolicLink || info.hardLinks > 1;
    if (outside) {
      if (!change) return WriteResult::Unchanged;
      fail(path, kOutside);
      return WriteResult::Failed;
    }
    bool rewritten = false;
    if (change) {
      if (!Replace(path, content)) {
        fail(path, std::string(kUnwritable) + ": " + FileErrorText(errno));
        return WriteResult::Failed;
      }
      rewritten = true;
    }
    // A time of 0 means none, and a negative one is no time a file had: the file keeps the
    // time of its writing then.
    if (lastVisit <= 0 || (!rewritten && shared))
      return rewritten ? WriteResult::Written : WriteResult::Unchanged;
    int64_t current = 0;
    if (!rewritten && GetCreationTime(path.c_str(), current) && current == lastVisit)
      return WriteResult::Unchanged;
    SetFileTimes(path.c_str(), lastVisit);
    // The creation time reads as the earlier of birth and modification time, and a birth
    // time cannot be set: a file born before lastVisit is made anew, so its time reads back.
    if (!rewritten && GetCreationTime(path.c_str(), current) && current != lastVisit &&
        Replace(path, content))
      SetFileTimes(path.c_str(), lastVisit);
    return WriteResult::Written;
  }

  void writeLink(LinkEntry& entry, TextString& dir, bool outside) {
    OwnFile own = ownFileOf(entry, dir, outside);
    if (own.refusal) {
      // Written anywhere else, the link would have two files; it stays as it is.
      fail(own.path.empty() ? std::string(entry.name) : own.path, own.refusal);
      return;
    }
    bool renamed = own.has && std::strcmp(entry.name, entry.shortcutTitle.c_str()) != 0;

    if (entry.action == ACTION_DELETE) {
      // Only the file the link came from is removed: a link without one (brought over from
      // the bookmark file) must not take another link's file of the same name with it.
      if (!own.has) return;
      if (own.outside)
        fail(own.path, kOutside);
      else
        removals_.push_back({own.path, LinkKey(entry), 0});
      return;
    }

    std::string target;
    bool targetOutside = outside;
    if (own.has && !renamed) {
      target = own.path;
      targetOutside = own.outside;
    } else if (!JoinPath(dir, ShortcutFileName(entry.name).c_str(), target)) {
      fail(std::string(dir.c_str()) + "/" + entry.name, kPathTooLong);
      return;
    }
    if (renamed && own.outside) {
      fail(own.path, kOutside);
      return;
    }
    // A new file starts from the link's old file: the one a moved link leaves, or the one a
    // renamed link had.
    std::string oldText;
    const std::string* base = nullptr;
    auto it = own.has ? leaving_.find(LinkKey(entry)) : leaving_.end();
    if (it != leaving_.end())
      base = &it->second;
    else if (renamed && ReadShortcutText(own.path, oldText))
      base = &oldText;
    WriteResult result = writeShortcut(target, base, entry.url, entry.lastVisit, targetOutside);
    if (result == WriteResult::Failed) return;
    written_.insert(target);
    if (own.has) landedCopies_.insert(LinkKey(entry));
    if (renamed && target != own.path && !SameFile(target, own.path))
      removals_.push_back({own.path, std::string(), 1});
  }

  void writeList(NodeList& list, TextString& path, int depth, bool outside) {
    // The temporary shortcut files of an earlier save that was killed are removed from the
    // directories this one writes into (never from one outside the folder).
    if (!outside) RemoveLeftoverTemps(path.c_str(), std::string(), ".url");
    for (Node* n = list.head(); n->next; n = n->next) {
      LinkEntry& entry = *LinkEntry::of(n);
      if (!(entry.source & SOURCE_FAVORITES) || !entry.name) continue;
      if (entry.isLink()) {
        writeLink(entry, path, outside);
        continue;
      }
      const char* dirName = DirectoryNameOf(entry);
      std::string dirPath;
      if (!dirName) {
        fail(std::string(path.c_str()) + "/" + entry.name, kNameNotAllowed);
        continue;
      }
      if (depth >= kMaxDirectoryDepth || !JoinPath(path, dirName, dirPath)) {
        fail(std::string(path.c_str()) + "/" + dirName, kPathTooLong);
        continue;
      }
      bool inner = outside;
      if (outside) {
        if (!IsDirectory(dirPath.c_str())) {
          fail(dirPath, kOutside);
          continue;
        }
      } else if (CreateDirectoryAt(dirPath.c_str()) == CreateDirectoryResult::Failed) {
        fail(dirPath, kNoDirectory);
        continue;
      } else {
        ItemInfo info;
        inner = GetItemInfo(dirPath.c_str(), info) && info.isSymbolicLink;
      }
      if (entry.children.isEmpty()) continue;
      int32_t before = path.length;
      if (!Enter(path, dirName)) continue;
      writeList(entry.children, path, depth + 1, inner);
      path.assign(path.data, before);
    }
  }

  // Removes the files of deleted, moved and renamed links, now that every file the save
  // writes is in place.
  void finishRemovals() {
    for (const Removal& removal : removals_) {
      // A later entry of the same directory took the file over, or another link stays in
      // it: it is that entry's now.
      if (written_.count(removal.path)) continue;
      auto claim = claimed_.find(removal.path);
      if (claim != claimed_.end() && claim->second > removal.ownClaims) continue;
      if (!removal.key.empty() && awaitedCopies_.count(removal.key) &&
          !landedCopies_.count(removal.key)) {
        fail(removal.path, kCopyMissing);
        continue;
      }
      if (!DeleteFileAt(removal.path.c_str()) && errno != ENOENT) fail(removal.path, kNotRemoved);
    }
  }

  std::string root_;
  std::vector<FavoritesFailure>* failures_;
  std::map<std::string, std::string> leaving_;
  std::set<std::string> awaitedCopies_;
  std::set<std::string> landedCopies_;
  std::set<std::string> written_;
  std::map<std::string, int> claimed_;  // own files of the links that stay, with their count
  std::vector<Removal> removals_;
};

}  // namespace

bool IsSafePathComponent(const char* name) {
  if (!name || !*name) return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
#ifdef _WIN32
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
    if (*p < 0x20 || std::strchr("<>:\"/\\|?*", *p)) return false;
  char last = name[std::strlen(name) - 1];
  if (last == '.' || last == ' ') return false;
  return !IsReservedWindowsName(name);
#else
  return std::strchr(name, '/') == nullptr;
#endif
}

bool IsFileNameChar(unsigned char ch) {
  if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) return true;
  if (ch > 0x7F) return true;
  static const char kAllowed[] = " !#$%&'()+,-;=@[^_`{}~";
  return ch != 0 && std::strchr(kAllowed, ch) != nullptr;
}

std::string ShortcutFileName(const char* name) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name ? name : ""); *p; ++p)
    if (IsFileNameChar(*p)) out += static_cast<char>(*p);
  const size_t room = SHORTCUT_NAME_MAX - 4;
  if (out.size() > room) {
    size_t cut = room;
    // Back off to the start of a UTF-8 sequence so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return out + ".url";
}

bool WriteFavorites(NodeList& tree, std::vector<FavoritesFailure>* failures) {
  if (!settings || settings->favoritesFolder.isEmpty() ||
      !IsDirectory(settings->favoritesFolder.c_str()))
    return false;
  TextString path;
  TextString::constructAsPath(path);
  if (!path.assign(settings->favoritesFolder)) return false;
  FavoritesSave save(path.c_str(), failures);
  save.run(tree, path);
  return true;
}
