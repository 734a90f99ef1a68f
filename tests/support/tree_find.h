// Finding an entry of a link tree by its name, at any depth, for tests that build or read a
// tree and then look at one entry.
#pragma once

#include <cstring>

#include "tree/link_tree.h"

// The first entry named name in a depth-first walk, or null.
inline LinkEntry* FindByName(const NodeList& list, const char* name) {
  for (Node* n = list.head(); n->next; n = n->next) {
    LinkEntry* e = LinkEntry::of(n);
    if (e->name && std::strcmp(e->name, name) == 0) return e;
    if (LinkEntry* inner = FindByName(e->children, name)) return inner;
  }
  return nullptr;
}
