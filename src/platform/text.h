// Text comparison that stands in for the system's locale-aware, case-insensitive compare.
// Any thread may call these functions; they keep no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Three-way comparison ignoring letter case the way a user's locale does for 8-bit text.
// Text is bytes: UTF-8 where a sequence is valid UTF-8, Windows-1252 otherwise.
// Null pointers compare as the empty text. Result: negative, zero or positive.
int CompareTextNoCase(const char* a, const char* b);

// Folds only A-Z onto a-z and compares bytes as unsigned values.
int CompareAsciiNoCase(const char* a, const char* b);

// True when the whole text is valid UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF); the empty text is.
bool IsUtf8Text(std::string_view bytes);

// The text as it is shown, in UTF-8: every valid UTF-8 sequence kept, every other byte read
// as Windows-1252 (the five bytes that code page leaves undefined stand for their own code
// point), so no text ever shows up empty.
std::string ShownAsUtf8(std::string_view bytes);

// UTF-8 text written in Windows-1252. False, with out untouched, when a character has no
// byte in that code page or the text is not valid UTF-8.
bool Utf8ToWindows1252(std::string_view utf8, std::string& out);

// The valid UTF-8 sequence at p (left > 0 bytes there): its length, 1 to 4, with its code
// point in *code; 0 when the bytes there are not one (overlong forms, surrogates and values
// past U+10FFFF are not).
size_t DecodeUtf8(const unsigned char* p, size_t left, uint32_t* code);

// Appends a code point (at most U+10FFFF) in UTF-8.
void AppendUtf8(std::string& out, uint32_t code);

// Appends, in UTF-8, the character a byte stands for in Windows-1252 (the five bytes that
// code page leaves undefined stand for their own code point).
void AppendWindows1252Byte(std::string& out, unsigned char byte);
