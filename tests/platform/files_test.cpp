#include "platform/files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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
  EXPECT_TRUE(writer.commit((path_ + ".bak").c_str()));
  EXPECT_EQ(Get(path_), "new file");
  EXPECT_EQ(FileCount(), 1);  // no old file to back up, no temporary left

  chmod(path_.c_str(), 0600);
  ASSERT_TRUE(writer.begin(path_.c_str()));
  std::string big(200000, 'b');
  writer.write(big.data(), big.size());
  EXPECT_TRUE(writer.commit((path_ + ".bak").c_str()));
  EXPECT_EQ(Get(path_), big);
  EXPECT_EQ(Get(path_ + ".bak"), "new file");
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the old file's permissions stay

  ASSERT_TRUE(writer.begin(path_.c_str()));
  writer.write("third");
  EXPECT_TRUE(writer.commit((path_ + ".bak").c_str()));
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
  bool committed = writer.commit((path_ + ".bak").c_str());
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

TEST_F(FilesTest, DeleteFileAt) {
  Put(path_, "x");
  EXPECT_TRUE(DeleteFileAt(path_.c_str()));
  EXPECT_FALSE(DeleteFileAt(path_.c_str()));
  EXPECT_FALSE(DeleteFileAt(nullptr));
}

}  // namespace
