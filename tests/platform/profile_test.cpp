#include "platform/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_dir.h"

namespace {

std::string Data(const char* name) { return std::string(QF_TEST_DATA_DIR) + "/favorites/" + name; }

std::string Url(const std::string& text) {
  std::string value;
  FindProfileString(text, "InternetShortcut", "URL", value);
  return value;
}

TEST(ProfileTest, ReadsTheAddressOfRealShortcuts) {
  struct Case {
    const char* file;
    const char* url;
  } cases[] = {
      {"assimp-website.url", "http://assimp.sourceforge.net"},
      {"chromium-edge-profile-google.url", "http://www.google.com/"},
      {"gulp-file2qr-test-file.url", "https://github.com/IT-Service-NPM/gulp-URI-QRCode"},
      {"parse-internet-shortcut-basic.url", "https://example.com/"},
      {"parse-internet-shortcut-comments-and-spacing.url", "https://example.com/path?q=1"},
      {"parse-internet-shortcut-indented-section.url", "https://example.com"},
  };
  for (const Case& c : cases) {
    std::string value;
    EXPECT_TRUE(ReadProfileString(Data(c.file).c_str(), "InternetShortcut", "URL", value))
        << c.file;
    EXPECT_EQ(value, c.url) << c.file;
  }
  std::string value = "left over";
  // A key outside any section, and a section with no key, give nothing.
  EXPECT_FALSE(ReadProfileString(Data("parse-internet-shortcut-no-section.url").c_str(),
                                 "InternetShortcut", "URL", value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(ReadProfileString(Data("parse-internet-shortcut-malformed.url").c_str(),
                                 "InternetShortcut", "URL", value));
  EXPECT_FALSE(ReadProfileString(Data("missing.url").c_str(), "InternetShortcut", "URL", value));
  EXPECT_FALSE(ReadProfileString(QF_TEST_DATA_DIR, "InternetShortcut", "URL", value));
}

TEST(ProfileTest, MatchesSectionAndKeyIgnoringCaseAndTakesTheFirst) {
  EXPECT_EQ(Url("[internetshortcut]\nurl=a\nURL=b\n[InternetShortcut]\nURL=c\n"), "a");
  EXPECT_EQ(Url("[Other]\nURL=x\n[InternetShortcut]\r\nURL=y"), "y");
  EXPECT_EQ(Url("[InternetShortcut]\rURL=cr-only\r"), "cr-only");
  EXPECT_EQ(Url("\xEF\xBB\xBF[InternetShortcut]\nURL=bom\n"), "bom");
  EXPECT_EQ(Url("[InternetShortcut]\nURL=\"quoted value\"\n"), "quoted value");
  EXPECT_EQ(Url("[InternetShortcut]\n;URL=comment\nURL=x=y\n"), "x=y");
  EXPECT_EQ(Url("[InternetShortcut\nURL=unclosed\n"), "");
  EXPECT_EQ(Url(""), "");
  std::string value;
  EXPECT_TRUE(FindProfileString("[InternetShortcut]\nURL=\n", "InternetShortcut", "URL", value));
  EXPECT_EQ(value, "");
}

TEST(ProfileTest, ReadsLongValuesWhole) {
  std::string url = "http://example.invalid/" + std::string(5000, 'a');
  EXPECT_EQ(Url("[InternetShortcut]\r\nURL=" + url + "\r\n"), url);
}

TEST(ProfileTest, RefusesHugeFiles) {
  ScratchDir dir;
  dir.write("big.url",
            "[InternetShortcut]\nURL=http://x/\n" + std::string(PROFILE_MAX_FILE_SIZE, ';'));
  std::string value;
  EXPECT_FALSE(ReadProfileString((dir / "big.url").c_str(), "InternetShortcut", "URL", value));
}

TEST(ProfileTest, SettingKeepsEveryOtherByte) {
  const std::string edge =
      "[DEFAULT]\nBASEURL=http://www.google.com/\n[{000214A0-0000-0000-C000-000000000046}]\n"
      "Prop3=19,2\n[InternetShortcut]\nIDList=\nURL=http://www.google.com/\n"
      "IconFile=http://www.google.com/favicon.ico\nIconIndex=1\nHotKey=0\n";
  EXPECT_EQ(SetProfileString(edge, "InternetShortcut", "URL", "http://www.google.com/"), edge);
  std::string changed = edge;
  changed.replace(changed.find("\nURL=") + 5, 22, "https://new.example/");
  EXPECT_EQ(SetProfileString(edge, "internetshortcut", "url", "https://new.example/"), changed);

  // Blanks around '=' and CRLF line ends stay.
  EXPECT_EQ(SetProfileString("[InternetShortcut]\r\nURL = old\r\nHotKey=0\r\n", "InternetShortcut",
                             "URL", "new"),
            "[InternetShortcut]\r\nURL = new\r\nHotKey=0\r\n");
}

TEST(ProfileTest, SettingAddsAMissingKeyOrSection) {
  EXPECT_EQ(SetProfileString("", "InternetShortcut", "URL", "http://a/"),
            "[InternetShortcut]\r\nURL=http://a/\r\n");
  EXPECT_EQ(SetProfileString("[InternetShortcut]\nIconIndex=0\n\n[Other]\nx=1\n",
                             "InternetShortcut", "URL", "u"),
            "[InternetShortcut]\nIconIndex=0\nURL=u\n\n[Other]\nx=1\n");
  EXPECT_EQ(SetProfileString("[InternetShortcut]", "InternetShortcut", "URL", "u"),
            "[InternetShortcut]\r\nURL=u\r\n");
  EXPECT_EQ(
      SetProfileString("URL=loose\nWorkingDirectory=C:\\Temp", "InternetShortcut", "URL", "u"),
      "URL=loose\nWorkingDirectory=C:\\Temp\n[InternetShortcut]\nURL=u\n");
  // A value can never add lines to the file.
  EXPECT_EQ(SetProfileString("", "InternetShortcut", "URL", "http://a/\r\n[Evil]\r\nx=1"),
            "[InternetShortcut]\r\nURL=http://a/[Evil]x=1\r\n");
}

TEST(ProfileTest, SetValuesReadBackExactlyAndSettingThemAgainChangesNothing) {
  using namespace std::string_literals;
  struct Case {
    std::string value;
    std::string readBack;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {" https://example.com/", " https://example.com/"},
      {"https://example.com/\t", "https://example.com/\t"},
      {"\"quoted\"", "\"quoted\""},
      {"'single'", "'single'"},
      {"\"half", "\"half"},
      {"http://a/\0tail"s, "http://a/"},  // a value ends at its first NUL
  };
  for (const Case& c : cases) {
    for (const std::string& start : {""s, "[InternetShortcut]\nURL=old\nIconIndex=1\n"s}) {
      std::string once = SetProfileString(start, "InternetShortcut", "URL", c.value);
      std::string value;
      ASSERT_TRUE(FindProfileString(once, "InternetShortcut", "URL", value)) << once;
      EXPECT_EQ(value, c.readBack) << once;
      EXPECT_EQ(SetProfileString(once, "InternetShortcut", "URL", c.value), once);
      EXPECT_EQ(once.find('\0'), std::string::npos);
    }
  }
  // On reading, the text of a line ends at a NUL.
  std::string value;
  ASSERT_TRUE(FindProfileString("[InternetShortcut]\r\nURL=http://a/ \0b\r\n"s, "InternetShortcut",
                                "URL", value));
  EXPECT_EQ(value, "http://a/");
}

}  // namespace
