#include "app/cli_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tree/settings.h"

namespace {

bool Parse(const std::vector<std::string>& args, CliOptions& options, std::string& error) {
  return ParseCliOptions(args, options, error);
}

// The record as the options leave it, starting from the defaults.
void Apply(const std::vector<std::string>& args, Settings& record) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(Parse(args, options, error)) << error;
  ApplyCliOptions(options, record);
}

TEST(CliOptionsTest, StoresSetTheirCleanBitsAndLaterOptionsWin) {
  Settings record;
  Apply({"--bookmarks", "/tmp/b.htm", "--favorites=/tmp/fav/"}, record);
  EXPECT_STREQ(record.bookmarkFile.c_str(), "/tmp/b.htm");
  EXPECT_STREQ(record.favoritesFolder.c_str(), "/tmp/fav");
  EXPECT_EQ(record.flags & (FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES),
            FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES);

  Apply({"--no-bookmarks", "--no-favorites"}, record);
  EXPECT_EQ(record.flags & (FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES), 0u);
  EXPECT_STREQ(record.bookmarkFile.c_str(), "/tmp/b.htm");  // the location stays

  Settings relative;
  Apply({"--bookmarks", "sub/../b.htm"}, relative);
  EXPECT_EQ(std::string(relative.bookmarkFile.c_str()),
            (std::filesystem::current_path() / "b.htm").string());
}

TEST(CliOptionsTest, ChoicesReplaceTheirWholeGroup) {
  Settings record;  // both groups ask
  Apply({"--broken", "shift", "--moved", "update"}, record);
  EXPECT_EQ(record.flags & 0x1B8u, FLAG_BROKEN_SHIFT | FLAG_MOVED_UPDATE);
  Apply({"--broken=delete", "--moved=leave"}, record);
  EXPECT_EQ(record.flags & 0x1B8u, FLAG_BROKEN_DELETE);
  Apply({"--broken", "leave", "--moved", "ask"}, record);
  EXPECT_EQ(record.flags & 0x1B8u, FLAG_MOVED_ASK);
  Apply({"--broken", "ask"}, record);
  EXPECT_EQ(record.flags & 0x1B8u, FLAG_MOVED_ASK | FLAG_BROKEN_ASK);
}

TEST(CliOptionsTest, SwitchesAndNumbers) {
  Settings record;
  record.flags = 0;
  Apply(
      {"--sync", "--sort", "--forbidden", "--older-than", "12", "--timeout", "7", "--retries", "0"},
      record);
  EXPECT_EQ(record.flags,
            FLAG_SYNCHRONISE | FLAG_SORT_BOOKMARKS | FLAG_FORBIDDEN_AS_NOT_FOUND | FLAG_ONLY_OLDER);
  EXPECT_EQ(record.olderThanDays, 12u);
  EXPECT_EQ(record.timeout, 7u);
  EXPECT_EQ(record.retries, 0u);

  for (const auto& [given, kept] : std::vector<std::pair<std::string, uint32_t>>{
           {"0", 1}, {"1", 1}, {"64", 64}, {"65", 64}, {"99999999999999999999999", 64}}) {
    Apply({"--threads", given}, record);
    EXPECT_EQ(record.threadCount, kept) << given;
  }
}

TEST(CliOptionsTest, ProxyTakesAnOptionalPort) {
  Settings record;
  Apply({"--proxy", "cache.example:3128"}, record);
  EXPECT_TRUE(record.flags & FLAG_USE_PROXY);
  EXPECT_STREQ(record.proxyHost, "cache.example");
  EXPECT_EQ(record.proxyPort, 3128u);
  Apply({"--proxy", "other"}, record);
  EXPECT_STREQ(record.proxyHost, "other");
  EXPECT_EQ(record.proxyPort, 3128u);
  Apply({"--no-proxy"}, record);
  EXPECT_FALSE(record.flags & FLAG_USE_PROXY);
  EXPECT_STREQ(record.proxyHost, "other");
}

TEST(CliOptionsTest, HelpVersionAndYes) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(Parse({"--yes", "--help", "--version"}, options, error));
  EXPECT_TRUE(options.yes);
  EXPECT_TRUE(options.help);
  EXPECT_TRUE(options.version);
  EXPECT_TRUE(options.changes.empty());
  EXPECT_EQ(std::string(CliUsage()).rfind("Usage: quillfen-cli", 0), 0u);
}

TEST(CliOptionsTest, WrongArgumentsAreRefusedWithOneLine) {
  const std::vector<std::vector<std::string>> wrong = {
      {"--bogus"},
      {"-x"},
      {"stray"},
      {"--threads"},
      {"--threads", "two"},
      {"--threads", "-1"},
      {"--timeout", "4294968"},
      {"--retries", "4294967296"},
      {"--older-than", ""},
      {"--broken", "drop"},
      {"--moved", "shift"},
      {"--proxy", ":80"},
      {"--proxy", "host:0"},
      {"--proxy", "host:65536"},
      {"--proxy", "host:port"},
      {"--proxy", std::string(80, 'h')},
      {"--sync=yes"},
      {"--yes=1"},
      {"--bookmarks", ""},
      {"--favorites", "/" + std::string(600, 'd')},
      {"--report"},
      {"--report="},
  };
  for (const auto& args : wrong) {
    CliOptions options;
    std::string error;
    EXPECT_FALSE(Parse(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  CliOptions options;
  std::string error;
  EXPECT_TRUE(
      Parse({"--timeout", "4294967", "--proxy", std::string(79, 'h') + ":1"}, options, error))
      << error;
}

}  // namespace
