#include "results/report_results.h"

#include <cstdio>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "results/results_dialog.h"
#include "stores/bookmark_writer.h"
#include "stores/favorites_writer.h"
#include "tree/settings.h"
#include "ui/progress.h"
#include "ui/window.h"

namespace {

constexpr int32_t SOURCE_BOTH = SOURCE_FAVORITES | SOURCE_BOOKMARKS;

ResultsPresenter& Presenter() {
  static ResultsPresenter presenter;
  return presenter;
}

int ShowResultsDialog(Window* mainWindow, NodeList& tree) {
  if (!mainWindow) return 0;
  ResultsDialogProc proc(tree);
  // Only an explicit OK saves: a dialog that could not be shown (-1) must not count as one.
  return mainWindow->showModal(IDD_RESULTS, proc) == 1 ? 1 : 0;
}

int32_t OtherKind(int32_t kind) {
  return kind == SOURCE_BOOKMARKS ? SOURCE_FAVORITES : SOURCE_BOOKMARKS;
}

bool MayHaveCounterpart(const LinkEntry& entry) {
  return entry.name != nullptr && entry.url.length > 0 && entry.children.isEmpty();
}

std::string FoldedName(const char* name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return key;
}

// The names under which an entry meets its twin, folded as names are compared: the shortcut
// file name its name gives, and the name of the shortcut file it was read from. Two entries
// whose names give the same file (or one's name gives the other's file) would otherwise
// share one file in the Favorites and part again at every run. Names that are equal (letter
// case ignored) give equal keys.
int TwinKeys(const LinkEntry& entry, std::string keys[2]) {
  int count = 0;
  keys[count++] = FoldedName(ShortcutFileName(entry.name).c_str());
  if (!entry.shortcutFile.isEmpty()) {
    std::string own = FoldedName(entry.shortcutFile.c_str());
    if (own != keys[0]) keys[count++] = std::move(own);
  }
  return count;
}

bool AreTwins(const LinkEntry& a, const LinkEntry& b) {
  if (a.url.compareNoCase(b.url) != 0) return false;
  std::string keysA[2], keysB[2];
  int countA = TwinKeys(a, keysA), countB = TwinKeys(b, keysB);
  for (int i = 0; i < countA; ++i)
    for (int j = 0; j < countB; ++j)
      if (keysA[i] == keysB[j]) return true;
  return false;
}

// The name of the directory a folder of the Favorites stands for.
const char* DirectoryName(const LinkEntry& folder) {
  return folder.shortcutFile.isEmpty() ? folder.name : folder.shortcutFile.c_str();
}

// The candidates FindCounterpart would meet, in depth-first order and grouped by twin key,
// so that one pass costs one walk of the tree instead of one walk per leaf, with the list and
// the folders each stands in. During a pass no leaf of the other kind changes its source and
// no leaf gains children, so the candidates only ever shrink, by the removals the pass makes
// itself; folders are never removed.
class CounterpartIndex {
 public:
  struct Candidate {
    LinkEntry* entry;
    const NodeList* list;  // the list holding it
    int32_t folder;        // index into folders_ of the folder holding it, -1 at the top
  };

  CounterpartIndex(const NodeList& root, int32_t otherKind) {
    struct Frame {
      Node* next;
      const NodeList* list;
      int32_t folder;
    };
    std::vector<Frame> resume;
    const NodeList* list = &root;
    int32_t folder = -1;
    Node* n = root.head();
    for (;;) {
      if (!n->next) {
        if (resume.empty()) break;
        n = resume.back().next;
        list = resume.back().list;
        folder = resume.back().folder;
        resume.pop_back();
        continue;
      }
      LinkEntry* entry = LinkEntry::of(n);
      if (!entry->children.isEmpty()) {
        resume.push_back({n->next, list, folder});
        folders_.push_back({folder, entry});
        folder = static_cast<int32_t>(folders_.size() - 1);
        list = &entry->children;
        n = entry->children.head();
        continue;
      }
      if (entry->source == otherKind && MayHaveCounterpart(*entry)) {
        std::string keys[2];
        int count = TwinKeys(*entry, keys);
        for (int i = 0; i < count; ++i) byKey_[keys[i]].push_back(candidates_.size());
        candidates_.push_back({entry, list, folder});
      }
      n = n->next;
    }
  }

