// The registry store kept in .reg text files (every system but Windows).
#ifndef _WIN32

#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

struct RegistryHandle {
  std::string file;
  std::string keyName;  // full name, root included: HKEY_CURRENT_USER\Software\...
  bool userFile = false;
};

namespace {

constexpr off_t kMaxStoreSize = 64L << 20;
const char kHeader4[] = "REGEDIT4";
const char kHeader5[] = "Windows Registry Editor Version 5.00";

struct Value {
  std::string name;  // "" is the default value
  uint32_t type = REG_NONE;
  std::string data;
  bool removed = false;
};

struct Key {
  std::string name;
  std::vector<Value> values;
  std::unordered_map<std::string, size_t> valueIndex;  // folded name -> position
  bool removed = false;
};

// Keys in file order; the index finds a key, and the keys below it, without a scan, so that
// even a store file of a whole exported registry loads in linear time.
struct Store {
  std::vector<Key> keys;
  std::map<std::string, size_t> index;  // folded full name -> position
};

enum class LoadResult { Missing, Loaded, Damaged };

std::mutex gMachineFileLock;
std::string gMachineFile;

// Key and value names are matched ignoring the case of the letters A to Z.
std::string Fold(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

Key* FindKey(Store& store, const std::string& name) {
  auto it = store.index.find(Fold(name));
  return it == store.index.end() ? nullptr : &store.keys[it->second];
}

// A key exists when it has a section of its own or a key below it has one.
bool KeyExists(const Store& store, const std::string& name) {
  std::string folded = Fold(name);
  if (store.index.count(folded)) return true;
  std::string below = folded + '\\';
  auto it = store.index.lower_bound(below);
  return it != store.index.end() && it->first.compare(0, below.size(), below) == 0;
}

Key& FindOrAddKey(Store& store, const std::string& name) {
  if (Key* key = FindKey(store, name)) return *key;
  store.index[Fold(name)] = store.keys.size();
  store.keys.push_back(Key{name, {}, {}, false});
  return store.keys.back();
}

// Removes a key with every key below it.
void RemoveKeys(Store& store, const std::string& name) {
  std::string folded = Fold(name);
  auto exact = store.index.find(folded);
  if (exact != store.index.end()) {
    store.keys[exact->second].removed = true;
    store.index.erase(exact);
  }
  // Every name below starts with the name and a backslash, and sorts before the name and
  // the character after the backslash, ']'.
  auto first = store.index.lower_bound(folded + '\\');
  auto last = store.index.lower_bound(folded + ']');
  for (auto it = first; it != last; ++it) store.keys[it->second].removed = true;
  store.index.erase(first, last);
}

Value* FindValue(Key& key, const std::string& name) {
  auto it = key.valueIndex.find(Fold(name));
  if (it == key.valueIndex.end() || key.values[it->second].removed) return nullptr;
  return &key.values[it->second];
}

void SetValue(Key& key, Value value) {
  auto it = key.valueIndex.find(Fold(value.name));
  if (it != key.valueIndex.end()) {
    Value& existing = key.values[it->second];
    existing.type = value.type;
    existing.data = std::move(value.data);
    existing.removed = false;
    return;
  }
  key.valueIndex[Fold(value.name)] = key.values.size();
  key.values.push_back(std::move(value));
}

void RemoveValue(Key& key, const std::string& name) {
  if (Value* value = FindValue(key, name)) value->removed = true;
}

const char* RootName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::CurrentUser:
      return "HKEY_CURRENT_USER";
    case RegistryRoot::LocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::ClassesRoot:
      return "HKEY_CLASSES_ROOT";
  }
  return "HKEY_CURRENT_USER";
}

