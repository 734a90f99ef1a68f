#include "app/registry_key.h"

#include <cstring>

namespace {

const char* RealName(const char* name) { return name == DEFAULT_VALUE ? "" : name; }

}  // namespace

RegistryKey::RegistryKey(RegistryRoot keyRoot) : root(keyRoot) {
  TextString::constructAsPath(path);
}

RegistryKey::~RegistryKey() {
  closeKey();
  path.release();
}

bool RegistryKey::openKey() {
  closeKey();
  handle = RegistryOpen(root, path.c_str(), false);
  return handle != nullptr;
}

bool RegistryKey::createKey() {
  closeKey();
  handle = RegistryOpen(root, path.c_str(), true);
  return handle != nullptr;
}

void RegistryKey::closeKey() {
  RegistryClose(handle);
  handle = nullptr;
}

bool RegistryKey::ensureOpen(bool create, bool& openedHere) {
  openedHere = false;
  if (handle) return true;
  if (!(create ? createKey() : openKey())) return false;
  openedHere = true;
  return true;
}

uint32_t RegistryKey::readString(const char* name, char* buffer, uint32_t* size) {
  uint32_t room = size ? *size : 0;
  if (buffer && room) buffer[0] = 0;
  name = name ? RealName(name) : nullptr;
  bool openedHere;
  if (!ensureOpen(false, openedHere)) {
    if (size) *size = 0;
    return 0;
  }
  uint32_t result = 1;
  if (name) {
    uint32_t type = REG_NONE;
    uint32_t got = buffer ? room : 0;
    RegistryStatus status = RegistryQuery(handle, name, &type, buffer, &got);
    result = status == RegistryStatus::Ok ? type : 0;
    // A text is handed on as a C string, so it must end inside the buffer: stored data
    // without its terminating zero gets one when there is room, and fails otherwise.
    if (result && buffer && (got == 0 || buffer[got - 1] != 0)) {
      if (got < room) {
        buffer[got] = 0;
      } else {
        result = 0;
      }
    }
    if (!result) {
      if (buffer && room) buffer[0] = 0;
      got = 0;
    }
    if (size) *size = got;
  }
  if (openedHere) closeKey();
  return result;
}

uint32_t RegistryKey::readNumber(const char* name, uint32_t* number) {
  if (!name) return 0;
  name = RealName(name);
  bool openedHere;
  if (!ensureOpen(false, openedHere)) return 0;
  unsigned char bytes[4] = {0, 0, 0, 0};
  uint32_t type = REG_NONE;
  uint32_t size = sizeof bytes;
  RegistryStatus status = RegistryQuery(handle, name, &type, bytes, &size);
  uint32_t value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                   (static_cast<uint32_t>(bytes[2]) << 16) |
                   (static_cast<uint32_t>(bytes[3]) << 24);
  if (status == RegistryStatus::Ok && type == REG_DWORD && number) *number = value;
  if (openedHere) closeKey();
  return value;
}

bool RegistryKey::writeString(const char* name, const char* text) {
  name = name ? RealName(name) : nullptr;
  bool openedHere;
  if (!ensureOpen(true, openedHere)) return false;
  bool ok = true;
  if (name || text) {
    size_t length = text ? std::strlen(text) : 0;
    uint32_t size = length ? static_cast<uint32_t>(length + 1) : 0;
    ok = length < 0xFFFFFFFFu && RegistrySet(handle, name, REG_SZ, text, size);
  }
  if (openedHere) closeKey();
  return ok;
}

bool RegistryKey::writeValues(const std::vector<RegistryValueData>& values) {
  bool openedHere;
  if (!ensureOpen(true, openedHere)) return false;
  bool ok = RegistrySetValues(handle, values.data(), values.size());
  if (openedHere) closeKey();
  return ok;
}

bool RegistryKey::writeNumber(const char* name, uint32_t number) {
  name = name ? RealName(name) : nullptr;
  bool openedHere;
  if (!ensureOpen(true, openedHere)) return false;
  unsigned char bytes[4] = {static_cast<unsigned char>(number & 0xFF),
                            static_cast<unsigned char>((number >> 8) & 0xFF),
                            static_cast<unsigned char>((number >> 16) & 0xFF),
                            static_cast<unsigned char>((number >> 24) & 0xFF)};
  bool ok = RegistrySet(handle, name, REG_DWORD, bytes, sizeof bytes);
  if (openedHere) closeKey();
  return ok;
}
