#include "tree/text_string.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/text.h"

namespace {

bool IsSeparator(char c, PathStyle style) {
  return style == PathStyle::Windows ? c == '\\' : c == '/';
}
bool IsDriveColon(char c, PathStyle style) { return style == PathStyle::Windows && c == ':'; }
char SeparatorOf(PathStyle style) { return style == PathStyle::Windows ? '\\' : '/'; }

int32_t LengthOf(const char* text) {
  size_t n = std::strlen(text);
  return n > 0x7FFFFFF0u ? -1 : static_cast<int32_t>(n);
}

}  // namespace

char* TextString::reserve(int32_t n) {
  release();
  if (n < 0) return nullptr;
  char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (!buffer) return nullptr;
  buffer[0] = 0;
  data = buffer;
  capacity = n;
  owned = true;
  return data;
}

void TextString::release() {
  if (owned) std::free(data);
  data = nullptr;
  length = 0;
  capacity = 0;
  owned = false;
}

char* TextString::assign(const char* text) {
  if (!text) {
    clearText();
    return nullptr;
  }
  int32_t n = LengthOf(text);
  if (n < 0) {
    release();
    return nullptr;
  }
  return assign(text, n);
}

char* TextString::assign(const char* text, int32_t count) {
  if (!text || count < 0) {
    clearText();
    return nullptr;
  }
  if (data && capacity >= count) {
    std::memmove(data, text, static_cast<size_t>(count));
  } else {
    // The text may live inside our own buffer: copy it before the buffer goes.
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(count) + 1));
    if (!buffer) {
      release();
      return nullptr;
    }
    std::memcpy(buffer, text, static_cast<size_t>(count));
    release();
    data = buffer;
    capacity = count;
    owned = true;
  }
  data[count] = 0;
  length = count;
  return data;
}

char* TextString::append(const char* text) {
  if (!text || !*text) return data;
  if (!data || !data[0]) return assign(text);
  int32_t add = LengthOf(text);
  if (add < 0 || length > 0x7FFFFFF0 - add) return nullptr;
  int32_t total = length + add;
  if (owned && capacity >= total) {
    std::memmove(data + length, text, static_cast<size_t>(add) + 1);
    length = total;
    return data;
  }
  char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(total) + 1));
  if (!buffer) return nullptr;
  std::memcpy(buffer, data, static_cast<size_t>(length));
  std::memcpy(buffer + length, text, static_cast<size_t>(add) + 1);
  release();
  data = buffer;
  length = capacity = total;
  owned = true;
  return data;
}

void TextString::clearText() {
  if (data) data[0] = 0;
  length = 0;
}

void TextString::truncate(int32_t newLength) {
  if (data && newLength >= 0 && newLength <= length) {
    data[newLength] = 0;
    length = newLength;
  }
}

bool TextString::equalsNoCase(const char* text) const {
  return data && CompareTextNoCase(data, text) == 0;
}

namespace {

// The address with each double quote in the form %22, in which the bookmark file holds it.
std::string QuotesEscaped(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '"')
      out += "%22";
    else
      out += *p;
  }
  return out;
}

}  // namespace

int TextString::compareNoCase(const TextString& other) const {
  if (length == 0 && other.length == 0) return 0;
  if (other.length == 0) return 1;
  if (length == 0) return -1;
  // A double quote and %22 stand for the same address: a link whose address holds a quote
  // comes back from the bookmark file with %22 in its place.
  if (std::strchr(data, '"') || std::strchr(other.data, '"'))
    return CompareTextNoCase(QuotesEscaped(data).c_str(), QuotesEscaped(other.data).c_str());
  return CompareTextNoCase(data, other.data);
}

int32_t TextString::findChar(char ch) const {
  if (!data) return TEXT_NONE;
  for (int32_t i = 0; i < length; ++i)
    if (data[i] == ch) return i;
  return TEXT_NONE;
}

int32_t TextString::findLastChar(char ch) const {
  if (!data) return TEXT_NONE;
  for (int32_t i = length - 1; i >= 0; --i)
    if (data[i] == ch) return i;
  return TEXT_NONE;
}

char* TextString::assignPath(const char* text, PathStyle style) {
  if (!text || !*text) {
    clearText();
    return data;
  }
  if (!assign(text)) return nullptr;
  normalise(style);
  return data;
}

void TextString::normalise(PathStyle style) {
  int32_t n = length;
  if (n > 1 && IsSeparator(data[n - 1], style) && !IsDriveColon(data[n - 2], style))
    truncate(n - 1);
  if (style == PathStyle::Windows && n >= 2 && data[0] >= 'a' && data[0] <= 'z' && data[1] == ':')
    data[0] = static_cast<char>(data[0] - 'a' + 'A');
}

char* TextString::appendComponent(const char* part, PathStyle style) {
  if (length == 0 ||
      (!IsSeparator(data[length - 1], style) && !IsDriveColon(data[length - 1], style))) {
    const char sep[2] = {SeparatorOf(style), 0};
    if (!append(sep)) return nullptr;
  }
  if (!part) return nullptr;
  if (!append(part)) return nullptr;
  if (length > 1 && IsSeparator(data[length - 1], style)) truncate(length - 1);
  return data;
}

int32_t TextString::fileNamePart(PathStyle style) const {
  if (length == 0) return TEXT_NONE;
  for (int32_t i = length - 1; i >= 0; --i) {
    if (IsSeparator(data[i], style) || IsDriveColon(data[i], style))
      return i + 1 < length ? i + 1 : 0;
  }
  return 0;
}

int32_t TextString::extension(PathStyle style) const {
  for (int32_t i = length - 1; i >= 1; --i) {
    if (data[i] == '.') return i;
    if (IsSeparator(data[i], style) || IsDriveColon(data[i], style)) return TEXT_NONE;
  }
  return TEXT_NONE;
}

bool TextString::removeLastComponent(PathStyle style) {
  if (length == 0) return false;
  int32_t p = fileNamePart(style);
  if (p == 0) {
    if (IsSeparator(data[0], style)) return false;
    truncate(0);
    return true;
  }
  if (style == PathStyle::Windows) {
    // C:name and C:\name keep the drive and its separator.
    if (data[p - 1] == ':' || (p >= 2 && data[p - 2] == ':')) {
      truncate(p);
    } else if (p >= 2 && data[p - 2] == '\\') {
      truncate(p - 2);
    } else {
      truncate(p - 1);
    }
    return true;
  }
  // POSIX: "/name" goes back to the root "/", which is kept like a drive root.
  truncate(p == 1 ? 1 : p - 1);
  return true;
}
