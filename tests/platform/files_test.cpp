#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/qf-filesXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/target.txt";
  }
  void TearDown() override {
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') std::remove((dir_ + "/" + e->d_name).c_str());
      }
      closedir(d);
    }
    rmdir(dir_.c_str());
  }
  void Put(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::string Get(const std::string& path) {
    std::string out;
    EXPECT_TRUE(ReadWholeFile(path.c_str(), out)) << path;
    return out;
  }
  int FileCount() {
    int n = 0;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
      closedir(d);
    }
    return n;
  }
  std::string dir_, path_;
};

TEST_F(FilesTest, InputFileReadsExistingFilesOnlyAndSharesWithNobody) {
  InputFile file;
  EXPECT_FALSE(file.open(path_.c_str()));
  EXPECT_FALSE(file.open(""));
  EXPECT_FALSE(file.open(nullptr));
  EXPECT_FALSE(file.open(dir_.c_str()));
  EXPECT_FALSE(FileExists(path_.c_str()));
  Put(path_, "hello");
  EXPECT_TRUE(FileExists(path_.c_str()));
  ASSERT_TRUE(file.open(path_.c_str()));
  InputFile second;
  EXPECT_FALSE(second.open(path_.c_str()));
  AtomicFileWriter writer;
  EXPECT_FALSE(writer.begin(path_.c_str()));
  char buffer[16];
  EXPECT_EQ(file.read(buffer, sizeof buffer), 5);
  EXPECT_EQ(file.read(buffer, sizeof buffer), 0);
  file.close();
  EXPECT_EQ(file.read(buffer, sizeof buffer), -1);
  EXPECT_TRUE(second.open(path_.c_str()));
}

TEST_F(FilesTest, ReadWholeFileReadsLargeFilesWhole) {
  std::string big(300000, 'x');
  big[123456] = 0;
  Put(path_, big);
  EXPECT_EQ(Get(path_), big);
  std::string out = "stale";
  EXPECT_FALSE(ReadWholeFile((dir_ + "/none").c_str(), out));
  EXPECT_TRUE(out.empty());
}

TEST_F(FilesTest, CommitReplacesTheTargetAndKeepsABackup) {
  AtomicFileWriter writer;
  ASSERT_TRUE(writer.begin(path_.c_str()));
  writer.write("new ");
  writer.write("file", 4);
  EXPECT_FALSE(FileExists(path_.c_str()));  // nothing shows before the commit
  EXPECT_TRUE(writer.commit(true));
  EXPECT_EQ(Get(path_), "new file");
  EXPECT_EQ(FileCount(), 1);  // no old file to back up, no temporary left

  chmod(path_.c_str(), 0600);
  ASSERT_TRUE(writer.begin(path_.c_str()));
  std::string big(200000, 'b');
  writer.write(big.data(), big.size());
  EXPECT_TRUE(writer.commit(true));
  EXPECT_EQ(Get(path_), big);
  EXPECT_EQ(Get(path_ + ".bak"), "new file");
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the old file's permissions stay

  ASSERT_TRUE(writer.begin(path_.c_str()));
  writer.write("third");
  EXPECT_TRUE(writer.commit(true));
  EXPECT_EQ(Get(path_ + ".bak"), big);  // one generation
  EXPECT_EQ(FileCount(), 2);
}

TEST_F(FilesTest, AbandonedOrFailedWritesLeaveTheTargetAsItWas) {
  Put(path_, "old");
  {
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.begin(path_.c_str()));
    writer.write("never committed");
  }
  EXPECT_EQ(Get(path_), "old");
  EXPECT_EQ(FileCount(), 1);

  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = 50000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  AtomicFileWriter writer;
  bool begun = writer.begin(path_.c_str());
  std::string chunk(70000, 'c');
  writer.write(chunk.data(), chunk.size());
  writer.write(chunk.data(), chunk.size());
  bool committed = writer.commit(true);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  EXPECT_TRUE(begun);
  EXPECT_TRUE(writer.failed());
  EXPECT_FALSE(committed);
  EXPECT_EQ(Get(path_), "old");
  EXPECT_EQ(FileCount(), 1);

  EXPECT_FALSE(writer.begin((dir_ + "/missing/x.txt").c_str()));
  EXPECT_FALSE(writer.begin(""));
  EXPECT_FALSE(writer.commit());  // nothing begun
}