// A section name with its root spelled out, or "" when the root is not a registry root.
std::string CanonicalKeyName(const std::string& name) {
  static const char* const kRoots[][2] = {
      {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER"},
      {"HKCU", "HKEY_CURRENT_USER"},
      {"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE"},
      {"HKLM", "HKEY_LOCAL_MACHINE"},
      {"HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT"},
      {"HKCR", "HKEY_CLASSES_ROOT"},
      {"HKEY_USERS", "HKEY_USERS"},
      {"HKU", "HKEY_USERS"},
      {"HKEY_CURRENT_CONFIG", "HKEY_CURRENT_CONFIG"},
      {"HKCC", "HKEY_CURRENT_CONFIG"},
  };
  size_t end = name.find('\\');
  std::string root = name.substr(0, end);
  for (const auto& pair : kRoots) {
    if (CompareAsciiNoCase(root.c_str(), pair[0]) == 0) {
      std::string rest = end == std::string::npos ? std::string() : name.substr(end);
      while (!rest.empty() && rest.back() == '\\') rest.pop_back();
      return pair[1] + rest;
    }
  }
  return std::string();
}

// --- Reading ---------------------------------------------------------------------------

// UTF-16LE (as files and string values of the newer export format hold it) to UTF-8.
bool Utf16ToUtf8(const unsigned char* p, size_t size, std::string& out) {
  if (size % 2) return false;
  out.clear();
  for (size_t i = 0; i < size; i += 2) {
    uint32_t u = p[i] | (p[i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < size) {
      uint32_t low = p[i + 2] | (p[i + 3] << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return true;
}

std::string TrimRight(const std::string& s) {
  size_t end = s.size();
  while (end > 0 && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r')) --end;
  return s.substr(0, end);
}

size_t SkipBlanks(const std::string& s, size_t pos) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  return pos;
}

// Reads a quoted text starting at the opening quote; pos ends after the closing quote.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  out.clear();
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"')) {
      c = line[++pos];
    }
    out += c;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(const std::string& text, std::string& out) {
  out.clear();
  size_t pos = SkipBlanks(text, 0);
  if (pos == text.size()) return true;
  for (;;) {
    pos = SkipBlanks(text, pos);
    int hi = pos < text.size() ? HexDigit(text[pos]) : -1;
    int lo = pos + 1 < text.size() ? HexDigit(text[pos + 1]) : -1;
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    pos = SkipBlanks(text, pos + 2);
    if (pos == text.size()) return true;
    if (text[pos] != ',') return false;
    ++pos;
    if (SkipBlanks(text, pos) == text.size()) return true;  // a trailing comma
  }
}

bool IsStringType(uint32_t type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

bool ParseStore(const std::string& raw, Store& store) {
  store.keys.clear();
  store.index.clear();
  std::string text;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
      static_cast<unsigned char>(raw[1]) == 0xFE) {
    if (!Utf16ToUtf8(reinterpret_cast<const unsigned char*>(raw.data()) + 2, raw.size() - 2, text))
      return false;
  } else if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = raw.substr(3);
  } else {
    text = raw;
  }
  if (text.find('\0') != std::string::npos) return false;

  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(TrimRight(text.substr(start, end - start)));
    start = end + 1;
  }

  size_t i = 0;
  while (i < lines.size() && lines[i].empty()) ++i;
  if (i == lines.size()) return false;
  bool unicodeData;
  if (lines[i] == kHeader4) {
    unicodeData = false;
  } else if (lines[i] == kHeader5) {
    unicodeData = true;
  } else {
    return false;
  }

  size_t current = SIZE_MAX;  // position of the key the values belong to
  bool skipping = false;      // values after a key deletion belong to no key
  for (++i; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    size_t pos = SkipBlanks(line, 0);
    if (pos == line.size() || line[pos] == ';') continue;
    if (line[pos] == '[') {
      if (line.back() != ']') return false;
      std::string name = line.substr(pos + 1, line.size() - pos - 2);
      bool remove = !name.empty() && name[0] == '-';
      std::string canonical = CanonicalKeyName(remove ? name.substr(1) : name);
      if (canonical.empty()) return false;
      current = SIZE_MAX;
      if (remove) {
        RemoveKeys(store, canonical);
        skipping = true;
      } else {
        FindOrAddKey(store, canonical);
        current = store.index[Fold(canonical)];
        skipping = false;
      }
      continue;
    }
    std::string name;
    if (line[pos] == '@') {
      ++pos;
    } else if (!ParseQuoted(line, pos, name)) {
      return false;
    }
    pos = SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=') return false;
    pos = SkipBlanks(line, pos + 1);
    if (current == SIZE_MAX && !skipping) return false;

    Value value;
    value.name = name;
    bool remove = false;
    std::string rest = line.substr(pos);
    if (!rest.empty() && rest[0] == '"') {
      size_t p = 0;
      std::string s;
      if (!ParseQuoted(rest, p, s) || SkipBlanks(rest, p) != rest.size()) return false;
      value.type = REG_SZ;
      value.data = s;
      value.data += '\0';
    } else if (rest == "-") {
      remove = true;
    } else if (CompareAsciiNoCase(rest.substr(0, 6).c_str(), "dword:") == 0) {
      std::string digits = rest.substr(6);
      if (digits.empty() || digits.size() > 8) return false;
      uint32_t n = 0;
      for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) return false;
        n = n * 16 + static_cast<uint32_t>(d);
      }
      value.type = REG_DWORD;
      for (int b = 0; b < 4; ++b) value.data += static_cast<char>((n >> (8 * b)) & 0xFF);
    } else if (CompareAsciiNoCase(rest.substr(0, 3).c_str(), "hex") == 0) {
      size_t p = 3;
      uint32_t type = REG_BINARY;
      if (p < rest.size() && rest[p] == '(') {
        size_t close = rest.find(')', p);
        if (close == std::string::npos || close == p + 1 || close - p - 1 > 8) return false;
        type = 0;
        for (size_t k = p + 1; k < close; ++k) {
          int d = HexDigit(rest[k]);
          if (d < 0) return false;
          type = type * 16 + static_cast<uint32_t>(d);
        }
        p = close + 1;
      }
      if (p >= rest.size() || rest[p] != ':') return false;
      std::string hex = rest.substr(p + 1);
      while (!hex.empty() && hex.back() == '\\') {
        hex.pop_back();
        if (++i >= lines.size()) return false;
        hex += lines[i];
      }
      std::string bytes;
      if (!ParseHexBytes(hex, bytes)) return false;
      if (unicodeData && IsStringType(type)) {
        std::string utf8;
        if (!Utf16ToUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), utf8))
          return false;
        bytes = utf8;
      }
      value.type = type;
      value.data = bytes;
    } else {
      return false;
    }
    if (skipping) continue;
    if (remove) {
      RemoveValue(store.keys[current], value.name);
    } else {
      SetValue(store.keys[current], std::move(value));
    }
  }
  return true;
}

