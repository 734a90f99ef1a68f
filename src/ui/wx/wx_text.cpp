#include "ui/wx/wx_text.h"

#include "platform/text.h"

wxString ToWxText(std::string_view bytes) {
  bool ascii = true;
  for (unsigned char c : bytes) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return wxString::FromAscii(bytes.data(), bytes.size());
  const std::string shown = ShownAsUtf8(bytes);
  return wxString::FromUTF8(shown.data(), shown.size());
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