// Each step of a save failing with the error a disk gives: the save reports that error,
// the target and its backup keep what they held, and no temporary file stays.
TEST_F(FilesTest, AFailingStepOfASaveKeepsTheOldFileAndTellsWhy) {
  struct Case {
    FileStep step;
    int nth;
    int error;
  };
  const Case cases[] = {
      {FileStep::Write, 1, ENOSPC},  // the first block
      {FileStep::Write, 3, EIO},     // a later block
      {FileStep::Flush, 1, EIO},     // the new file's flush
      {FileStep::Rename, 1, EROFS},  // the backup's rename
      {FileStep::Rename, 2, EXDEV},  // the rename over the target
  };
  std::string piece(30000, 'n');  // ten pieces: several blocks reach the disk
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.step)) + "/" + std::to_string(c.nth));
    Put(path_, "old");
    Put(path_ + ".bak", "older");
    AtomicFileWriter writer;
    FailFileStep(c.step, c.nth, c.error);
    ASSERT_TRUE(writer.begin(path_.c_str()));
    for (int i = 0; i < 10; ++i) writer.write(piece.data(), piece.size());
    EXPECT_FALSE(writer.commit(true));
    ClearFileStepFailures();
    EXPECT_EQ(writer.error(), c.error);
    EXPECT_EQ(Get(path_), "old");
    // The backup holds the old file or the older one, whole.
    std::string backup = Get(path_ + ".bak");
    EXPECT_TRUE(backup == "old" || backup == "older") << backup;
    EXPECT_EQ(FileCount(), 2);
  }
}

// A store file is read only when it is a regular file: a pipe or a device is refused at
// once (a blocking open of a pipe would wait for ever; the test's time limit catches that),
// and a read that fails part-way is an error, not the end of the file.
TEST_F(FilesTest, OnlyRegularFilesAreReadAndAReadErrorIsNoEnd) {
  std::string fifo = dir_ + "/pipe.htm";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), dir_}) {
    InputFile file;
    EXPECT_FALSE(file.open(path.c_str())) << path;
    EXPECT_EQ(file.openFailure(), OpenFailure::NotRegular) << path;
    std::string out;
    EXPECT_FALSE(ReadWholeFile(path.c_str(), out)) << path;
  }
  std::remove(fifo.c_str());

  Put(path_, std::string(200000, 'r'));
  FailFileStep(FileStep::Read, 2, EIO);
  std::string out = "stale";
  int error = 0;
  EXPECT_FALSE(ReadWholeFile(path_.c_str(), out, &error));
  ClearFileStepFailures();
  EXPECT_EQ(error, EIO);
  EXPECT_TRUE(out.empty());
}

// A target the user may not write is not replaced by a rename in its writable directory.
// A file whose mode lets nobody write it counts as read-only for every user (root too).
TEST_F(FilesTest, AReadOnlyTargetIsNotReplaced) {
  Put(path_, "kept");
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  AtomicFileWriter writer;
  EXPECT_FALSE(writer.begin(path_.c_str()));
  EXPECT_EQ(writer.error(), EACCES);
  EXPECT_FALSE(writer.commit(true));
  chmod(path_.c_str(), 0644);
  EXPECT_EQ(Get(path_), "kept");
  EXPECT_EQ(FileCount(), 1);
}

