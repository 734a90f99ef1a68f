#include "platform/directories.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files.h"

namespace {

// The earlier of birth and modification time, whole seconds rounded down.
bool CreationTimeOf(int dirFd, const char* path, int64_t& seconds) {
#ifdef STATX_BTIME
  struct statx sx;
  if (::statx(dirFd, path, 0, STATX_MTIME | STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_MTIME)) {
    int64_t t = sx.stx_mtime.tv_sec;
    if ((sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec < t) t = sx.stx_btime.tv_sec;
    seconds = t;
    return true;
  }
#endif
  struct stat st;
  if (::fstatat(dirFd, path, &st, 0) != 0) return false;
  seconds = st.st_mtim.tv_sec;
  return true;
}

}  // namespace

DirectoryListing::~DirectoryListing() { close(); }

bool DirectoryListing::open(const char* path) {
  close();
  error_ = 0;
  if (!path || !*path) return false;
  DIR* dir = ::opendir(path);
  if (!dir) return false;
  dir_ = dir;
  path_ = path;
  return true;
}

bool DirectoryListing::next(DirectoryItem& item) {
  DIR* dir = static_cast<DIR*>(dir_);
  if (!dir) return false;
  // One step of the test seam per item asked for, whatever the listing passes over.
  if (int injected = InjectedFileFailure(FileStep::Read)) {
    error_ = injected;
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (!entry) {
      error_ = errno;  // 0 at the end of the listing
      return false;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    int fd = ::dirfd(dir);
    struct stat st;
    if (::fstatat(fd, name, &st, 0) != 0) {
      // A dangling link is still an item (it is no directory); anything else vanished.
      if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    }
    item.name = name;
    item.isDirectory = S_ISDIR(st.st_mode);
    item.isRegularFile = S_ISREG(st.st_mode);
    item.device = static_cast<uint64_t>(st.st_dev);
    item.inode = static_cast<uint64_t>(st.st_ino);
    item.creationTime = st.st_mtim.tv_sec;
    int64_t seconds = 0;
    if (CreationTimeOf(fd, name, seconds)) item.creationTime = seconds;
    return true;
  }
}

void DirectoryListing::close() {
  if (dir_) ::closedir(static_cast<DIR*>(dir_));
  dir_ = nullptr;
}

bool GetCreationTime(const char* path, int64_t& seconds) {
  if (!path || !*path) return false;
  return CreationTimeOf(AT_FDCWD, path, seconds);
}

bool GetFileIdentity(const char* path, uint64_t& device, uint64_t& inode) {
  struct stat st;
  if (!path || !*path || ::stat(path, &st) != 0) return false;
  device = static_cast<uint64_t>(st.st_dev);
  inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool IsDirectory(const char* path) {
  struct stat st;
  return path && *path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool GetItemInfo(const char* path, ItemInfo& info) {
  info = ItemInfo{};
  struct stat st;
  if (!path || !*path || ::lstat(path, &st) != 0) return false;
  info.isSymbolicLink = S_ISLNK(st.st_mode);
  if (info.isSymbolicLink && ::stat(path, &st) != 0) return true;
  info.exists = true;
  info.isRegularFile = S_ISREG(st.st_mode);
  info.isDirectory = S_ISDIR(st.st_mode);
  info.hardLinks = static_cast<uint64_t>(st.st_nlink);
  return true;
}

bool SetFileTimes(const char* path, int64_t seconds) {
  if (!path || !*path) return false;
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) == 0;
}

CreateDirectoryResult CreateDirectoryAt(const char* path) {
  if (!path || !*path) return CreateDirectoryResult::Failed;
  if (::mkdir(path, 0777) == 0) return CreateDirectoryResult::Created;
  if (errno == EEXIST && IsDirectory(path)) return CreateDirectoryResult::AlreadyExists;
  return CreateDirectoryResult::Failed;
}

std::string GetCurrentDirectoryPath() {
  std::string path(PATH_MAX, '\0');
  if (!::getcwd(path.data(), path.size())) return {};
  path.resize(std::strlen(path.c_str()));
  return path;
}

bool SetCurrentDirectoryPath(const char* path) { return path && *path && ::chdir(path) == 0; }

bool ReplaceFileWithShortTemp(const char* target, const std::string& content) {
  if (!target || !*target) return false;
  std::string path = target;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  std::vector<char> temp(dir.begin(), dir.end());
  const char suffix[] = "/.qfXXXXXX";
  temp.insert(temp.end(), suffix, suffix + sizeof suffix);
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  struct stat old;
  (void)::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
  bool ok = WriteAllTo(fd, content.data(), content.size());
  ok = ok && SyncFile(fd);
  ok = (::close(fd) == 0) && ok;
  ok = ok && RenameFile(temp.data(), path.c_str());
  if (!ok) {
    ::unlink(temp.data());
    return false;
  }
  // The rename itself reaches the disk before the caller goes on (and perhaps removes the
  // file this one replaces elsewhere).
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}
