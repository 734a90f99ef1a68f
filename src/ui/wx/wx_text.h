// Conversions between the program's text (bytes: UTF-8 where a sequence is valid, Windows-1252
// otherwise) and the toolkit's strings. Any thread; no state.
#pragma once

#include <wx/string.h>

#include <string>
#include <string_view>

// Decodes the program's bytes for display: every valid UTF-8 sequence is kept, every other
// byte is read as Windows-1252, so no text ever shows up empty.
wxString ToWxText(std::string_view bytes);
inline wxString ToWxText(const char* bytes) {
  return ToWxText(bytes ? std::string_view(bytes) : std::string_view());
}

// Text read back from a control, as UTF-8.
std::string FromWxText(const wxString& text);

// Number of characters in the first `byteOffset` bytes of UTF-8 text (an offset inside a
// sequence counts that character as not yet reached).
long Utf8CharCount(std::string_view utf8, size_t byteOffset);
// Byte offset of the character with that index in UTF-8 text (the length when past its end).
size_t Utf8ByteOffset(std::string_view utf8, long charIndex);
