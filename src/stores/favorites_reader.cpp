#include "stores/favorites_reader.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/directories.h"
#include "platform/profile.h"
#include "tree/settings.h"

namespace {

constexpr const char* kBrokenLinks = "Broken Links";
// Deeper trees than this are not walked: a path this deep exceeds every file system's
// limit long before, so only a loop of links could get here.
constexpr int kMaxDepth = 512;

struct Identity {
  uint64_t device;
  uint64_t inode;
};

void Insert(NodeList& list, LinkEntry* entry) {
  if (settings && (settings->flags & FLAG_SORT_BOOKMARKS))
    list.insertSorted(entry);
  else
    list.addTail(entry);
}

// The folder a directory merges into: one of the same name, letter case ignored, that no
// other directory has given contents yet (two directories whose names differ only in case
// each keep a folder of their own), the one spelt exactly as the directory first.
LinkEntry* FindFolder(NodeList& list, const char* name) {
  LinkEntry* found = nullptr;
  for (Node* hit = list.findByName(nullptr, name); hit; hit = list.findByName(hit, name)) {
    LinkEntry* folder = LinkEntry::of(hit);
    if (folder->url.length != 0 || !folder->shortcutFile.isEmpty()) continue;
    if (std::strcmp(folder->name, name) == 0) return folder;
    if (!found) found = folder;
  }
  return found;
}

bool IsShortcutName(const std::string& name) {
  if (name.size() < 4) return false;
  const char* ext = name.c_str() + name.size() - 4;
  return ext[0] == '.' && (ext[1] | 0x20) == 'u' && (ext[2] | 0x20) == 'r' &&
         (ext[3] | 0x20) == 'l';
}

// Where the walk stopped on a failed read.
struct ReadFailure {
  std::string file;
  int error = 0;
};

void ReadLevel(TextString& path, NodeList& list, int32_t& linkCount, bool& insideBrokenLinks,
               std::vector<Identity>& chain, ReadFailure& failure) {
  if (static_cast<int>(chain.size()) >= kMaxDepth) return;
  DirectoryListing listing;
  if (!listing.open(path.c_str())) return;
  DirectoryItem item;
  while (failure.error == 0 && listing.next(item)) {
    int32_t before = path.length;
    if (!path.appendComponent(item.name.c_str())) {
      // The path could not grow: put it back as it was and pass the item over.
      if (path.length > before) path.assign(path.data, before);
      continue;
    }
    if (item.isDirectory) {
      bool loop = false;
      for (const Identity& id : chain)
        if (id.device == item.device && id.inode == item.inode) loop = true;
      LinkEntry* folder = loop ? nullptr : FindFolder(list, item.name.c_str());
      if (folder) {
        folder->source |= SOURCE_FAVORITES;
      } else if (!loop) {
        folder = new (std::nothrow) LinkEntry(item.name.c_str(), nullptr, 0);
        if (folder && !folder->name) {  // the name could not be copied
          delete folder;
          folder = nullptr;
        }
        if (folder) {
          folder->source = SOURCE_FAVORITES;
          Insert(list, folder);
        }
      }
      if (folder) {
        // The directory's own name, for a save: a merged folder carries the bookmark
        // folder's spelling, which on a case-sensitive file system names another directory.
        if (folder->shortcutFile.isEmpty()) folder->shortcutFile.assign(item.name.c_str());
        bool setHere = false;
        // One flag, not a depth: leaving a "Broken Links" folder inside another one counts
        // the rest of the outer folder, as the bookmark file's reader does.
        if (item.name == kBrokenLinks) {
          insideBrokenLinks = true;
          setHere = true;
        }
        chain.push_back({item.device, item.inode});
        ReadLevel(path, folder->children, linkCount, insideBrokenLinks, chain, failure);
        chain.pop_back();
        if (setHere) insideBrokenLinks = false;
      }
    } else if (item.isRegularFile && IsShortcutName(item.name)) {
      int readError = 0;
      LinkEntry* entry = NewShortcutEntry(path.c_str(), item.creationTime, &readError);
      if (readError) {
        delete entry;
        entry = nullptr;
        failure.file = path.c_str();
        failure.error = readError;
      }
      if (entry) {
        Insert(list, entry);
        if (!insideBrokenLinks) ++linkCount;
      }
    }
    path.removeLastComponent();
  }
  // A listing cut short by a read error has passed over the rest of the directory.
  if (failure.error == 0 && listing.error() != 0) {
    failure.file = path.c_str();
    failure.error = listing.error();
  }
}

}  // namespace

LinkEntry* NewShortcutEntry(const char* path, TimeValue creationTime, int* readError) {
  LinkEntry* entry = new (std::nothrow) LinkEntry();
  if (!entry) return nullptr;
  entry->source = SOURCE_FAVORITES;
  entry->addDate = 0;
  entry->lastModified = 0;
  entry->lastVisit = creationTime;
  std::string address;
  if (!path || !ReadProfileString(path, "InternetShortcut", "URL", address, readError))
    return entry;
  address.resize(std::strlen(address.c_str()));  // a value ends at its first NUL byte
  if (address.empty()) return entry;
  TextString file;
  file.assign(path);
  int32_t namePart = file.fileNamePart();
  if (namePart == TEXT_NONE) return entry;
  std::string fileName(file.c_str() + namePart);
  std::string title = fileName;
  size_t dot = title.rfind('.');
  if (dot != std::string::npos) title.resize(dot);
  entry->url.assign(address.c_str(), static_cast<int32_t>(address.size()));
  entry->setName(title.c_str());
  entry->shortcutFile.assign(fileName.c_str());
  entry->shortcutTitle.assign(title.c_str());
  if (entry->url.length != static_cast<int32_t>(address.size()) || !entry->name) {
    // Out of memory part-way: a half-read link must not be written back as another one.
    delete entry;
    return nullptr;
  }
  return entry;
}

bool ReadFavoritesFolder(TextString& path, NodeList& list, int32_t& linkCount,
                         bool& insideBrokenLinks, std::string* failedFile, int* error) {
  // An empty location would name the root of the file system once a component is added.
  if (path.isEmpty()) return true;
  std::vector<Identity> chain;
  Identity self{};
  if (GetFileIdentity(path.c_str(), self.device, self.inode)) chain.push_back(self);
  ReadFailure failure;
  int32_t before = path.length;
  ReadLevel(path, list, linkCount, insideBrokenLinks, chain, failure);
  if (path.length > before) path.assign(path.data, before);
  if (failure.error == 0) return true;
  if (failedFile) *failedFile = failure.file;
  if (error) *error = failure.error;
  return false;
}
