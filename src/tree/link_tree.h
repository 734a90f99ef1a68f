// The link tree: the one in-memory model of both bookmark stores.
// Built, changed, walked and freed by the clean-run thread. While workers run, each worker
// writes only its own entry's checkResult, lastVisit and newUrl; checkResult is published
// last (an atomic store), so other threads read a complete result.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "tree/text_string.h"

// Dates are seconds since 1970-01-01 00:00 UTC, 0 for none. They are held in 64 bits so
// that a value a file gives beyond the 32-bit range is kept and written back unchanged.
using TimeValue = int64_t;

constexpr int32_t SOURCE_FAVORITES = 1;
constexpr int32_t SOURCE_BOOKMARKS = 2;

constexpr int32_t ACTION_LEAVE = 1;
constexpr int32_t ACTION_DELETE = 2;
constexpr int32_t ACTION_SHIFT = 3;
constexpr int32_t ACTION_UPDATE = 4;

constexpr int32_t CHECK_NONE = 0;
constexpr int32_t CHECK_MOVED = 301;
constexpr int32_t CHECK_FORBIDDEN = 403;
constexpr int32_t CHECK_NOT_FOUND = 404;
constexpr int32_t CHECK_GONE = 410;
constexpr int32_t CHECK_INVALID_HOST = 2000;
// A secure server whose certificate did not verify: the page may be there or not.
constexpr int32_t CHECK_CERTIFICATE = 2001;
// A permanent redirect that could not be followed to its end (a loop, too many hops, a
// Location that is no web address): the new address is unknown, so it is no problem.
constexpr int32_t CHECK_REDIRECT_UNFOLLOWED = 2002;
// A server that refused an automated check (a login, a rate limit, a bot wall): the result
// is this base plus the status the server gave (3401, 3403, 3429, 3503, 3999). The page
// could not be verified; such a link is never a problem and never deleted.
constexpr int32_t CHECK_BLOCKED_BASE = 3000;
inline bool IsBlockedResult(int32_t result) {
  return result > CHECK_BLOCKED_BASE && result < CHECK_BLOCKED_BASE + 1000;
}

// The results the results dialog lists in its not-found group (offered Delete, Shift and
// Leave), and all the results it lists (that group and the moved links).
inline bool IsNotFoundGroupResult(int32_t result) {
  return result == CHECK_NOT_FOUND || result == CHECK_GONE || result == CHECK_FORBIDDEN ||
         result == CHECK_INVALID_HOST || result == CHECK_CERTIFICATE;
}
inline bool IsProblemResult(int32_t result) {
  return result == CHECK_MOVED || IsNotFoundGroupResult(result);
}

struct Node {
  Node* next = nullptr;
  Node* prev = nullptr;
  int32_t source = 0;
  const char* name = nullptr;
  char* nameBuffer = nullptr;

  Node() = default;
  explicit Node(const char* text) { setName(text); }
  virtual ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  void setName(const char* text);
  void setName(const char* text, size_t length);  // length bytes, which hold no zero
  void unlink();
};

// A doubly linked list whose two boundary nodes live inside the header, so that a node can
// unlink itself without knowing its list. A walk starts at head() and goes on while the
// node's next is not null (the end boundary's next is null):
//   for (Node* n = list.head(); n->next; n = n->next) ...
struct NodeList {
  NodeList() { initialise(); }
  ~NodeList() = default;  // does not free entries: FreeTree does
  NodeList(const NodeList&) = delete;
  NodeList& operator=(const NodeList&) = delete;

  void initialise();
  Node* head() const { return front_.next; }     // first node, or the end boundary
  Node* tailPred() const { return back_.prev; }  // last node, or the front boundary
  bool isEmpty() const { return back_.prev == &front_; }

  void addHead(Node* node);
  void addTail(Node* node);
  void insertBefore(Node* node, Node* before);
  void insertSorted(Node* node);
  Node* findByName(Node* after, const char* text) const;

 private:
  static void linkBetween(Node* node, Node* before, Node* after);
  Node front_;  // front boundary: next is the first node, prev always null
  Node back_;   // end boundary: prev is the last node, next always null
};

