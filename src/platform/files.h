// Files: the stand-in for the file calls of the program (open, read, write, replace).
// Any thread may call these functions; each object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The steps of the file calls a test can make fail (see FailFileStep).
enum class FileStep { Read, Write, Flush, Rename };

// Test seam: the nth step of that kind from now on (1: the next one) fails with error, once.
// nth 0 disarms it. Any thread; the count is shared by the whole process.
void FailFileStep(FileStep step, int nth, int error);
void ClearFileStepFailures();
// Test seam: observer (null for none) is called before every step, on the thread taking it.
// Set it while no file calls are under way.
void SetFileStepObserver(void (*observer)(FileStep));
// For the platform layer's own calls: 0 when the step may go ahead, otherwise the error it
// fails with (errno is set to it too).
int InjectedFileFailure(FileStep step);

// Why an InputFile could not be opened.
enum class OpenFailure { None, Missing, NotRegular, Locked, Other };

// A file opened for reading as an existing regular file, with no sharing: while it is open
// another InputFile or AtomicFileWriter of this program on the same path fails to open it.
// The open never waits: a pipe or a device is refused, not read (a pipe without a writer
// would block the open, and a device can give bytes without end).
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool open(const char* path);  // false: missing, unreadable, not a regular file or locked
  // Reads up to size bytes; returns the count, 0 at the end, -1 on a read error (error()).
  long read(void* buffer, size_t size);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  OpenFailure openFailure() const { return openFailure_; }
  int error() const { return error_; }    // errno of the latest failed open or read
  int64_t size() const { return size_; }  // the file's size when it was opened

 private:
  int fd_ = -1;
  OpenFailure openFailure_ = OpenFailure::None;
  int error_ = 0;
  int64_t size_ = 0;
};

// Reads a whole file into out. False when it cannot be opened or read; error, when given,
// receives the errno of the failure (0 when the file opened and a read failed with none).
bool ReadWholeFile(const char* path, std::string& out, int* error = nullptr);

// The message for an errno value, as the log shows it.
std::string FileErrorText(int error);

// How an AtomicFileWriter treats its target.
struct AtomicWriteOptions {
  // A target that is a symbolic link is written through: the file it leads to is replaced
  // (temporary file and backup beside that file) and the link stays. Otherwise the link
  // itself is replaced by the new file.
  bool throughLink = false;
  // Before the temporary file is made, this program's own temporary files of the same
  // target left by an earlier save that never ended (older than TEMP_LEFTOVER_AGE) are
  // removed.
  bool removeLeftovers = false;
};

// Temporary files are named "<target>.qf<8 hex digits>.tmp"; one older than this (seconds)
// belongs to a save that has ended without removing it.
constexpr int64_t TEMP_LEFTOVER_AGE = 600;

// Whether name is a temporary file name this program gives to targets named base.
bool IsTempNameOf(const std::string& name, const std::string& base);

// Removes the temporary files in dir whose names IsTempNameOf base (any base ending in
// baseSuffix when base is empty) that are regular files older than TEMP_LEFTOVER_AGE.
// Returns how many were removed.
int RemoveLeftoverTemps(const std::string& dir, const std::string& base,
                        const std::string& baseSuffix = {});

// Makes a new temporary file beside target, named as above, with the given mode; its path in
// temp. Returns the descriptor, or -1 (errno set).
int CreateTempBeside(const std::string& target, std::string& temp, unsigned mode);

// Writes all bytes (through the test seam); false with errno set on a failure.
bool WriteAllTo(int fd, const char* data, size_t size);
// fsync and rename through the test seam.
bool SyncFile(int fd);
bool RenameFile(const char* from, const char* to);

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

  // Starts the temporary file. Fails when the directory is not writable, the target is
  // locked by another open of this program, or an existing target is not a regular file or
  // may not be written by the user (no write permission; a file whose mode lets nobody write
  // it counts as read-only for every user, so that a file made read-only on purpose is
  // never replaced).
  bool begin(const char* targetPath, AtomicWriteOptions options = {});
  void write(const void* data, size_t size);
  void write(const char* text);  // zero-terminated
  bool failed() const { return failed_; }
  // The errno of the first failure (0 when none or unknown).
  int error() const { return error_; }
  // The file that is (or would be) replaced: the target, or the file its link leads to.
  const std::string& target() const { return target_; }
  // Flushes, syncs and renames over the target. With keepBackup, the previous target (when
  // there was one) is first kept as "<target>.bak" beside it (replacing an older backup);
  // when that cannot be done the save fails and the target stays as it was.
  // The new file keeps the old target's permission bits when there was one.
  bool commit(bool keepBackup = false);
  void abandon();

 private:
  bool fail(int error);
  bool flush();
  bool keepBackup();
  int fd_ = -1;
  int lockFd_ = -1;
  bool failed_ = false;
  int error_ = 0;
  std::string target_;
  std::string temp_;
  std::string buffer_;
};

// Deletes a file. True when it was deleted.
bool DeleteFileAt(const char* path);
bool FileExists(const char* path);
