// Reading the Netscape bookmark file into the link tree. Clean-run thread.
#pragma once

#include <cstdint>

#include "tree/link_tree.h"

class Window;

// Opens settings->bookmarkFile (no sharing) and reads it into the root list, logging
// "Reading Navigator Bookmarks...\r\n" or "Couldn't open Navigator Bookmark file!\r\n" to
// the window's log. Returns false when the file could not be opened (or is not a file the
// reader understands), in which case nothing is added.
bool ReadBookmarkFile(Window* window, NodeList& root, int32_t& linkCount);

// Reads bookmark text already in memory into the list (the file reader's core; also used
// by tests, the fuzzer and the benchmark). Sets settings->bookmarkTitle from a title line.
void ReadBookmarkText(const char* data, size_t size, NodeList& root, int32_t& linkCount);
