#include "results/apply_actions.h"

#include <cstring>
#include <ctime>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "stores/bookmark_store.h"
#include "stores/favorites_writer.h"
#include "tree/settings.h"
#include "ui/progress.h"
#include "ui/window.h"

namespace {

constexpr const char* kBrokenLinks = "Broken Links";

// A copy whose name or address could not be allocated would be saved as something else
// (an empty folder, a separator), so it does not count as a copy.
bool IsWholeCopy(const LinkEntry& copy, const LinkEntry& original) {
  return (copy.name != nullptr) == (original.name != nullptr) &&
         copy.url.length == original.url.length;
}

// Replaces the address only once the new text is in hand, so that a failed allocation
// leaves the old address rather than none.
void UpdateAddress(LinkEntry& entry) {
  if (entry.newUrl.isEmpty()) return;  // a move without a usable Location: keep the link
  TextString replacement;
  if (!replacement.assign(entry.newUrl.data, entry.newUrl.length)) return;
  std::swap(entry.url.data, replacement.data);
  std::swap(entry.url.length, replacement.length);
  std::swap(entry.url.capacity, replacement.capacity);
  std::swap(entry.url.owned, replacement.owned);
}

int32_t Membership(const NodeList& shifted) {
  int32_t bits = 0;
  for (Node* n = shifted.head(); n->next; n = n->next) {
    bits |= n->source & (SOURCE_BOOKMARKS | SOURCE_FAVORITES);
    if (bits == (SOURCE_BOOKMARKS | SOURCE_FAVORITES)) break;
  }
  return bits;
}

LinkEntry* MakeBrokenLinksFolder(NodeList& tree, int32_t membership) {
  LinkEntry* folder = new (std::nothrow) LinkEntry(kBrokenLinks, nullptr, 0);
  if (!folder) return nullptr;
  if (!folder->name) {
    delete folder;
    return nullptr;
  }
  folder->lastVisit = static_cast<TimeValue>(std::time(nullptr));
  folder->source = membership;
  if (settings && (settings->flags & FLAG_SORT_BOOKMARKS))
    tree.insertSorted(folder);
  else
    tree.addTail(folder);
  return folder;
}

// The shortcut file an entry is written to, folded as names are compared.
std::string FileKey(const LinkEntry& entry) {
  std::string file = !entry.shortcutFile.isEmpty() && entry.name &&
                             std::strcmp(entry.name, entry.shortcutTitle.c_str()) == 0
                         ? std::string(entry.shortcutFile.c_str())
                         : ShortcutFileName(entry.name);
  for (char& c : file)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return file;
}

// Names the copy "name (2)", "name (3)", ... when its file would be one taken already.
void GiveFreeName(LinkEntry& copy, std::set<std::string>& files) {
  std::string base = copy.name;
  for (int n = 2; !files.insert(FileKey(copy)).second && n < 100000; ++n) {
    copy.setName((base + " (" + std::to_string(n) + ")").c_str());
    if (!copy.name) {  // no memory for the new name: keep the old one
      copy.setName(base.c_str());
      return;
    }
  }
}

void StepProgress(Window* window) {
  if (window) window->post([](Controls& controls) { controls.stepProgress(IDC_PROGRESS); });
}

}  // namespace

LinkEntry* FindBrokenLinksFolder(const NodeList& tree, std::vector<LinkEntry*>* ancestors) {
  std::vector<LinkEntry*> folders;  // the folders being searched, outermost first
  Node* n = tree.head();
  for (;;) {
    if (!n->next) {
      if (folders.empty()) return nullptr;
      n = folders.back()->next;
      folders.pop_back();
      continue;
    }
    LinkEntry* entry = LinkEntry::of(n);
    if (entry->name) {
      if (entry->url.length == 0 && CompareNames(entry->name, kBrokenLinks) == 0) {
        if (ancestors) *ancestors = std::move(folders);
        return entry;
      }
      if (!entry->children.isEmpty()) {
        folders.push_back(entry);
        n = entry->children.head();
        continue;
      }
    }
    n = n->next;
  }
}

