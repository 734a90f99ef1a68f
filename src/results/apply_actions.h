// Carrying out the chosen actions on the link tree, then saving both stores.
// Clean-run thread, after every worker has ended and the user (or the settings) agreed.
#pragma once

#include <vector>

#include "stores/save_report.h"
#include "tree/link_tree.h"

class Window;

// Moves the links marked Shift into the "Broken Links" folder (found anywhere in the tree,
// or made at the top level), gives the links marked Update their new address, and writes the
// bookmark file and then the Favorites folder as the settings enable them. Deletions are left
// to the writers, which honour ACTION_DELETE. Progress goes to the window's log and progress
// bar; every save that failed in whole or in part is logged by store (and, for the
// Favorites, by file) and added to report when given.
void ApplyActions(Window* mainWindow, NodeList& tree, SaveReport* report = nullptr);

// The first folder named "Broken Links" (ASCII letter case ignored) in depth-first order,
// or null. ancestors, when given, receives the folders that hold it, outermost first.
LinkEntry* FindBrokenLinksFolder(const NodeList& tree,
                                 std::vector<LinkEntry*>* ancestors = nullptr);