struct LinkEntry : Node {
  std::atomic<int32_t> checkResult{CHECK_NONE};
  TextString url;
  NodeList children;
  TimeValue lastVisit = 0;
  TimeValue addDate = 0;
  TimeValue lastModified = 0;
  int32_t action = ACTION_LEAVE;
  TextString newUrl;
  // A worker asked a server about this link in this run (written by that worker only, read
  // after it has been joined); a link without an answer keeps CHECK_NONE but was checked.
  bool probed = false;

  // What the stores carry beyond the fields above, kept so that a save destroys nothing:
  // the other attributes of a bookmark line, in their original order and text (written
  // after the attributes the writer writes itself); a <DD> description with the lines that
  // continue it; and, for a link read from a shortcut file, that file's name and the title
  // it was read under (a rename is then recognised).
  TextString extraAttributes;
  TextString description;
  TextString shortcutFile;
  TextString shortcutTitle;
  // For a link that took over the shortcut file of its twin in another directory of the
  // Favorites (synchronisation keeps one file per link): that directory relative to the
  // Favorites folder, its names joined by '/', empty for the folder itself. Not copied with
  // the entry: a copy's file belongs where the copy stands.
  bool shortcutElsewhere = false;
  TextString shortcutDirectory;
  // The bookmark file's own text of a date whose value was kept but whose text is not the
  // plain number (leading zeros, a value past the 64-bit range, a date in another format):
  // written back unchanged as long as the value has not been changed. Empty for most entries.
  TextString dateText;
  // For an entry read from a bookmark store that keeps its own record of every entry (the
  // browsers' JSON file): which record, counted from 1; 0 for an entry the store has not seen.
  // A copy keeps it, so a shifted link is written back as the same entry in its new place.
  uint32_t storeRecord = 0;
  // How the bookmark file wrote the entry (BOOKMARK_FORM_* bits of the bookmark reader), so
  // that a save writes back what was read: which dates were absent, whether a folder was
  // open. 0 for an entry the bookmark file did not give.
  uint8_t bookmarkForm = 0;

  LinkEntry();                                                         // separator
  LinkEntry(const char* title, const char* address, TimeValue visit);  // named
  explicit LinkEntry(const LinkEntry& other);                          // copy
  ~LinkEntry() override;

  bool isSeparator() const { return name == nullptr; }
  bool isLink() const { return url.length != 0; }
  bool isFolder() const { return name != nullptr && url.length == 0; }

  // The entry a node of a tree list is (every real node of the link tree is a LinkEntry).
  static LinkEntry* of(Node* node) { return static_cast<LinkEntry*>(node); }
};

// Name comparison for sorting and finding: ignores case by folding A-Z only.
int CompareNames(const char* a, const char* b);

// Calls visit(LinkEntry&) for every entry of list and below whose children list is empty,
// depth first, each list from head to tail. The walk keeps its own stack, so any nesting depth
// is safe; visit must not change the tree's shape. When visit returns a bool, false stops the
// walk and the entry it stopped at is returned; otherwise the result is null.
template <typename Visit>
LinkEntry* ForEachLeaf(const NodeList& list, Visit visit) {
  std::vector<Node*> resume;  // where each outer level goes on
  Node* n = list.head();
  for (;;) {
    if (!n->next) {
      if (resume.empty()) return nullptr;
      n = resume.back();
      resume.pop_back();
      continue;
    }
    LinkEntry* entry = LinkEntry::of(n);
    if (!entry->children.isEmpty()) {
      resume.push_back(n->next);
      n = entry->children.head();
      continue;
    }
    if constexpr (std::is_same_v<decltype(visit(*entry)), bool>) {
      if (!visit(*entry)) return entry;
    } else {
      visit(*entry);
    }
    n = n->next;
  }
}

// Empties the list and frees everything beneath it. Works at any nesting depth.
void FreeTree(NodeList& list);

// First entry in depth-first order that has been checked and has the same address
// (TextString::compareNoCase); null when there is none. Works at any nesting depth.
LinkEntry* FindCheckedByUrl(const TextString& address, const NodeList& list);
