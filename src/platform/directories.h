// Directories: the stand-in for the directory listing, creation and current-directory calls,
// and for setting a file's times. Any thread may call these functions; a DirectoryListing
// belongs to one thread at a time. The current directory belongs to the whole process.
#pragma once

#include <cstdint>
#include <string>

// One listed item.
struct DirectoryItem {
  std::string name;
  bool isDirectory = false;    // a link to a directory counts as one
  bool isRegularFile = false;  // likewise a link to a regular file; never a pipe or device
  // Seconds since 1970-01-01 00:00 UTC: the earlier of the birth time (where the file system
  // keeps one) and the modification time, so that a time set with SetFileTimes reads back.
  int64_t creationTime = 0;
  // Identity of the item (device and inode), so that a walk can notice a directory it is
  // already inside (a link back to an ancestor).
  uint64_t device = 0;
  uint64_t inode = 0;
};

// Lists the items of one directory, in the order the file system gives them, without "."
// and "..".
class DirectoryListing {
 public:
  DirectoryListing() = default;
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  bool open(const char* path);  // false: missing, not a directory or unreadable
  // The next item; false at the end or on a read error (error()). An item that vanished
  // while listing is passed over.
  bool next(DirectoryItem& item);
  void close();
  // The errno of a listing that failed part-way (a file layer Read step), 0 when none.
  int error() const { return error_; }

 private:
  void* dir_ = nullptr;
  int error_ = 0;
  std::string path_;
};

// The time SetFileTimes would read back (see DirectoryItem::creationTime); false when the
// item cannot be examined.
bool GetCreationTime(const char* path, int64_t& seconds);
// Identity of a file or directory (following links); false when it cannot be examined.
bool GetFileIdentity(const char* path, uint64_t& device, uint64_t& inode);
bool IsDirectory(const char* path);

// What a path names: the item itself (which may be a symbolic link) and what it leads to.
struct ItemInfo {
  bool isSymbolicLink = false;  // the path itself is a symbolic link
  bool exists = false;          // it leads to an item (a dangling link does not)
  bool isRegularFile = false;   // what it leads to
  bool isDirectory = false;
  uint64_t hardLinks = 0;  // names of what it leads to: more than one shares it with elsewhere
};
// False when there is nothing at path, not even a dangling link.
bool GetItemInfo(const char* path, ItemInfo& info);

// Sets the last-access and last-modification times of the item at path to that instant (the
// birth time cannot be set on Linux). A symbolic link gets its own times: what it leads to
// is never changed. False on failure.
bool SetFileTimes(const char* path, int64_t seconds);

enum class CreateDirectoryResult { Created, AlreadyExists, Failed };
// Creates one directory. An existing item of that name that is not a directory is Failed.
CreateDirectoryResult CreateDirectoryAt(const char* path);

// Replaces the file at path with content: written to a temporary file with a short name in
// the same directory, synced, then renamed over the target (keeping its permission bits), so
// that it also works for names at the file system's length limit. False, with the old file
// untouched, on any failure.
bool ReplaceFileWithShortTemp(const char* path, const std::string& content);

// The process's current directory; empty when it cannot be read.
std::string GetCurrentDirectoryPath();
bool SetCurrentDirectoryPath(const char* path);
