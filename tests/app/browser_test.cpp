#include "app/browser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry_sandbox.h"

namespace {

using Args = std::vector<std::string>;

// Records what would be started; the desktop's opener answers as told.
class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetShellLauncher([this](const ShellRequest& r) {
      requests_.push_back(r);
      return r.kind == ShellRequest::OpenAddress ? shellOpens_ : true;
    });
  }
  void TearDown() override { SetShellLauncher(previous_); }
  void registerCommand(const std::string& command) {
    std::string escaped;
    for (char c : command) {
      if (c == '\\' || c == '"') escaped += '\\';
      escaped += c;
    }
    box_.writeMachine(
        "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.htm]\n@=\"htmlfile\"\n\n"
        "[HKEY_CLASSES_ROOT\\htmlfile\\shell\\open\\command]\n@=\"" +
        escaped + "\"\n");
  }

  RegistrySandbox box_;
  ShellLauncher previous_;
  std::vector<ShellRequest> requests_;
  bool shellOpens_ = false;
};

TEST_F(BrowserTest, TheShellOpensTheAddressAndTheRegistryIsNotRead) {
  shellOpens_ = true;
  box_.writeMachine("this file would be damaged if it were read");
  EXPECT_TRUE(OpenInBrowser("http://a.example/", SW_SHOW));
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].kind, ShellRequest::OpenAddress);
  EXPECT_EQ(requests_[0].argv, Args{"http://a.example/"});
  EXPECT_EQ(requests_[0].showCommand, SW_SHOW);
  EXPECT_FALSE(std::filesystem::exists(box_.machineFile() + ".damaged"));
}

TEST_F(BrowserTest, FallbackStartsTheRegisteredCommandWithTheAddressAsOneArgument) {
  registerCommand("\"/opt/browser/bin/browser\" -osint -url \"%1\" --after");
  const char* address = "http://a.example/a b\"c\" & calc.exe";
  EXPECT_TRUE(OpenInBrowser(address, SW_SHOW));
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[1].kind, ShellRequest::StartProgram);
  EXPECT_EQ(requests_[1].argv, (Args{"/opt/browser/bin/browser", "-osint", "-url", address}));
}

TEST_F(BrowserTest, FallbackFailsWithoutARegisteredCommand) {
  EXPECT_FALSE(OpenInBrowser("http://a.example/", SW_SHOW)) << "no machine file";
  box_.writeMachine("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.htm]\n@=\"htmlfile\"\n");
  EXPECT_FALSE(OpenInBrowser("http://a.example/", SW_SHOW)) << "no open command";
  box_.writeMachine("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.htm]\n\"Content Type\"=\"text/html\"\n");
  EXPECT_FALSE(OpenInBrowser("http://a.example/", SW_SHOW)) << "no class name";
  registerCommand("/usr/bin/browser " + std::string(250, 'x'));
  EXPECT_FALSE(OpenInBrowser("http://a.example/", SW_SHOW)) << "command too long for 260";
  registerCommand("   \"%1\"");
  EXPECT_FALSE(OpenInBrowser("http://a.example/", SW_SHOW)) << "no program left";
  for (const ShellRequest& r : requests_) EXPECT_EQ(r.kind, ShellRequest::OpenAddress);
}

TEST_F(BrowserTest, AnAddressThatLooksLikeAnOptionIsRefused) {
  registerCommand("browser %1");
  EXPECT_FALSE(OpenInBrowser("--remote-debugging-port=9", SW_SHOW));
  EXPECT_FALSE(OpenInBrowser("", SW_SHOW));
  EXPECT_FALSE(OpenInBrowser(nullptr, SW_SHOW));
  EXPECT_TRUE(requests_.empty());
}

TEST(BuildBrowserCommand, CutsAtThePlaceholder) {
  Args argv;
  ASSERT_TRUE(BuildBrowserCommand("\"C:\\Program Files\\B\\b.exe\" -nohome \"%1\" -x", "u", argv));
  EXPECT_EQ(argv, (Args{"C:\\Program Files\\B\\b.exe", "-nohome", "u"}));
  ASSERT_TRUE(BuildBrowserCommand("browser %1 --new-tab", "u", argv));
  EXPECT_EQ(argv, (Args{"browser", "u"}));
  ASSERT_TRUE(BuildBrowserCommand("browser --new-window", "u v", argv));
  EXPECT_EQ(argv, (Args{"browser", "--new-window", "u v"}));
  ASSERT_TRUE(BuildBrowserCommand("browser -a %1 -b \"%1\"", "u", argv))
      << "a quoted placeholder wins over an earlier bare one";
  EXPECT_EQ(argv, (Args{"browser", "-a", "%1", "-b", "u"}));
  ASSERT_TRUE(BuildBrowserCommand("browser \"%1 x\" %1", "u", argv));
  EXPECT_EQ(argv, (Args{"browser", "u"})) << "otherwise the first bare one";
  EXPECT_FALSE(BuildBrowserCommand("%1", "u", argv));
  EXPECT_FALSE(BuildBrowserCommand("", "u", argv));
  EXPECT_TRUE(argv.empty());
}

TEST(SplitCommandLine, FollowsTheSystemRules) {
  EXPECT_EQ(SplitCommandLine("  a\tb  c "), (Args{"a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("\"a b\" c\"d e\"f"), (Args{"a b", "cd ef"}));
  EXPECT_EQ(SplitCommandLine("C:\\dir\\ \"x\\\\\" \"y\\\"z\""), (Args{"C:\\dir\\", "x\\", "y\"z"}));
  EXPECT_EQ(SplitCommandLine("\"\" \"a\"\"b\""), (Args{"", "a\"b"}));
  EXPECT_EQ(SplitCommandLine("\"unterminated arg"), (Args{"unterminated arg"}));
  EXPECT_TRUE(SplitCommandLine("").empty());
  EXPECT_TRUE(SplitCommandLine(nullptr).empty());
}

}  // namespace
