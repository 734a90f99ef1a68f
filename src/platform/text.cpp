#include "platform/text.h"

#include <cstdint>
#include <utility>

namespace {

// Windows-1252 bytes 0x80..0x9F as Unicode code points (0 for the five undefined ones,
// which then stand for themselves).
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsValidUtf8(const unsigned char* s) {
  while (*s) {
    unsigned c = *s;
    int extra;
    uint32_t min;
    if (c < 0x80) {
      ++s;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      min = 0x10000;
    } else {
      return false;
    }
    uint32_t cp = c & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
      if ((s[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    s += extra + 1;
  }
  return true;
}

uint32_t NextCodePoint(const unsigned char*& s, bool utf8) {
  unsigned c = *s++;
  if (c < 0x80) return c;
  if (!utf8) {
    if (c < 0xA0) {
      uint32_t u = kCp1252High[c - 0x80];
      return u ? u : c;
    }
    return c;
  }
  int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
  uint32_t cp = c & (0x3F >> extra);
  for (int i = 0; i < extra; ++i) cp = (cp << 6) | (*s++ & 0x3F);
  return cp;
}

// Simple case folding for the scripts bookmark titles and host names use most.
uint32_t FoldCase(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddPairs) return (c & 1) ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    return (c & 1) ? c : c + 1;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

size_t DecodeUtf8(const unsigned char* p, size_t left, uint32_t* code) {
  unsigned char b = p[0];
  size_t length;
  uint32_t value;
  if (b < 0x80) {
    *code = b;
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
    value = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    value = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    value = b & 0x07;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *code = value;
  return length;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void AppendWindows1252Byte(std::string& out, unsigned char byte) {
  uint32_t code = byte;
  if (code >= 0x80 && code < 0xA0 && kCp1252High[code - 0x80]) code = kCp1252High[code - 0x80];
  AppendUtf8(out, code);
}

bool IsUtf8Text(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t left = bytes.size(); left > 0;) {
    uint32_t code;
    size_t length = DecodeUtf8(p, left, &code);
    if (length == 0) return false;
    p += length;
    left -= length;
  }
  return true;
}

std::string ShownAsUtf8(std::string_view bytes) {
  std::string shown;
  shown.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t left = bytes.size(); left > 0;) {
    uint32_t code;
    size_t length = DecodeUtf8(p, left, &code);
    if (length == 0) {
      AppendWindows1252Byte(shown, *p);
      length = 1;
    } else {
      AppendUtf8(shown, code);
    }
    p += length;
    left -= length;
  }
  return shown;
}

bool Utf8ToWindows1252(std::string_view utf8, std::string& out) {
  std::string bytes;
  bytes.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t left = utf8.size(); left > 0;) {
    uint32_t code;
    size_t length = DecodeUtf8(p, left, &code);
    if (length == 0) return false;
    p += length;
    left -= length;
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
      bytes += static_cast<char>(code);
      continue;
    }
    int found = -1;
    for (int i = 0; i < 32; ++i)
      if (kCp1252High[i] ? kCp1252High[i] == code : 0x80u + i == code) found = 0x80 + i;
    if (found < 0) return false;
    bytes += static_cast<char>(found);
  }
  out = std::move(bytes);
  return true;
}

int CompareTextNoCase(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
  bool utf8p = IsValidUtf8(p);
  bool utf8q = IsValidUtf8(q);
  while (*p && *q) {
    uint32_t x = FoldCase(NextCodePoint(p, utf8p));
    uint32_t y = FoldCase(NextCodePoint(q, utf8q));
    if (x != y) return x < y ? -1 : 1;
  }
  if (*p) return 1;
  if (*q) return -1;
  return 0;
}

int CompareAsciiNoCase(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (;; ++p, ++q) {
    unsigned x = *p, y = *q;
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y || x == 0) return static_cast<int>(x) - static_cast<int>(y);
  }
}
