// Reading the Netscape bookmark file into the link tree. Clean-run thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tree/link_tree.h"

class Window;

// The largest bookmark file read (1 GiB): a larger one is refused before any of it is read.
constexpr int64_t BOOKMARK_FILE_MAX_SIZE = int64_t{1} << 30;

// Opens settings->bookmarkFile (no sharing) and reads it into the root list, logging
// "Reading Navigator Bookmarks...\r\n" or "Couldn't open Navigator Bookmark file!\r\n" to
// the window's log. Returns false when the file could not be opened (or is not a file the
// reader understands), in which case nothing is added. A file that opens but is not a
// bookmark file adds nothing and is logged as such; *recognised (when given) tells which.
// A pipe or device, a file larger than BOOKMARK_FILE_MAX_SIZE, and a read that fails
// part-way are logged with their reason after that line and read as nothing.
bool ReadBookmarkFile(Window* window, NodeList& root, int32_t& linkCount,
                      bool* recognised = nullptr);

// Reads bookmark text already in memory into the list (the file reader's core; also used
// by tests, the fuzzer and the benchmark). Sets settings->bookmarkTitle from a title line.
// True when the text is a bookmark file: it has the document type line, a list, a folder or
// a link, or holds nothing but white space. Otherwise nothing is added, and the file must
// never be written over.
bool ReadBookmarkText(const char* data, size_t size, NodeList& root, int32_t& linkCount);

// True for text the reader cannot understand because it is UTF-16: a byte order mark, or a
// start in which nearly every second byte is NUL (a NUL byte elsewhere is an ordinary byte
// of an 8-bit file). Such a file is treated as one that cannot be opened,
// so that a save never replaces it with the little that was understood.
bool LooksLikeUtf16(const char* data, size_t size);

// A date attribute's value as the reader takes it: an optional sign and the decimal digits
// up to the first other character, saturated to the range of TimeValue.
TimeValue ParseBookmarkDate(const char* text, size_t length);

// The kinds of date whose original text LinkEntry::dateText may keep.
constexpr char DATE_TEXT_ADD = 'A';
constexpr char DATE_TEXT_VISIT = 'V';
constexpr char DATE_TEXT_MODIFIED = 'M';

// LinkEntry::bookmarkForm bits: how the bookmark file wrote an entry the reader read.
constexpr uint8_t BOOKMARK_FORM_READ = 0x01;              // the entry came from the file
constexpr uint8_t BOOKMARK_FORM_NO_ADD_DATE = 0x02;       // no ADD_DATE attribute
constexpr uint8_t BOOKMARK_FORM_NO_LAST_VISIT = 0x04;     // no LAST_VISIT attribute
constexpr uint8_t BOOKMARK_FORM_NO_LAST_MODIFIED = 0x08;  // no LAST_MODIFIED attribute
constexpr uint8_t BOOKMARK_FORM_VISIT_FROM_ADD =
    0x10;  // lastVisit is ADD_DATE's (LAST_VISIT 0 or none)
constexpr uint8_t BOOKMARK_FORM_NOT_FOLDED = 0x20;  // a folder without a bare FOLDED

// The original text of one date of the entry when the reader kept it and the field still
// holds the value read from it; null otherwise.
const char* KeptDateText(const LinkEntry& entry, char kind, TimeValue value, size_t* length);