  // Finds, takes out of the index and returns the first counterpart of entry, or null.
  const Candidate* take(const LinkEntry& entry) {
    if (byKey_.empty() || !MayHaveCounterpart(entry)) return nullptr;
    std::string keys[2];
    int count = TwinKeys(entry, keys);
    size_t best = candidates_.size();
    for (int i = 0; i < count; ++i) {
      auto found = byKey_.find(keys[i]);
      if (found == byKey_.end()) continue;
      for (size_t id : found->second) {
        if (id >= best) break;
        const Candidate& c = candidates_[id];
        if (c.entry && c.entry->url.compareNoCase(entry.url) == 0) {
          best = id;
          break;
        }
      }
    }
    if (best == candidates_.size()) return nullptr;
    taken_ = candidates_[best];
    candidates_[best].entry = nullptr;
    return &taken_;
  }

  // The directory of a candidate's folder relative to the Favorites folder, names joined by
  // '/'.
  std::string directoryOf(const Candidate& c) const {
    std::vector<const char*> names;
    for (int32_t f = c.folder; f >= 0; f = folders_[f].parent)
      names.push_back(DirectoryName(*folders_[f].entry));
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
      if (!path.empty()) path += '/';
      path += *it;
    }
    return path;
  }

 private:
  struct Folder {
    int32_t parent;
    const LinkEntry* entry;
  };
  std::vector<Folder> folders_;
  std::vector<Candidate> candidates_;
  std::unordered_map<std::string, std::vector<size_t>> byKey_;
  Candidate taken_{};
};

// The survivor of a pair of twins takes over the twin's shortcut file (name, directory and,
// through it, every other line the file holds), so that one link keeps one file.
void TakeOverShortcut(LinkEntry& survivor, const LinkEntry& twin, const NodeList& survivorList,
                      const CounterpartIndex& index, const CounterpartIndex::Candidate& where) {
  if (twin.shortcutFile.isEmpty() || !survivor.shortcutFile.isEmpty()) return;
  bool elsewhere = twin.shortcutElsewhere || where.list != &survivorList;
  std::string directory = twin.shortcutElsewhere ? std::string(twin.shortcutDirectory.c_str())
                          : elsewhere            ? index.directoryOf(where)
                                                 : std::string();
  // The file now stands for the survivor's name: only a later change of that name is a rename.
  bool whole =
      survivor.shortcutFile.assign(twin.shortcutFile) &&
      survivor.shortcutTitle.assign(survivor.name) &&
      survivor.shortcutDirectory.assign(directory.c_str(), static_cast<int32_t>(directory.size()));
  if (!whole) {  // out of memory: the survivor is written as a new file, as before
    survivor.shortcutFile.release();
    survivor.shortcutTitle.release();
    survivor.shortcutDirectory.release();
    return;
  }
  survivor.shortcutElsewhere = elsewhere;
}

}  // namespace

void SetResultsPresenter(ResultsPresenter presenter) { Presenter() = std::move(presenter); }

LinkEntry* FindCounterpart(const NodeList& root, const LinkEntry& entry, int32_t kind) {
  if (!MayHaveCounterpart(entry)) return nullptr;
  int32_t other = OtherKind(kind);
  return ForEachLeaf(root, [&](LinkEntry& candidate) {
    return !(candidate.source == other && MayHaveCounterpart(candidate) &&
             AreTwins(candidate, entry));
  });
}

