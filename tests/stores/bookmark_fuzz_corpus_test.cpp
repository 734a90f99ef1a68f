// Replays the bookmark reader's fuzz corpus in ordinary test runs: every input is read,
// written and read again without a crash (the sanitizer build checks memory), and the seed
// files (*.html, well formed, unlike inputs the fuzzer found) read back to the bytes they
// were written as.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/settings.h"
#include "platform/files.h"
#include "stores/bookmark_reader.h"
#include "stores/bookmark_writer.h"

namespace {

std::string ReadAndWrite(const std::string& input, int32_t* links) {
  NodeList tree;
  int32_t count = 0;
  ReadBookmarkText(input.data(), input.size(), tree, count);
  std::string written;
  FormatBookmarkFile(tree, written);
  FreeTree(tree);
  if (links) *links = count;
  return written;
}

TEST(BookmarkFuzzCorpus, EveryInputIsReadAndWrittenAgain) {
  Settings record;
  settings = &record;
  std::string dir = std::string(QF_SOURCE_DIR) + "/fuzz/corpus/bookmark_reader";
  std::vector<std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
    }
    closedir(d);
  }
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    std::string input;
    ASSERT_TRUE(ReadWholeFile(path.c_str(), input));
    record.setDefaults();
    if (!input.empty() && (input[0] & 0x0F) == 0x0F) record.flags |= FLAG_SORT_BOOKMARKS;
    int32_t links = 0, linksAgain = 0;
    std::string first = ReadAndWrite(input, &links);
    std::string second = ReadAndWrite(first, &linksAgain);
    bool seed = path.size() > 5 && path.compare(path.size() - 5, 5, ".html") == 0;
    if (seed) {
      EXPECT_EQ(second, first);
      EXPECT_LE(linksAgain, links);  // only an address-less link becomes a folder
    }
  }
  settings = nullptr;
}

}  // namespace
