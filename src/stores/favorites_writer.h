// Writing the link tree back to the Favorites folder. Clean-run thread.
#pragma once

#include "tree/link_tree.h"

// Writes the tree into settings->favoritesFolder. False when the folder cannot be entered.
bool WriteFavorites(NodeList& tree);