void Synchronise(NodeList& list, NodeList& root, int32_t kind) {
  CounterpartIndex index(root, OtherKind(kind));
  // The folders being walked. Each holds the entry being visited, so none of them can be a
  // counterpart; the walk resumes at a folder's next sibling only when it leaves that folder,
  // and unlinking a counterpart keeps every next pointer valid.
  std::vector<LinkEntry*> folders;
  Node* n = list.head();
  for (;;) {
    if (!n->next) {
      if (folders.empty()) return;
      LinkEntry* folder = folders.back();
      folders.pop_back();
      folder->source = SOURCE_BOTH;
      n = folder->next;
      continue;
    }
    LinkEntry* entry = LinkEntry::of(n);
    if (!entry->children.isEmpty()) {
      folders.push_back(entry);
      n = entry->children.head();
      continue;
    }
    if (entry->source == kind) {
      if (const CounterpartIndex::Candidate* twin = index.take(*entry)) {
        // A shortcut's address with a double quote comes back from the bookmark file with
        // %22: the shortcut's own spelling is kept, which the bookmark file writes the same.
        if (kind == SOURCE_BOOKMARKS && entry->url.length != twin->entry->url.length &&
            BookmarkFileAddress(twin->entry->url) == entry->url.c_str())
          entry->url.assign(twin->entry->url);
        TakeOverShortcut(*entry, *twin->entry, folders.empty() ? list : folders.back()->children,
                         index, *twin);
        twin->entry->unlink();
        delete twin->entry;
      }
      entry->source = SOURCE_BOTH;
    }
    n = n->next;
  }
}

void CountProblems(const NodeList& list, int32_t& broken, int32_t& moved, int32_t& invalid) {
  ForEachLeaf(list, [&](LinkEntry& entry) {
    switch (entry.checkResult.load(std::memory_order_acquire)) {
      case CHECK_NOT_FOUND:
      case CHECK_GONE:
      case CHECK_FORBIDDEN:
        ++broken;
        break;
      case CHECK_MOVED:
        ++moved;
        break;
      case CHECK_INVALID_HOST:
        ++invalid;
        break;
      default:
        break;
    }
  });
}

int32_t CountCertificateProblems(const NodeList& list) {
  int32_t count = 0;
  ForEachLeaf(list, [&](LinkEntry& entry) {
    if (entry.checkResult.load(std::memory_order_acquire) == CHECK_CERTIFICATE) ++count;
  });
  return count;
}

int32_t CountBlockedLinks(const NodeList& list) {
  int32_t count = 0;
  ForEachLeaf(list, [&](LinkEntry& entry) {
    if (IsBlockedResult(entry.checkResult.load(std::memory_order_acquire))) ++count;
  });
  return count;
}

void SetActions(int32_t group, int32_t action, NodeList& list) {
  uint32_t flags = settings ? settings->flags : 0;
  int32_t brokenDefault = (flags & FLAG_BROKEN_SHIFT)    ? ACTION_SHIFT
                          : (flags & FLAG_BROKEN_DELETE) ? ACTION_DELETE
                                                         : ACTION_LEAVE;
  int32_t movedDefault = (flags & FLAG_MOVED_UPDATE) ? ACTION_UPDATE : ACTION_LEAVE;
  ForEachLeaf(list, [&](LinkEntry& entry) {
    int32_t result = entry.checkResult.load(std::memory_order_acquire);
    if (result == CHECK_CERTIFICATE) {
      // The page may still be there: only the user, link by link, decides otherwise.
      if (group == GROUP_DEFAULTS) entry.action = ACTION_LEAVE;
    } else if (IsNotFoundGroupResult(result)) {
      if (group == GROUP_DEFAULTS)
        entry.action = brokenDefault;
      else if (group == GROUP_NOT_FOUND)
        entry.action = action;
    } else if (result == CHECK_MOVED) {
      if (group == GROUP_DEFAULTS)
        entry.action = movedDefault;
      else if (group == GROUP_MOVED)
        entry.action = action;
    }
  });
}

