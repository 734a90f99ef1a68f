// Files: the stand-in for the file calls of the program (open, read, write, replace).
// Any thread may call these functions; each object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file opened for reading as an existing file, with no sharing: while it is open another
// InputFile or AtomicFileWriter of this program on the same path fails to open it.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool open(const char* path);  // false: missing, unreadable, a directory or locked
  // Reads up to size bytes; returns the count, 0 at the end, -1 on a read error.
  long read(void* buffer, size_t size);
  void close();
  bool isOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Reads a whole file into out. False when it cannot be opened or read.
bool ReadWholeFile(const char* path, std::string& out);

// Writes a file so that the target is replaced only when everything was written: the bytes
// go into a temporary file beside the target, which is flushed and renamed over the target
// by commit(). Until then, and whenever any step fails, the old target stays as it was.
// Writes are buffered; every failure is remembered and makes commit() fail.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();  // abandons an uncommitted file
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Starts the temporary file. Fails when the directory is not writable or the target is
  // locked by another open of this program.
  bool begin(const char* targetPath);
  void write(const void* data, size_t size);
  void write(const char* text);  // zero-terminated
  bool failed() const { return failed_; }
  // Flushes, syncs and renames over the target. With backupPath, the previous target (when
  // there was one) is first kept under that name (replacing an older backup); when that
  // cannot be done the save fails and the target stays as it was.
  // The new file keeps the old target's permission bits when there was one.
  bool commit(const char* backupPath = nullptr);
  void abandon();

 private:
  bool flush();
  bool keepBackup(const char* backupPath);
  int fd_ = -1;
  int lockFd_ = -1;
  bool failed_ = false;
  std::string target_;
  std::string temp_;
  std::string buffer_;
};

// Deletes a file. True when it was deleted.
bool DeleteFileAt(const char* path);
bool FileExists(const char* path);
