#include "stores/favorites_writer.h"

#include <cstring>
#include <map>

#include "tree/settings.h"
#include "platform/directories.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

constexpr const char* kSection = "InternetShortcut";
constexpr const char* kKey = "URL";

// A name that, used as one path component, stays inside the directory it is added to.
bool IsSafeComponent(const char* name) {
  if (!name || !*name) return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (const char* p = name; *p; ++p)
    if (*p == '/' || *p == '\\') return false;
  // A drive letter with colon names another drive's current directory on Windows.
  if (((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z') && name[1] == ':') return false;
  return true;
}

bool IsSafeFileName(const TextString& name) {
  if (name.isEmpty() || !IsSafeComponent(name.c_str())) return false;
#ifdef _WIN32
  if (name.findChar(':') != TEXT_NONE) return false;
#endif
  return true;
}

// A path one component longer than dir; empty when it cannot be made.
bool JoinPath(TextString& dir, const char* name, std::string& out) {
  int32_t before = dir.length;
  bool ok = dir.appendComponent(name) != nullptr;
  if (ok) out.assign(dir.c_str(), static_cast<size_t>(dir.length));
  if (dir.length > before) dir.assign(dir.data, before);
  return ok;
}

bool Replace(const std::string& path, const std::string& content) {
  size_t slash = path.rfind('/');
  size_t nameLength = slash == std::string::npos ? path.size() : path.size() - slash - 1;
  if (nameLength > SHORTCUT_NAME_MAX - 16) return ReplaceFileWithShortTemp(path.c_str(), content);
  AtomicFileWriter writer;
  if (!writer.begin(path.c_str())) return false;
  writer.write(content.data(), content.size());
  return writer.commit();
}

bool ReadShortcutText(const std::string& path, std::string& text) {
  return ReadWholeFile(path.c_str(), text) && text.size() <= PROFILE_MAX_FILE_SIZE;
}

// The content of shortcut files that this save removes while a copy of their link is written
// elsewhere (a link shifted into "Broken Links"), read before anything is removed, so that
// the copy keeps the lines of its file. Keyed by file name and address.
using LeavingFiles = std::map<std::string, std::string>;

std::string LeavingKey(const LinkEntry& entry) {
  return std::string(entry.shortcutFile.c_str()) + '\n' + entry.url.c_str();
}

// Writes the link's address into the shortcut file at path, basing the content on what is
// already there or, for a new file, on base (the old file of a renamed or moved link). Sets
// the file's times from lastVisit. False when nothing could be written.
bool WriteShortcut(const std::string& path, const std::string* base, const TextString& url,
                   TimeValue lastVisit) {
  std::string existing;
  bool exists = FileExists(path.c_str());
  if (exists) {
    // A file we cannot read in full is not replaced: that would lose what it holds.
    if (!ReadShortcutText(path, existing)) return false;
  } else if (base) {
    existing = *base;
  }
  std::string content =
      SetProfileString(existing, kSection, kKey, std::string(url.c_str(), url.length));
  bool rewritten = false;
  if (!exists || content != existing) {
    if (!Replace(path, content)) return false;
    rewritten = true;
  }
  // A time of 0 means none, and a negative one is no time a file had: the file keeps the
  // time of its writing then.
  if (lastVisit <= 0) return true;
  int64_t current = 0;
  if (!rewritten && GetCreationTime(path.c_str(), current) && current == lastVisit) return true;
  SetFileTimes(path.c_str(), lastVisit);
  // The creation time reads as the earlier of birth and modification time, and a birth time
  // cannot be set: a file born before lastVisit is made anew, so its time reads back.
  if (!rewritten && GetCreationTime(path.c_str(), current) && current != lastVisit &&
      Replace(path, content))
    SetFileTimes(path.c_str(), lastVisit);
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  uint64_t da = 0, ia = 0, db = 0, ib = 0;
  return GetFileIdentity(a.c_str(), da, ia) && GetFileIdentity(b.c_str(), db, ib) && da == db &&
         ia == ib;
}

void WriteLink(LinkEntry& entry, TextString& dir, const LeavingFiles& leaving) {
  bool ownFile = IsSafeFileName(entry.shortcutFile);
  bool renamed = ownFile && std::strcmp(entry.name, entry.shortcutTitle.c_str()) != 0;
  std::string ownPath;
  if (ownFile && !JoinPath(dir, entry.shortcutFile.c_str(), ownPath)) ownFile = false;

  if (entry.action == ACTION_DELETE) {
    // Only the file the link came from is removed: a link without one (brought over from
    // the bookmark file) must not take another link's file of the same name with it.
    if (ownFile) DeleteFileAt(ownPath.c_str());
    return;
  }

  std::string target;
  if (ownFile && !renamed) {
    target = ownPath;
  } else if (!JoinPath(dir, ShortcutFileName(entry.name).c_str(), target)) {
    return;
  }
  std::string oldText;
  const std::string* base = nullptr;
  if (renamed && ReadShortcutText(ownPath, oldText)) {
    base = &oldText;
  } else if (ownFile && !renamed) {
    auto it = leaving.find(LeavingKey(entry));
    if (it != leaving.end()) base = &it->second;
  }
  bool written = WriteShortcut(target, base, entry.url, entry.lastVisit);
  if (written && renamed && target != ownPath && !SameFile(target, ownPath))
    DeleteFileAt(ownPath.c_str());
}

}  // namespace

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

namespace {

// The directory a folder entry is written to; null when its name would leave the directory.
const char* DirectoryNameOf(const LinkEntry& entry) {
  // A folder read from the Favorites goes back to the directory it came from.
  const char* name = entry.shortcutFile.isEmpty() ? entry.name : entry.shortcutFile.c_str();
  return IsSafeComponent(name) ? name : nullptr;
}

// No directory can lie deeper than this: a path holds at most 4096 bytes, two per level at
// the least. Deeper folders of a hostile tree are passed over instead of recursing on.
constexpr int kMaxDirectoryDepth = 2048;

bool Enter(TextString& path, const char* name) {
  int32_t before = path.length;
  if (path.appendComponent(name)) return true;
  if (path.length > before) path.assign(path.data, before);
  return false;
}

void CollectLeaving(NodeList& list, TextString& path, LeavingFiles& leaving, int depth) {
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry& entry = *LinkEntry::of(n);
    if (!(entry.source & SOURCE_FAVORITES) || !entry.name) continue;
    if (entry.isLink()) {
      std::string file, text;
      if (entry.action == ACTION_DELETE && IsSafeFileName(entry.shortcutFile) &&
          JoinPath(path, entry.shortcutFile.c_str(), file) && ReadShortcutText(file, text))
        leaving.emplace(LeavingKey(entry), std::move(text));
      continue;
    }
    const char* dirName = DirectoryNameOf(entry);
    if (!dirName || entry.children.isEmpty() || depth >= kMaxDirectoryDepth) continue;
    int32_t before = path.length;
    if (!Enter(path, dirName)) continue;
    CollectLeaving(entry.children, path, leaving, depth + 1);
    path.assign(path.data, before);
  }
}

void WriteList(NodeList& list, TextString& path, const LeavingFiles& leaving, int depth) {
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry& entry = *LinkEntry::of(n);
    if (!(entry.source & SOURCE_FAVORITES) || !entry.name) continue;
    if (entry.isLink()) {
      WriteLink(entry, path, leaving);
      continue;
    }
    const char* dirName = DirectoryNameOf(entry);
    std::string dirPath;
    if (!dirName || depth >= kMaxDirectoryDepth || !JoinPath(path, dirName, dirPath)) continue;
    if (CreateDirectoryAt(dirPath.c_str()) == CreateDirectoryResult::Failed) continue;
    if (entry.children.isEmpty()) continue;
    int32_t before = path.length;
    if (!Enter(path, dirName)) continue;
    WriteList(entry.children, path, leaving, depth + 1);
    path.assign(path.data, before);
  }
}

}  // namespace

void WriteFavoritesList(NodeList& list, TextString& path) {
  LeavingFiles leaving;
  CollectLeaving(list, path, leaving, 0);
  WriteList(list, path, leaving, 0);
}

bool WriteFavorites(NodeList& tree) {
  if (!settings || settings->favoritesFolder.isEmpty() ||
      !IsDirectory(settings->favoritesFolder.c_str()))
    return false;
  TextString path;
  TextString::constructAsPath(path);
  if (!path.assign(settings->favoritesFolder)) return false;
  WriteFavoritesList(tree, path);
  return true;
}