int ReportResults(Window* mainWindow, NodeList& tree, int32_t linkCount) {
  uint32_t flags = settings ? settings->flags : 0;
  if (flags & FLAG_SYNCHRONISE) {
    AppendLog(mainWindow, IDC_LOG, "Synchronising bookmarks and favorites...\r\n\r\n");
    Synchronise(tree, tree, SOURCE_BOOKMARKS);
    Synchronise(tree, tree, SOURCE_FAVORITES);
  }

  int32_t broken = 0, moved = 0, invalid = 0;
  CountProblems(tree, broken, moved, invalid);
  int32_t certificates = CountCertificateProblems(tree);
  int32_t blocked = CountBlockedLinks(tree);
  bool anyGone = false;
  ForEachLeaf(tree, [&](LinkEntry& entry) {
    if (entry.checkResult.load(std::memory_order_acquire) == CHECK_GONE) anyGone = true;
  });
  int64_t total = static_cast<int64_t>(broken) + moved + invalid;
  if (total == 0 && certificates == 0 && blocked == 0) {
    AppendLog(mainWindow, IDC_LOG, "All your links appear to be working!\r\n\r\n");
  } else if (total != 0) {
    // Wide arithmetic: the count times 100 must not wrap for any tree.
    uint64_t percentage = 0;
    if (linkCount != 0)
      percentage = static_cast<uint64_t>(total) * 100 / static_cast<uint32_t>(linkCount);
    if (percentage == 0) percentage = 1;
    char percentText[32];
    std::snprintf(percentText, sizeof percentText, "%ld%%", static_cast<long>(percentage));
    AppendLogF(mainWindow, IDC_LOG,
               "Found %ld broken lin%s (Status %s), %ld moved lin%s (Status 301),\r\nand %ld "
               "invalid hos%s (%ld in total). %s of your links %s\r\n\r\n",
               static_cast<long>(broken), broken == 1 ? "k" : "ks",
               (flags & FLAG_FORBIDDEN_AS_NOT_FOUND) ? (anyGone ? "403/404/410" : "403/404")
               : anyGone                             ? "404/410"
                                                     : "404",
               static_cast<long>(moved),
               moved == 1 ? "k" : "ks", static_cast<long>(invalid), invalid == 1 ? "t" : "ts",
               static_cast<long>(total), percentText, "don't work.");
  }
  if (certificates != 0)
    AppendLogF(mainWindow, IDC_LOG,
               "Found %ld lin%s with a certificate problem (the page may still be there): "
               "%s left as %s unless you choose otherwise.\r\n\r\n",
               static_cast<long>(certificates), certificates == 1 ? "k" : "ks",
               certificates == 1 ? "it is" : "they are", certificates == 1 ? "it is" : "they are");
  if (blocked != 0)
    AppendLogF(mainWindow, IDC_LOG,
               "%ld lin%s could not be verified: the server refused an automated check (%s "
               "left as %s).\r\n\r\n",
               static_cast<long>(blocked), blocked == 1 ? "k" : "ks",
               blocked == 1 ? "it is" : "they are", blocked == 1 ? "it was" : "they were");
  if (total != 0 || certificates != 0) SetActions(GROUP_DEFAULTS, 0, tree);

  bool askBroken = (flags & FLAG_BROKEN_ASK) != 0;
  bool askMoved = (flags & FLAG_MOVED_ASK) != 0;
  if ((askBroken && static_cast<int64_t>(broken) + invalid + certificates > 0) ||
      (askMoved && moved > 0)) {
    const ResultsPresenter& presenter = Presenter();
    if (!presenter) return ShowResultsDialog(mainWindow, tree);
    return presenter(mainWindow, tree) == 1 ? 1 : 0;
  }
  if (askBroken && askMoved && !(flags & FLAG_ONLY_OLDER)) return 0;
  return 1;
}