void ApplyActions(Window* mainWindow, NodeList& tree, SaveReport* report) {
  AppendLog(mainWindow, IDC_LOG, "Cleaning up URL list...\r\n");
  if (mainWindow)
    mainWindow->post([](Controls& controls) { controls.setProgressPos(IDC_PROGRESS, 0); });

  // Copies of the links to shift, in walk order, and the links they were made from. The
  // links themselves are marked for deletion only once the folder for their copies exists,
  // so that no shifted link can be lost.
  NodeList shifted;
  std::vector<LinkEntry*> originals;
  ForEachLeaf(tree, [&](LinkEntry& entry) {
    if (entry.isLink()) {
      StepProgress(mainWindow);
      if (IsProblemResult(entry.checkResult.load(std::memory_order_acquire))) {
        if (entry.action == ACTION_SHIFT) {
          LinkEntry* copy = new (std::nothrow) LinkEntry(entry);
          if (copy && IsWholeCopy(*copy, entry)) {
            copy->action = ACTION_LEAVE;
            shifted.addTail(copy);
            originals.push_back(&entry);
          } else {
            delete copy;  // the link keeps ACTION_SHIFT, which the writers save unchanged
          }
        } else if (entry.action == ACTION_UPDATE) {
          UpdateAddress(entry);
        }
      }
    }
  });

  if (!shifted.isEmpty()) {
    int32_t membership = Membership(shifted);
    std::vector<LinkEntry*> ancestors;
    LinkEntry* folder = FindBrokenLinksFolder(tree, &ancestors);
    if (folder) {
      // The folders around it join the stores of the shifted links too: a writer passes over
      // a folder of the other store with everything inside it, and the links would be lost.
      folder->source |= membership;
      for (LinkEntry* outer : ancestors) outer->source |= membership;
    } else {
      folder = MakeBrokenLinksFolder(tree, membership);
    }
    if (folder) {
      // The shortcut file names the folder's Favorites entries take, so that no copy takes
      // another link's file (links of one name from several folders all move in here).
      std::set<std::string> files;
      for (Node* n = folder->children.head(); n->next; n = n->next)
        if (n->source & SOURCE_FAVORITES) files.insert(FileKey(*LinkEntry::of(n)));
      while (!shifted.isEmpty()) {
        LinkEntry* copy = LinkEntry::of(shifted.head());
        copy->unlink();
        if ((copy->source & SOURCE_FAVORITES) && copy->name) GiveFreeName(*copy, files);
        folder->children.addTail(copy);
      }
      for (LinkEntry* original : originals) original->action = ACTION_DELETE;
    }
  }

  uint32_t flags = settings ? settings->flags : 0;
  SaveReport own;
  SaveReport& saves = report ? *report : own;
  if (flags & (FLAG_CLEAN_BOOKMARKS | FLAG_SYNCHRONISE)) {
    AppendLog(mainWindow, IDC_LOG, "Saving Bookmark file...\r\n");
    // A refused save has logged its reason already.
    size_t before = saves.failures.size();
    if (WriteBookmarkStore(mainWindow, tree, &saves) == StoreSave::Failed) {
      AppendLog(mainWindow, IDC_LOG, "Save failed!\r\n");
      for (size_t i = before; i < saves.failures.size(); ++i) {
        const SaveReport::Failure& failure = saves.failures[i];
        std::string line =
            "The bookmark file was not saved: " + failure.path + " (" + failure.reason + ")\r\n";
        AppendLog(mainWindow, IDC_LOG, line.c_str());
      }
    }
  }
  if (flags & (FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE)) {
    AppendLog(mainWindow, IDC_LOG, "Saving Favorites...\r\n");
    std::vector<FavoritesFailure> failures;
    const char* folder = settings ? settings->favoritesFolder.c_str() : "";
    if (!WriteFavorites(tree, &failures)) {
      AppendLog(mainWindow, IDC_LOG, "Save failed!\r\n");
      std::string line =
          std::string("The Favorites were not saved: ") + folder + " (no such folder)\r\n";
      AppendLog(mainWindow, IDC_LOG, line.c_str());
      saves.add("Favorites", folder, "no such folder");
    } else if (!failures.empty()) {
      for (const FavoritesFailure& failure : failures) {
        std::string line = "Not saved: " + failure.path + " (" + failure.reason + ")\r\n";
        AppendLog(mainWindow, IDC_LOG, line.c_str());
        saves.add("Favorites", failure.path, failure.reason);
      }
      AppendLog(mainWindow, IDC_LOG, "The Favorites were saved incompletely!\r\n");
    }
  }

  FreeTree(shifted);  // left over only when no folder could be made
}
