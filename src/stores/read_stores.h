// Reading both stores into one tree at the start of a clean run. Clean-run thread.
#pragma once

#include <cstdint>

#include "tree/link_tree.h"

class Window;

// Reads the bookmark file and then the Favorites folder, as the settings flags enable them,
// into the root list; linkCount receives the number of links to check (outside "Broken
// Links" folders). Logs each store to the window's log. False when a store could not be
// read (missing, not a regular file, too large, or a read that failed part-way): the root
// list is then empty and linkCount 0, so that nothing is checked and nothing saved.
bool ReadStores(Window* window, NodeList& root, int32_t& linkCount);
