#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

int OpenLocked(const char* path, int flags) {
  int fd = ::open(path, flags | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    errno = EBUSY;
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
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

// Makes the rename that replaced a file survive a crash of the machine.
void SyncDirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

InputFile::~InputFile() { close(); }

bool InputFile::open(const char* path) {
  close();
  if (!path || !*path) return false;
  int fd = OpenLocked(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

long InputFile::read(void* buffer, size_t size) {
  if (fd_ < 0) return -1;
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

void InputFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ReadWholeFile(const char* path, std::string& out) {
  out.clear();
  InputFile file;
  if (!file.open(path)) return false;
  char buffer[65536];
  for (;;) {
    long n = file.read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<size_t>(n));
  }
}

AtomicFileWriter::~AtomicFileWriter() { abandon(); }

bool AtomicFileWriter::begin(const char* targetPath) {
  abandon();
  if (!targetPath || !*targetPath) return false;
  target_ = targetPath;
  failed_ = false;
  // Hold the lock on an existing target for the whole save, so that nobody else of ours
  // opens it while it is being replaced.
  lockFd_ = ::open(targetPath, O_RDONLY | O_CLOEXEC);
  if (lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    ::close(lockFd_);
    lockFd_ = -1;
    return false;
  }
  std::random_device rd;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".qf%08x.tmp", static_cast<unsigned>(rd()));
    temp_ = target_ + suffix;
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temp_.clear();
    abandon();
    return false;
  }
  if (lockFd_ >= 0) {
    struct stat st;
    if (::fstat(lockFd_, &st) == 0) (void)::fchmod(fd_, st.st_mode & 07777);
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
    if (!WriteAll(fd_, buffer_.data(), buffer_.size())) failed_ = true;
    buffer_.clear();
  }
  return !failed_;
}

bool AtomicFileWriter::commit(const char* backupPath) {
  if (fd_ < 0) return false;
  bool ok = flush() && ::fsync(fd_) == 0;
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (ok && backupPath && *backupPath && lockFd_ >= 0) ok = keepBackup(backupPath);
  if (ok) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (ok) SyncDirectoryOf(target_);
  if (!ok) {
    failed_ = true;
    ::unlink(temp_.c_str());
  }
  temp_.clear();
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
  return ok;
}

// Keeps the target's present content under backupPath, replacing an older backup only once
// the new one is complete. A hard link costs nothing; where the file system has none, the
// bytes are copied from the open target.
bool AtomicFileWriter::keepBackup(const char* backupPath) {
  std::string fresh = std::string(backupPath) + ".qfnew";
  ::unlink(fresh.c_str());
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
      copied = WriteAll(out, buffer, static_cast<size_t>(n));
    }
    copied = ::fsync(out) == 0 && copied;
    copied = ::close(out) == 0 && copied;
    if (!copied) {
      ::unlink(fresh.c_str());
      return false;
    }
  }
  if (::rename(fresh.c_str(), backupPath) != 0) {
    ::unlink(fresh.c_str());
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
