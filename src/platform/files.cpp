#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

namespace {

// The test seam: per step, how many more steps go ahead before one fails (0: none fails).
std::atomic<int> failAfter[4];
std::atomic<int> failError[4];
std::atomic<void (*)(FileStep)> stepObserver{nullptr};

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes the rename that replaced a file survive a crash of the machine.
void SyncDirectoryOf(const std::string& path) {
  int fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

void FailFileStep(FileStep step, int nth, int error) {
  int i = static_cast<int>(step);
  failError[i].store(error);
  failAfter[i].store(nth < 0 ? 0 : nth);
}

void ClearFileStepFailures() {
  for (int i = 0; i < 4; ++i) failAfter[i].store(0);
}

void SetFileStepObserver(void (*observer)(FileStep)) { stepObserver.store(observer); }

int InjectedFileFailure(FileStep step) {
  if (void (*observer)(FileStep) = stepObserver.load(std::memory_order_relaxed)) observer(step);
  int i = static_cast<int>(step);
  int left = failAfter[i].load(std::memory_order_relaxed);
  while (left > 0) {
    if (failAfter[i].compare_exchange_weak(left, left - 1)) {
      if (left != 1) return 0;
      errno = failError[i].load();
      return errno;
    }
  }
  return 0;
}

std::string FileErrorText(int error) {
  if (error == 0) return "unknown error";
  char buffer[256];
  // The GNU form returns the text, which may or may not be the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return text ? text : "unknown error";
}

bool WriteAllTo(int fd, const char* data, size_t size) {
  while (size > 0) {
    if (InjectedFileFailure(FileStep::Write)) return false;
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool SyncFile(int fd) { return !InjectedFileFailure(FileStep::Flush) && ::fsync(fd) == 0; }

bool RenameFile(const char* from, const char* to) {
  return !InjectedFileFailure(FileStep::Rename) && ::rename(from, to) == 0;
}

bool IsTempNameOf(const std::string& name, const std::string& base) {
  // base + ".qf" + 8 hex + ".tmp"
  if (name.size() != base.size() + 15 || name.compare(0, base.size(), base) != 0) return false;
  const char* p = name.c_str() + base.size();
  if (std::strncmp(p, ".qf", 3) != 0 || std::strcmp(p + 11, ".tmp") != 0) return false;
  for (int i = 3; i < 11; ++i)
    if (!IsHex(p[i])) return false;
  return true;
}

int RemoveLeftoverTemps(const std::string& dir, const std::string& base,
                        const std::string& baseSuffix) {
  DIR* listing = ::opendir(dir.c_str());
  if (!listing) return 0;
  int removed = 0;
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  while (struct dirent* item = ::readdir(listing)) {
    std::string name = item->d_name;
    bool ours;
    if (!base.empty()) {
      ours = IsTempNameOf(name, base);
    } else {
      ours = name.size() >= 15 + baseSuffix.size() &&
             IsTempNameOf(name, name.substr(0, name.size() - 15)) &&
             name.compare(name.size() - 15 - baseSuffix.size(), baseSuffix.size(), baseSuffix) == 0;
    }
    if (!ours) continue;
    std::string path = dir + "/" + name;
    struct stat st;
    // Only a regular file of our name that nobody has touched for a while: a save still
    // running (here or in another copy of the program) keeps writing its own.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (now - static_cast<int64_t>(st.st_mtime) < TEMP_LEFTOVER_AGE) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(listing);
  return removed;
}

int CreateTempBeside(const std::string& target, std::string& temp, unsigned mode) {
  std::random_device rd;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".qf%08x.tmp", static_cast<unsigned>(rd()));
    temp = target + suffix;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) temp.clear();
  return fd;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const char* path) {
  close();
  openFailure_ = OpenFailure::Other;
  error_ = EINVAL;
  if (!path || !*path) return false;
  // Without blocking: the open of a pipe would otherwise wait for a writer.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    openFailure_ = errno == ENOENT || errno == ENOTDIR ? OpenFailure::Missing : OpenFailure::Other;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    openFailure_ = OpenFailure::NotRegular;
    ::close(fd);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error_ = EBUSY;
    openFailure_ = OpenFailure::Locked;
    ::close(fd);
    return false;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  size_ = static_cast<int64_t>(st.st_size);
  openFailure_ = OpenFailure::None;
  error_ = 0;
  return true;
}

long InputFile::read(void* buffer, size_t size) {
  if (fd_ < 0) return -1;
  for (;;) {
    if (int injected = InjectedFileFailure(FileStep::Read)) {
      error_ = injected;
      return -1;
    }
    ssize_t n = ::read(fd_, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error_ = errno;
    return static_cast<long>(n);
  }
}

void InputFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ReadWholeFile(const char* path, std::string& out, int* error) {
  out.clear();
  if (error) *error = 0;
  InputFile file;
  if (!file.open(path)) {
    if (error) *error = file.error();
    return false;
  }
  char buffer[65536];
  for (;;) {
    long n = file.read(buffer, sizeof buffer);
    if (n < 0) {
      if (error) *error = file.error() ? file.error() : EIO;
      out.clear();
      return false;
    }
    if (n == 0) return true;
    out.append(buffer, static_cast<size_t>(n));
  }
}

AtomicFileWriter::~AtomicFileWriter() { abandon(); }

bool AtomicFileWriter::fail(int error) {
  if (!failed_ || error_ == 0) error_ = error;
  failed_ = true;
  return false;
}

bool AtomicFileWriter::begin(const char* targetPath, AtomicWriteOptions options) {
  abandon();
  failed_ = false;
  error_ = 0;
  if (!targetPath || !*targetPath) return fail(EINVAL);
  target_ = targetPath;
  struct stat st;
  if (options.throughLink && ::lstat(targetPath, &st) == 0 && S_ISLNK(st.st_mode)) {
    // Written where the link leads; a link that leads nowhere is not followed into a new
    // file somewhere else.
    char* resolved = ::realpath(targetPath, nullptr);
    if (!resolved) return fail(errno);
    target_ = resolved;
    std::free(resolved);
  }
  bool exists = ::lstat(target_.c_str(), &st) == 0;
  if (exists && S_ISREG(st.st_mode)) {
    // A rename in a writable directory would replace a file the user may not write.
    if (::access(target_.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0) return fail(EACCES);
  } else if (exists && !S_ISLNK(st.st_mode)) {
    return fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  // Hold the lock on an existing target for the whole save, so that nobody else of ours
  // opens it while it is being replaced. A link being replaced is not opened.
  if (exists && S_ISREG(st.st_mode)) {
    lockFd_ = ::open(target_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(lockFd_);
      lockFd_ = -1;
      return fail(EBUSY);
    }
  }
  if (options.removeLeftovers) {
    std::string dir = DirectoryOf(target_), base = BaseNameOf(target_);
    RemoveLeftoverTemps(dir, base);
    RemoveLeftoverTemps(dir, base + ".bak");
  }
  fd_ = CreateTempBeside(target_, temp_, 0644);
  if (fd_ < 0) {
    int error = errno;
    abandon();
    return fail(error);
  }
  if (lockFd_ >= 0) {
    struct stat held;
    if (::fstat(lockFd_, &held) == 0) (void)::fchmod(fd_, held.st_mode & 07777);
  }
  return true;
}

void AtomicFileWriter::write(const void* data, size_t size) {
  if (fd_ < 0 || failed_) return;
  buffer_.append(static_cast<const char*>(data), size);
  if (buffer_.size() >= (1u << 16)) flush();
}

void AtomicFileWriter::write(const char* text) {
  if (text) write(text, std::strlen(text));
}

bool AtomicFileWriter::flush() {
  if (!buffer_.empty()) {
    if (!WriteAllTo(fd_, buffer_.data(), buffer_.size())) fail(errno);
    buffer_.clear();
  }
  return !failed_;
}

bool AtomicFileWriter::commit(bool keepBackupFile) {
  if (fd_ < 0) return fail(failed_ ? error_ : EBADF);
  bool ok = flush();
  if (ok && !SyncFile(fd_)) ok = fail(errno);
  if (::close(fd_) != 0 && ok) ok = fail(errno);
  fd_ = -1;
  if (ok && keepBackupFile && lockFd_ >= 0 && !keepBackup()) ok = fail(errno ? errno : EIO);
  if (ok && !RenameFile(temp_.c_str(), target_.c_str())) ok = fail(errno);
  if (ok) SyncDirectoryOf(target_);
  if (!ok) ::unlink(temp_.c_str());
  temp_.clear();
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
  return ok;
}

// Keeps the target's present content as "<target>.bak", replacing an older backup only once
// the new one is complete. A hard link costs nothing; where the file system has none, the
// bytes are copied from the open target.
bool AtomicFileWriter::keepBackup() {
  std::string backupPath = target_ + ".bak";
  std::string fresh;
  {
    // The name is reserved as a temporary file of the backup, then given to the link.
    int reserved = CreateTempBeside(backupPath, fresh, 0600);
    if (reserved < 0) return false;
    ::close(reserved);
    ::unlink(fresh.c_str());
  }
  if (::link(target_.c_str(), fresh.c_str()) != 0) {
    int out = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) return false;
    struct stat st;
    if (::fstat(lockFd_, &st) == 0) (void)::fchmod(out, st.st_mode & 07777);
    char buffer[65536];
    bool copied = ::lseek(lockFd_, 0, SEEK_SET) == 0;
    while (copied) {
      ssize_t n = ::read(lockFd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        copied = n == 0;
        break;
      }
      copied = WriteAllTo(out, buffer, static_cast<size_t>(n));
    }
    int error = errno;
    copied = SyncFile(out) && copied;
    copied = ::close(out) == 0 && copied;
    if (!copied) {
      ::unlink(fresh.c_str());
      errno = error;
      return false;
    }
  }
  if (!RenameFile(fresh.c_str(), backupPath.c_str())) {
    int error = errno;
    ::unlink(fresh.c_str());
    errno = error;
    return false;
  }
  return true;
}

void AtomicFileWriter::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  buffer_.clear();
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

bool DeleteFileAt(const char* path) { return path && ::unlink(path) == 0; }

bool FileExists(const char* path) {
  struct stat st;
  return path && ::stat(path, &st) == 0;
}