LoadResult LoadStore(const std::string& file, Store& store) {
  store.keys.clear();
  store.index.clear();
  struct stat st;
  if (::stat(file.c_str(), &st) != 0)
    return errno == ENOENT ? LoadResult::Missing : LoadResult::Damaged;
  // Without blocking, so that a pipe put in the store's place cannot hang us.
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? LoadResult::Missing : LoadResult::Damaged;
  std::string raw;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxStoreSize;
  char buffer[16384];
  while (ok) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    raw.append(buffer, static_cast<size_t>(n));
    if (raw.size() > static_cast<size_t>(kMaxStoreSize)) ok = false;
  }
  ::close(fd);
  if (!ok || !ParseStore(raw, store)) {
    store.keys.clear();
    store.index.clear();
    return LoadResult::Damaged;
  }
  return LoadResult::Loaded;
}

// --- Writing ---------------------------------------------------------------------------

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

bool FitsQuotedString(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t k = 0; k + 1 < data.size(); ++k) {
    char c = data[k];
    if (c == '\0' || c == '\r' || c == '\n') return false;
  }
  return true;
}

void AppendHex(std::string& out, const std::string& data, size_t lineStart) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t k = 0; k < data.size(); ++k) {
    unsigned char b = static_cast<unsigned char>(data[k]);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    if (k + 1 < data.size()) {
      out += ',';
      if (out.size() - lineStart > 76) {
        out += "\\\n  ";
        lineStart = out.size() - 2;
      }
    }
  }
}

std::string SerialiseStore(const Store& store) {
  std::string out = kHeader4;
  out += "\n\n";
  for (const Key& key : store.keys) {
    if (key.removed) continue;
    out += '[' + key.name + "]\n";
    for (const Value& value : key.values) {
      if (value.removed) continue;
      size_t lineStart = out.size();
      out += value.name.empty() ? std::string("@") : Quoted(value.name);
      out += '=';
      if (value.type == REG_SZ && FitsQuotedString(value.data)) {
        out += Quoted(value.data.substr(0, value.data.size() - 1));
      } else if (value.type == REG_DWORD && value.data.size() == 4) {
        uint32_t n = 0;
        for (int b = 3; b >= 0; --b) n = (n << 8) | static_cast<unsigned char>(value.data[b]);
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", n);
        out += digits;
      } else {
        if (value.type == REG_BINARY) {
          out += "hex:";
        } else {
          char prefix[24];
          std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
          out += prefix;
        }
        AppendHex(out, value.data, lineStart);
      }
      out += '\n';
    }
    out += '\n';
  }
  return out;
}

