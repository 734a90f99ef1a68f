// Text comparison that stands in for the system's locale-aware, case-insensitive compare.
// Any thread may call these functions; they keep no state.
#pragma once

// Three-way comparison ignoring letter case the way a user's locale does for 8-bit text.
// Text is bytes: UTF-8 where a sequence is valid UTF-8, Windows-1252 otherwise.
// Null pointers compare as the empty text. Result: negative, zero or positive.
int CompareTextNoCase(const char* a, const char* b);

// Folds only A-Z onto a-z and compares bytes as unsigned values.
int CompareAsciiNoCase(const char* a, const char* b);
