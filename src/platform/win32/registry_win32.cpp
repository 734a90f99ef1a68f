// The registry store on Windows: the system registry itself.
#ifdef _WIN32

#include <windows.h>

#include <new>

#include "platform/registry.h"

struct RegistryHandle {
  HKEY key;
};

namespace {

HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::CurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryRoot::ClassesRoot:
      return HKEY_CLASSES_ROOT;
  }
  return HKEY_CURRENT_USER;
}

}  // namespace

RegistryHandle* RegistryOpen(RegistryRoot root, const char* path, bool create) {
  HKEY key = nullptr;
  LONG rc;
  if (create) {
    DWORD disposition = 0;
    rc = RegCreateKeyExA(RootKey(root), path ? path : "", 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, &key, &disposition);
  } else {
    rc = RegOpenKeyExA(RootKey(root), path ? path : "", 0, KEY_ALL_ACCESS, &key);
  }
  if (rc != ERROR_SUCCESS) return nullptr;
  RegistryHandle* handle = new (std::nothrow) RegistryHandle{key};
  if (!handle) RegCloseKey(key);
  return handle;
}

void RegistryClose(RegistryHandle* handle) {
  if (!handle) return;
  RegCloseKey(handle->key);
  delete handle;
}

RegistryStatus RegistryQuery(RegistryHandle* handle, const char* name, uint32_t* type, void* data,
                             uint32_t* size) {
  if (!handle) return RegistryStatus::Failed;
  DWORD t = REG_NONE;
  DWORD room = size ? *size : 0;
  LONG rc =
      RegQueryValueExA(handle->key, name ? name : "", nullptr, &t, static_cast<BYTE*>(data), &room);
  if (type) *type = t;
  if (size) *size = room;
  if (rc == ERROR_SUCCESS) return RegistryStatus::Ok;
  if (rc == ERROR_MORE_DATA) return RegistryStatus::MoreData;
  if (rc == ERROR_FILE_NOT_FOUND) return RegistryStatus::NotFound;
  return RegistryStatus::Failed;
}

bool RegistrySet(RegistryHandle* handle, const char* name, uint32_t type, const void* data,
                 uint32_t size) {
  if (!handle) return false;
  return RegSetValueExA(handle->key, name ? name : "", 0, type, static_cast<const BYTE*>(data),
                        size) == ERROR_SUCCESS;
}

bool RegistrySetValues(RegistryHandle* handle, const RegistryValueData* values, size_t count) {
  if (!handle || (count && !values)) return false;
  bool ok = true;
  for (size_t i = 0; i < count; ++i)
    ok = RegistrySet(handle, values[i].name.c_str(), values[i].type, values[i].data.data(),
                     static_cast<uint32_t>(values[i].data.size())) &&
         ok;
  return ok;
}

#endif  // _WIN32
