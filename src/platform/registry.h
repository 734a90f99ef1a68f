// The registry store: a tree of keys under a few predefined roots, each key holding typed
// values. On Windows this is the system registry; elsewhere it is kept in text files in the
// registry's own export format ("REGEDIT4"), so that users can read and edit them and move
// values to and from a Windows machine:
//   HKEY_CURRENT_USER                      $XDG_CONFIG_HOME/quillfen/user.reg
//                                          (~/.config/quillfen/user.reg by default)
//   HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT  /etc/quillfen/machine.reg
//
// Key and value names are matched ignoring the case of the letters A to Z.
// Every key is opened with full access: a key whose file the caller may not change behaves
// as missing, as a machine-wide key does on Windows for a user without that right.
// Every change is written whole to a temporary file and renamed over the store under an
// exclusive lock on a lock file beside it, so that two processes changing values at the same
// time never lose each other's values. A store file that cannot be read or understood is
// treated as empty; before the first change is saved over it, it is kept beside the new file
// under another name (user.reg.damaged, user.reg.damaged.1, ...).
//
// Threads: any thread may call these functions. A handle belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Registry value types, numbered as the system registry numbers them.
#ifndef REG_SZ
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
constexpr uint32_t REG_LINK = 6;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;
#endif

enum class RegistryRoot { CurrentUser, LocalMachine, ClassesRoot };

// An open key. Opaque; made by RegistryOpen, ended by RegistryClose.
struct RegistryHandle;

// Opens the key at path (components separated by backslashes) below root with full access.
// With create, a missing key is created first (with every missing parent). Returns null when
// the key is missing (and not created), the path is invalid or the store may not be changed.
RegistryHandle* RegistryOpen(RegistryRoot root, const char* path, bool create);
void RegistryClose(RegistryHandle* handle);  // null is allowed

enum class RegistryStatus {
  Ok,
  NotFound,  // no such value (or the key has gone)
  MoreData,  // the buffer is too small; size holds the size needed
  Failed,
};

// Reads a value; name null or "" is the key's default value. On entry *size is the room in
// data (data may be null with *size 0 to ask for the size); on return it is the value's size
// in bytes. type, data and size may each be null when not wanted (a null size means no room).
RegistryStatus RegistryQuery(RegistryHandle* handle, const char* name, uint32_t* type, void* data,
                             uint32_t* size);

// Sets a value of the given type to size bytes of data (name null or "" for the default).
bool RegistrySet(RegistryHandle* handle, const char* name, uint32_t type, const void* data,
                 uint32_t size);

// One value of a RegistrySetValues call.
struct RegistryValueData {
  std::string name;  // "" for the default value
  uint32_t type = REG_NONE;
  std::string data;
};

// Sets several values of one key together. Elsewhere than on Windows the store file is
// replaced once with all of them, so that a save ended at any moment leaves either every
// old value or every new one. On Windows they are set one by one.
bool RegistrySetValues(RegistryHandle* handle, const RegistryValueData* values, size_t count);

#ifndef _WIN32
// The store file of a root as it would be used now.
std::string RegistryFileFor(RegistryRoot root);
// Replaces the machine-wide store file (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT); null or ""
// goes back to /etc/quillfen/machine.reg. Meant for tests and for running without
// installation; call it before other threads use the registry.
void SetMachineRegistryFile(const char* path);
#endif