std::string DirectoryOf(const std::string& file) {
  size_t slash = file.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return file.substr(0, slash);
}

std::string BaseNameOf(const std::string& file) {
  size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? file : file.substr(slash + 1);
}

// The superuser may write anything, but a store file or folder without any write permission
// is meant to stay as it is, so it counts as not changeable for everyone.
bool MayWrite(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

// The nearest existing folder on the way up must let us create what is missing.
bool MayCreateIn(std::string dir) {
  for (;;) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
      return S_ISDIR(st.st_mode) && MayWrite(dir) && ::access(dir.c_str(), X_OK) == 0;
    }
    if (errno != ENOENT || dir == "/" || dir == ".") return false;
    dir = DirectoryOf(dir);
  }
}

bool MayChangeStore(const std::string& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) == 0 && !MayWrite(file)) return false;
  return MayCreateIn(DirectoryOf(file));
}

bool MakeDirectories(const std::string& dir, mode_t mode) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (dir == "/" || dir == ".") return false;
  if (!MakeDirectories(DirectoryOf(dir), mode)) return false;
  return ::mkdir(dir.c_str(), mode) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& text) { return WriteAllTo(fd, text.data(), text.size()); }

// Keeps a store file that could not be understood under a name of its own, so that the
// save that follows does not destroy what the user may still want back.
bool KeepAside(const std::string& file) {
  for (int n = 0; n < 1000; ++n) {
    std::string aside = file + ".damaged";
    if (n > 0) {
      // Formatted into a buffer: GCC 12 at -O3 takes "." + std::to_string(n) for an
      // overlapping copy (a false -Wrestrict).
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".%d", n);
      aside += suffix;
    }
    if (::link(file.c_str(), aside.c_str()) == 0) return true;
    if (errno == EEXIST) continue;
    if (errno == ENOENT) return true;  // nothing left to keep
    // Hard links are not available here: move it instead (we hold the store's lock).
    struct stat st;
    if (::lstat(aside.c_str(), &st) == 0) continue;
    return ::rename(file.c_str(), aside.c_str()) == 0;
  }
  return false;
}

