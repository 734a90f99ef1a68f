// RegistryKey: every registry access of the program, by root and sub-key path, with the key
// opened on demand. A key object is a short-lived local of the one call that builds it and is
// never shared between threads; any thread may use its own.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/registry.h"
#include "tree/text_string.h"

// Stands for the key's unnamed default value; distinct from every real name and from no name
// (null). Compared by address, so pass this object itself.
inline constexpr char DEFAULT_VALUE[] = "";

struct RegistryKey {
  TextString path;  // sub-key path below root; build it with PathStyle::Windows
  RegistryRoot root;
  RegistryHandle* handle = nullptr;

  explicit RegistryKey(RegistryRoot keyRoot);
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens the existing key with full access; false when it is missing or may not be changed.
  bool openKey();
  // Creates the key, or opens it when it exists, with full access.
  bool createKey();
  void closeKey();

  // Reads a value into buffer (room *size bytes in, bytes stored out). Returns the value's
  // type code (REG_SZ is 1), or 0 on failure (missing key or value, buffer too small), when
  // the buffer holds the empty text. With no name, returns 1 when the key can be opened.
  // Text values are always given back zero-terminated within the buffer.
  uint32_t readString(const char* name, char* buffer, uint32_t* size);
  // Returns the value's four bytes as a number whatever its type (0 when it cannot be read);
  // stores it in *number only when the value is a REG_DWORD.
  uint32_t readNumber(const char* name, uint32_t* number);
  // Sets a REG_SZ value; an empty or absent text gives a value without data. With neither
  // name nor text nothing is written (but the key is created).
  bool writeString(const char* name, const char* text);
  bool writeNumber(const char* name, uint32_t number);
  // Sets several values at once (see RegistrySetValues), creating the key.
  bool writeValues(const std::vector<RegistryValueData>& values);

 private:
  bool ensureOpen(bool create, bool& openedHere);
};
