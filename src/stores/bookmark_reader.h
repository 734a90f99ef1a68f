// Reading the Netscape bookmark file into the link tree. Clean-run thread.
#pragma once

#include <cstddef>
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

// True for text the reader cannot understand because it is UTF-16: a byte order mark, or a
// NUL byte between two ASCII characters. Such a file is treated as one that cannot be opened,
// so that a save never replaces it with the little that was understood.
bool LooksLikeUtf16(const char* data, size_t size);

// A date attribute's value as the reader takes it: an optional sign and the decimal digits
// up to the first other character, saturated to the range of TimeValue.
TimeValue ParseBookmarkDate(const char* text, size_t length);

// The kinds of date whose original text LinkEntry::dateText may keep.
constexpr char DATE_TEXT_ADD = 'A';
constexpr char DATE_TEXT_VISIT = 'V';
constexpr char DATE_TEXT_MODIFIED = 'M';

// The original text of one date of the entry when the reader kept it and the field still
// holds the value read from it; null otherwise.
const char* KeptDateText(const LinkEntry& entry, char kind, TimeValue value, size_t* length);
