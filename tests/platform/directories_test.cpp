#include "platform/directories.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <string>

#include "support/scratch_dir.h"

namespace {

TEST(DirectoriesTest, ListsNamesKindsAndNoDotEntries) {
  ScratchDir dir;
  dir.write("a.url", "x");
  dir.write("sub/inner.txt", "y");
  std::filesystem::create_directory(dir / "empty");
  std::filesystem::create_directory_symlink(dir / "sub", dir / "linked");
  std::filesystem::create_symlink(dir / "gone", dir / "dangling.url");

  DirectoryListing listing;
  ASSERT_TRUE(listing.open(dir.path().c_str()));
  std::map<std::string, bool> seen;
  DirectoryItem item;
  while (listing.next(item)) seen[item.name] = item.isDirectory;
  EXPECT_EQ(seen, (std::map<std::string, bool>{{"a.url", false},
                                               {"dangling.url", false},
                                               {"empty", true},
                                               {"linked", true},
                                               {"sub", true}}));
  EXPECT_FALSE(listing.next(item));

  EXPECT_FALSE(listing.open((dir / "missing").c_str()));
  EXPECT_FALSE(listing.open((dir / "a.url").c_str()));
  EXPECT_FALSE(listing.open(""));
}

TEST(DirectoriesTest, ATimeSetReadsBackAsTheCreationTime) {
  ScratchDir dir;
  dir.write("a.url", "x");
  const int64_t summer = 1690000000;  // a July instant
  ASSERT_TRUE(SetFileTimes((dir / "a.url").c_str(), summer));
  int64_t read = 0;
  ASSERT_TRUE(GetCreationTime((dir / "a.url").c_str(), read));
  EXPECT_EQ(read, summer);

  DirectoryListing listing;
  ASSERT_TRUE(listing.open(dir.path().c_str()));
  DirectoryItem item;
  ASSERT_TRUE(listing.next(item));
  EXPECT_EQ(item.creationTime, summer);

  // A file made now and never changed reads as some moment of today, not as a later one.
  dir.write("new.url", "x");
  ASSERT_TRUE(GetCreationTime((dir / "new.url").c_str(), read));
  EXPECT_LE(read, static_cast<int64_t>(std::time(nullptr)));
  EXPECT_FALSE(SetFileTimes((dir / "missing").c_str(), summer));
  EXPECT_FALSE(GetCreationTime((dir / "missing").c_str(), read));
}

TEST(DirectoriesTest, CreatesDirectoriesAndTellsWhatHappened) {
  ScratchDir dir;
  EXPECT_EQ(CreateDirectoryAt((dir / "new").c_str()), CreateDirectoryResult::Created);
  EXPECT_EQ(CreateDirectoryAt((dir / "new").c_str()), CreateDirectoryResult::AlreadyExists);
  dir.write("file", "x");
  EXPECT_EQ(CreateDirectoryAt((dir / "file").c_str()), CreateDirectoryResult::Failed);
  EXPECT_EQ(CreateDirectoryAt((dir / "no/such/parent").c_str()), CreateDirectoryResult::Failed);
  EXPECT_EQ(CreateDirectoryAt(""), CreateDirectoryResult::Failed);
  EXPECT_TRUE(IsDirectory((dir / "new").c_str()));
  EXPECT_FALSE(IsDirectory((dir / "file").c_str()));
}

TEST(DirectoriesTest, CurrentDirectoryCanBeChangedAndRestored) {
  ScratchDir dir;
  std::string before = GetCurrentDirectoryPath();
  ASSERT_FALSE(before.empty());
  ASSERT_TRUE(SetCurrentDirectoryPath(dir.path().c_str()));
  EXPECT_EQ(std::filesystem::canonical(GetCurrentDirectoryPath()),
            std::filesystem::canonical(dir.path()));
  EXPECT_FALSE(SetCurrentDirectoryPath((dir / "missing").c_str()));
  ASSERT_TRUE(SetCurrentDirectoryPath(before.c_str()));
  EXPECT_EQ(GetCurrentDirectoryPath(), before);
}

TEST(DirectoriesTest, IdentityFollowsLinks) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "real");
  std::filesystem::create_directory_symlink(dir / "real", dir / "alias");
  uint64_t d1 = 0, i1 = 0, d2 = 0, i2 = 0;
  ASSERT_TRUE(GetFileIdentity((dir / "real").c_str(), d1, i1));
  ASSERT_TRUE(GetFileIdentity((dir / "alias").c_str(), d2, i2));
  EXPECT_EQ(d1, d2);
  EXPECT_EQ(i1, i2);
}

}  // namespace
