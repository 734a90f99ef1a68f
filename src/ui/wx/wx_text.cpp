#include "ui/wx/wx_text.h"

namespace {

// Windows-1252 bytes 0x80-0x9F; the five undefined ones keep their own code point, as the
// system's conversion does.
constexpr wchar_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

wchar_t Cp1252(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
  return byte;
}

// Length of the valid UTF-8 sequence at p (0 when the bytes there are not one) and its code
// point. Overlong forms, surrogates and values past U+10FFFF are not valid.
size_t DecodeUtf8(const unsigned char* p, size_t left, char32_t* code) {
  unsigned char b = p[0];
  size_t length;
  char32_t value;
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

}  // namespace

wxString ToWxText(std::string_view bytes) {
  bool ascii = true;
  for (unsigned char c : bytes) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return wxString::FromAscii(bytes.data(), bytes.size());
  std::wstring wide;
  wide.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t left = bytes.size();
  while (left > 0) {
    char32_t code;
    size_t length = DecodeUtf8(p, left, &code);
    if (length == 0) {
      wide.push_back(Cp1252(*p));
      length = 1;
    } else if constexpr (sizeof(wchar_t) == 2) {
      if (code >= 0x10000) {
        code -= 0x10000;
        wide.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
        wide.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
      } else {
        wide.push_back(static_cast<wchar_t>(code));
      }
    } else {
      wide.push_back(static_cast<wchar_t>(code));
    }
    p += length;
    left -= length;
  }
  return wxString(wide);
}

std::string FromWxText(const wxString& text) {
  const wxScopedCharBuffer utf8 = text.utf8_str();
  return std::string(utf8.data(), utf8.length());
}

long Utf8CharCount(std::string_view utf8, size_t byteOffset) {
  if (byteOffset > utf8.size()) byteOffset = utf8.size();
  long count = 0;
  for (size_t i = 0; i < byteOffset; ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) ++count;
  }
  // An offset inside a sequence has counted that sequence's lead byte already.
  if (byteOffset < utf8.size() && (static_cast<unsigned char>(utf8[byteOffset]) & 0xC0) == 0x80 &&
      count > 0) {
    --count;
  }
  return count;
}

size_t Utf8ByteOffset(std::string_view utf8, long charIndex) {
  if (charIndex <= 0) return 0;
  long seen = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (seen == charIndex) return i;
      ++seen;
    }
  }
  return utf8.size();
}