class StoreLock {
 public:
  explicit StoreLock(const std::string& file, mode_t mode) {
    std::string lockPath = file + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Reads the store afresh under its lock, applies the change and replaces the file.
bool ChangeStore(const std::string& storeFile, bool userFile,
                 const std::function<bool(Store&)>& change) {
  // A store file that is a symbolic link (kept with the user's other settings elsewhere) is
  // replaced where the link points, so that the link stays.
  std::string file = storeFile;
  struct stat linkInfo;
  if (::lstat(storeFile.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    if (char* resolved = ::realpath(storeFile.c_str(), nullptr)) {
      file = resolved;
      std::free(resolved);
    }
  }
  mode_t fileMode = userFile ? 0600 : 0644;
  if (!MakeDirectories(DirectoryOf(file), userFile ? 0700 : 0755)) return false;
  StoreLock lock(file, fileMode);
  if (!lock.held()) return false;
  Store store;
  LoadResult loaded = LoadStore(file, store);
  if (!change(store)) return false;
  std::string text = SerialiseStore(store);

  // Under the store's lock no other save of ours runs: a temporary file of this store old
  // enough is one a killed save left behind.
  RemoveLeftoverTemps(DirectoryOf(file), BaseNameOf(file));
  std::string temp;
  int fd = CreateTempBeside(file, temp, 0600);
  if (fd < 0) return false;
  struct stat st;
  if (loaded == LoadResult::Loaded && ::stat(file.c_str(), &st) == 0) fileMode = st.st_mode & 07777;
  bool ok = ::fchmod(fd, fileMode) == 0;
  ok = ok && WriteAll(fd, text) && SyncFile(fd);
  ok = (::close(fd) == 0) && ok;
  if (ok && loaded == LoadResult::Damaged) ok = KeepAside(file);
  if (ok) ok = RenameFile(temp.c_str(), file.c_str());
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  int dirFd = ::open(DirectoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

// Turns a sub-key path into a full key name; false for paths the registry refuses.
bool FullKeyName(RegistryRoot root, const char* path, std::string& out) {
  std::string p = path ? path : "";
  if (!p.empty() && p[0] == '\\') return false;
  while (!p.empty() && p.back() == '\\') p.pop_back();
  if (p.find("\\\\") != std::string::npos) return false;
  if (p.find_first_of("\r\n") != std::string::npos) return false;
  out = RootName(root);
  if (!p.empty()) out += '\\' + p;
  return true;
}

bool IsUserRoot(RegistryRoot root) { return root == RegistryRoot::CurrentUser; }

}  // namespace

std::string RegistryFileFor(RegistryRoot root) {
  if (!IsUserRoot(root)) {
    std::lock_guard<std::mutex> guard(gMachineFileLock);
    return gMachineFile.empty() ? std::string("/etc/quillfen/machine.reg") : gMachineFile;
  }
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string homeDir = home && *home ? home : "";
    if (homeDir.empty()) {
      struct passwd pw;
      struct passwd* found = nullptr;
      char buffer[4096];
      if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found &&
          found->pw_dir)
        homeDir = found->pw_dir;
    }
    base = homeDir + "/.config";
  }
  return base + "/quillfen/user.reg";
}

void SetMachineRegistryFile(const char* path) {
  std::lock_guard<std::mutex> guard(gMachineFileLock);
  gMachineFile = path ? path : "";
}

RegistryHandle* RegistryOpen(RegistryRoot root, const char* path, bool create) {
  std::string keyName;
  if (!FullKeyName(root, path, keyName)) return nullptr;
  std::string file = RegistryFileFor(root);
  if (!MayChangeStore(file)) return nullptr;
  Store store;
  LoadStore(file, store);
  bool isRoot = keyName.find('\\') == std::string::npos;
  if (!isRoot && !KeyExists(store, keyName)) {
    if (!create) return nullptr;
    bool ok = ChangeStore(file, IsUserRoot(root), [&](Store& s) {
      if (!KeyExists(s, keyName)) FindOrAddKey(s, keyName);
      return true;
    });
    if (!ok) return nullptr;
  }
  RegistryHandle* handle = new (std::nothrow) RegistryHandle;
  if (!handle) return nullptr;
  handle->file = file;
  handle->keyName = keyName;
  handle->userFile = IsUserRoot(root);
  return handle;
}

void RegistryClose(RegistryHandle* handle) { delete handle; }

RegistryStatus RegistryQuery(RegistryHandle* handle, const char* name, uint32_t* type, void* data,
                             uint32_t* size) {
  if (!handle) return RegistryStatus::Failed;
  Store store;
  LoadStore(handle->file, store);
  Key* key = FindKey(store, handle->keyName);
  Value* value = key ? FindValue(*key, name ? name : "") : nullptr;
  if (!value) return RegistryStatus::NotFound;
  uint32_t room = size ? *size : 0;
  uint32_t needed = static_cast<uint32_t>(value->data.size());
  if (type) *type = value->type;
  if (size) *size = needed;
  if (data) {
    if (needed > room) return RegistryStatus::MoreData;
    if (needed) std::memcpy(data, value->data.data(), needed);
  }
  return RegistryStatus::Ok;
}

bool RegistrySetValues(RegistryHandle* handle, const RegistryValueData* values, size_t count) {
  if (!handle || (count && !values)) return false;
  for (size_t i = 0; i < count; ++i)
    if (values[i].name.find_first_of("\r\n") != std::string::npos) return false;
  return ChangeStore(handle->file, handle->userFile, [&](Store& s) {
    Key& key = FindOrAddKey(s, handle->keyName);
    for (size_t i = 0; i < count; ++i)
      SetValue(key, Value{values[i].name, values[i].type, values[i].data, false});
    return true;
  });
}

bool RegistrySet(RegistryHandle* handle, const char* name, uint32_t type, const void* data,
                 uint32_t size) {
  if (!handle || (size && !data)) return false;
  std::string valueName = name ? name : "";
  if (valueName.find_first_of("\r\n") != std::string::npos) return false;
  std::string bytes(static_cast<const char*>(data ? data : ""), size);
  return ChangeStore(handle->file, handle->userFile, [&](Store& s) {
    SetValue(FindOrAddKey(s, handle->keyName), Value{valueName, type, bytes, false});
    return true;
  });
}

#endif  // !_WIN32
