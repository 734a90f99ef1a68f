// Profile strings: the stand-in for reading a value from an initialisation file (the form
// of Internet shortcut files), and for changing one value of such a text in memory while
// keeping every other byte. Any thread may call these functions; they keep no state.
//
// The form read: lines ending in CR LF, LF or CR; "[section]" lines (surrounding blanks
// allowed) start a section; "key=value" lines inside a section, blanks around key and value
// ignored, a value in matching double or single quotes loses them; lines starting with ';'
// are comments. Section and key names match ignoring letter case (A-Z); the first match in
// the text wins. A UTF-8 byte order mark at the start is passed over.
#pragma once

#include <cstddef>
#include <string>

// Files larger than this are not read as initialisation files (a shortcut is a few hundred
// bytes; a huge file is not one of ours).
constexpr size_t PROFILE_MAX_FILE_SIZE = 1 << 20;

// The value of key in section of the file at path. False, with value empty, when the file
// cannot be read, is too large, or holds no such key. readError, when given, is set to the
// errno of a read that failed after the file was opened (left alone otherwise): such a file
// is unreadable, not short.
bool ReadProfileString(const char* path, const char* section, const char* key, std::string& value,
                       int* readError = nullptr);
// The same for text in memory.
bool FindProfileString(const std::string& text, const char* section, const char* key,
                       std::string& value);

// Returns text with the value of key in section set to value. When the key is there and
// already has that value, the text is returned unchanged; when it is there with another
// value, only that line's value changes (its key, its line end and everything else stay);
// when the key is missing it is added at the end of the section, and a missing section is
// added at the end of the text, with the line end the text mostly uses (CR LF when none).
std::string SetProfileString(const std::string& text, const char* section, const char* key,
                             const std::string& value);
