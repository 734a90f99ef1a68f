// Writing the link tree back to the Netscape bookmark file. Clean-run thread.
#pragma once

#include <string>

#include "tree/link_tree.h"

// Writes the tree to settings->bookmarkFile, replacing it atomically and keeping the previous
// file as "<name>.bak". A file that is a symbolic link is replaced where the link leads (the
// backup beside it), the link staying. False when the file could not be written (the old
// file is untouched), with the reason in why when given.
bool WriteBookmarkFile(NodeList& tree, std::string* why = nullptr);

// An address as the bookmark file holds it: a double quote written as %22, the text ending
// at a NUL byte.
std::string BookmarkFileAddress(const TextString& url);

// The exact bytes WriteBookmarkFile writes for the tree (used by tests and the benchmark).
void FormatBookmarkFile(const NodeList& tree, std::string& out);
