#include "tree/link_tree.h"

#include <cstdlib>
#include <cstring>
#include <vector>

Node::~Node() { std::free(nameBuffer); }

void Node::setName(const char* text) {
  std::free(nameBuffer);
  nameBuffer = nullptr;
  name = nullptr;
  if (!text) return;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (!copy) return;
  std::memcpy(copy, text, n);
  nameBuffer = copy;
  name = copy;
}

void Node::setName(const char* text, size_t length) {
  std::free(nameBuffer);
  nameBuffer = nullptr;
  name = nullptr;
  if (!text) return;
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return;
  std::memcpy(copy, text, length);
  copy[length] = 0;
  nameBuffer = copy;
  name = copy;
}

void Node::unlink() {
  if (prev) prev->next = next;
  if (next) next->prev = prev;
  next = nullptr;
  prev = nullptr;
}

void NodeList::initialise() {
  front_.next = &back_;
  front_.prev = nullptr;
  back_.next = nullptr;
  back_.prev = &front_;
}

void NodeList::linkBetween(Node* node, Node* before, Node* after) {
  node->prev = before;
  node->next = after;
  before->next = node;
  after->prev = node;
}

void NodeList::addHead(Node* node) {
  if (node) linkBetween(node, &front_, front_.next);
}

void NodeList::addTail(Node* node) {
  if (node) linkBetween(node, back_.prev, &back_);
}

void NodeList::insertBefore(Node* node, Node* before) {
  if (!node) return;
  if (!before || before == front_.next || !before->prev) {
    addHead(node);
    return;
  }
  linkBetween(node, before->prev, before);
}

void NodeList::insertSorted(Node* node) {
  if (!node) return;
  for (Node* n = head(); n->next; n = n->next) {
    if (!node->name || !n->name || CompareNames(node->name, n->name) < 0) {
      linkBetween(node, n->prev, n);
      return;
    }
  }
  addTail(node);
}

Node* NodeList::findByName(Node* after, const char* text) const {
  Node* n = after ? after->next : head();
  for (; n && n->next; n = n->next) {
    if (n->name && CompareNames(n->name, text) == 0) return n;
  }
  return nullptr;
}

int CompareNames(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (;; ++p, ++q) {
    unsigned x = *p, y = *q;
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y || x == 0) return static_cast<int>(x) - static_cast<int>(y);
  }
}

LinkEntry::LinkEntry() { source = SOURCE_BOOKMARKS; }

LinkEntry::LinkEntry(const char* title, const char* address, TimeValue visit) {
  setName(title);
  if (address) url.assign(address);
  source = SOURCE_BOOKMARKS;
  lastVisit = visit;
}

LinkEntry::LinkEntry(const LinkEntry& other) : Node() {
  setName(other.name);
  url.assign(other.url);
  source = other.source;
  lastVisit = other.lastVisit;
  addDate = other.addDate;
  lastModified = other.lastModified;
  checkResult.store(other.checkResult.load());
  newUrl.assign(other.newUrl);
  probed = other.probed;
  extraAttributes.assign(other.extraAttributes);
  description.assign(other.description);
  shortcutFile.assign(other.shortcutFile);
  shortcutTitle.assign(other.shortcutTitle);
  if (other.dateText.length) dateText.assign(other.dateText.data, other.dateText.length);
  storeRecord = other.storeRecord;
  bookmarkForm = other.bookmarkForm;
}

LinkEntry::~LinkEntry() {
  newUrl.release();
  url.release();
}

void FreeTree(NodeList& list) {
  // An explicit stack instead of recursion: a hostile file may nest folders very deeply.
  std::vector<NodeList*> stack;
  stack.push_back(&list);
  while (!stack.empty()) {
    NodeList* current = stack.back();
    if (current->isEmpty()) {
      stack.pop_back();
      continue;
    }
    LinkEntry* entry = LinkEntry::of(current->head());
    if (!entry->children.isEmpty()) {
      stack.push_back(&entry->children);
      continue;
    }
    entry->unlink();
    delete entry;
  }
}

LinkEntry* FindCheckedByUrl(const TextString& address, const NodeList& list) {
  return ForEachLeaf(list, [&address](LinkEntry& entry) {
    return entry.checkResult.load(std::memory_order_acquire) == CHECK_NONE ||
           entry.url.compareNoCase(address) != 0;
  });
}