// Written through a symbolic link, the file it leads to is replaced and the link stays; the
// backup is a file of its own beside the target. Without the option the link itself is
// replaced, and what it led to is left alone.
TEST_F(FilesTest, ASaveThroughASymbolicLinkReplacesItsTarget) {
  ASSERT_EQ(mkdir((dir_ + "/real").c_str(), 0700), 0);
  std::string real = dir_ + "/real/bookmarks.htm";
  Put(real, "old");
  ASSERT_EQ(symlink("real/bookmarks.htm", path_.c_str()), 0);
  AtomicFileWriter writer;
  AtomicWriteOptions through;
  through.throughLink = true;
  ASSERT_TRUE(writer.begin(path_.c_str(), through));
  EXPECT_EQ(writer.target(), real);
  writer.write("new");
  ASSERT_TRUE(writer.commit(true));
  struct stat st;
  ASSERT_EQ(lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Get(path_), "new");
  ASSERT_EQ(lstat((real + ".bak").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(Get(real + ".bak"), "old");
  EXPECT_FALSE(FileExists((path_ + ".bak").c_str()));

  ASSERT_TRUE(writer.begin(path_.c_str()));
  writer.write("own");
  ASSERT_TRUE(writer.commit());
  ASSERT_EQ(lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(Get(path_), "own");
  EXPECT_EQ(Get(real), "new");
  std::remove(real.c_str());
  std::remove((real + ".bak").c_str());
  rmdir((dir_ + "/real").c_str());
}

// A save removes the temporary files that earlier saves of the same target left behind once
// they are old, and nothing else: not a fresh one (a save may be running), not another
// target's, not a name that only looks like one.
TEST_F(FilesTest, ASaveRemovesItsOwnOldLeftoversOnly) {
  struct Case {
    std::string name;
    bool old;
    bool bySave;    // removed by a save of target.txt
    bool bySuffix;  // removed by the sweep of a directory's ".url" files
  };
  const Case cases[] = {
      {"target.txt.qf0123abcd.tmp", true, true, false},
      {"target.txt.bak.qf89abcdef.tmp", true, true, false},  // a backup's
      {"target.txt.qf0123abce.tmp", false, false, false},    // fresh
      {"other.txt.qf0123abcd.tmp", true, false, false},
      {"target.txt.qf0123ABCD.tmp", true, false, false},
      {"target.txt.qf0123abc.tmp", true, false, false},
      {"target.txt.qf0123abcd.tmp.keep", true, false, false},
      {"xtarget.txt.qf0123abcd.tmp", true, false, false},
      {"Some link.url.qf00ff00ff.tmp", true, false, true},
      {"Fresh link.url.qf00ff00ff.tmp", false, false, false},
      {".url.qf00ff00ff.tmp", true, false, true},
      {"Some link.url", true, false, false},
      {"Some link.urls.qf00ff00ff.tmp", true, false, false},
  };
  for (const Case& c : cases) {
    Put(dir_ + "/" + c.name, "left");
    if (c.old) {
      struct timespec times[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, (dir_ + "/" + c.name).c_str(), times, 0), 0);
    }
  }
  AtomicFileWriter writer;
  AtomicWriteOptions options;
  options.removeLeftovers = true;
  ASSERT_TRUE(writer.begin(path_.c_str(), options));
  writer.write("x");
  ASSERT_TRUE(writer.commit());
  for (const Case& c : cases)
    EXPECT_EQ(FileExists((dir_ + "/" + c.name).c_str()), !c.bySave) << c.name;
  EXPECT_EQ(RemoveLeftoverTemps(dir_, std::string(), ".url"), 2);
  for (const Case& c : cases)
    EXPECT_EQ(FileExists((dir_ + "/" + c.name).c_str()), !c.bySave && !c.bySuffix) << c.name;
}

TEST_F(FilesTest, DeleteFileAt) {
  Put(path_, "x");
  EXPECT_TRUE(DeleteFileAt(path_.c_str()));
  EXPECT_FALSE(DeleteFileAt(path_.c_str()));
  EXPECT_FALSE(DeleteFileAt(nullptr));
}

}  // namespace
