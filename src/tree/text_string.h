// TextString: the owned, exactly sized, zero-terminated 8-bit text of the program, with the
// path operations used while walking folders. A string belongs to one thread at a time.
#pragma once

#include <cstdint>

constexpr int32_t PATH_CAPACITY = 512;
constexpr int32_t TEXT_NONE = -1;  // "no position" from the find operations

// Which separators and drive rules a path operation follows. Files use the native style;
// registry paths always use the Windows style (backslash, drive letter with colon).
enum class PathStyle { Native, Windows };

#ifdef _WIN32
constexpr PathStyle NATIVE_PATH_STYLE = PathStyle::Windows;
#else
constexpr PathStyle NATIVE_PATH_STYLE = PathStyle::Native;
#endif

struct TextString {
  char* data = nullptr;
  int32_t length = 0;
  int32_t capacity = 0;
  bool owned = false;

  TextString() = default;
  explicit TextString(int32_t reserveCapacity) { reserve(reserveCapacity); }
  ~TextString() { release(); }
  TextString(const TextString&) = delete;
  TextString& operator=(const TextString&) = delete;

  // Constructs an empty path string with room for PATH_CAPACITY characters.
  static void constructAsPath(TextString& s) { s.reserve(PATH_CAPACITY); }

  char* reserve(int32_t n);
  void release();

  char* assign(const char* text);
  char* assign(const char* text, int32_t count);  // count bytes, which may hold no zero
  char* assign(const TextString& other) { return assign(other.data); }
  char* append(const char* text);
  void clearText();

  const char* c_str() const { return data ? data : ""; }
  bool isEmpty() const { return length == 0; }

  bool equalsNoCase(const char* text) const;
  // Addresses: locale-aware, letter case ignored; a double quote equals %22.
  int compareNoCase(const TextString& other) const;
  int32_t findChar(char ch) const;
  int32_t findLastChar(char ch) const;

  // Path operations. Native style on POSIX: separator '/', no drives, and a leading '/'
  // is the root (kept like a drive root). Windows style: backslash and drive letters.
  char* assignPath(const char* text, PathStyle style = NATIVE_PATH_STYLE);
  void normalise(PathStyle style = NATIVE_PATH_STYLE);
  char* appendComponent(const char* part, PathStyle style = NATIVE_PATH_STYLE);
  int32_t fileNamePart(PathStyle style = NATIVE_PATH_STYLE) const;  // TEXT_NONE when empty
  int32_t extension(PathStyle style = NATIVE_PATH_STYLE) const;     // TEXT_NONE when none
  bool removeLastComponent(PathStyle style = NATIVE_PATH_STYLE);

 private:
  void truncate(int32_t newLength);
};
