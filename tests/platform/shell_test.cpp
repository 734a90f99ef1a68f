#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/qf-shell-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made ? made : "/tmp/qf-shell-failed";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Shell, ProgramsRunWithoutAShellAndReportTheirExitStatus) {
  EXPECT_EQ(RunProgramAndWait({"true"}), 0);
  EXPECT_EQ(RunProgramAndWait({"false"}), 1);
  EXPECT_EQ(RunProgramAndWait({"no-such-program-for-quillfen"}), -1);
  EXPECT_EQ(RunProgramAndWait({}), -1);
}

TEST(Shell, ArgumentsArriveAsTheyAre) {
  TempDir dir;
  // Every character a command interpreter would act on stays part of the one argument.
  std::string name = dir.path() + "/a b;touch injected|$(x)&'\"*`y`";
  EXPECT_EQ(RunProgramAndWait({"touch", name}), 0);
  EXPECT_TRUE(std::filesystem::exists(name));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST(Shell, StartedProgramRunsOnItsOwn) {
  TempDir dir;
  std::string file = dir.path() + "/started";
  ASSERT_TRUE(SystemShellLaunch({ShellRequest::StartProgram, {"touch", file}, SW_SHOW}));
  EXPECT_TRUE(WaitForFile(file));
  EXPECT_FALSE(SystemShellLaunch({ShellRequest::StartProgram, {"no-such-program"}, SW_SHOW}));
}

// A stand-in for the desktop's opener, found first in PATH, so no real browser starts.
class FakeOpener : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    ::setenv("PATH", (dir_.path() + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override { ::setenv("PATH", oldPath_.c_str(), 1); }
  void install(int exitStatus) {
    std::string script = dir_.path() + "/xdg-open";
    std::ofstream out(script);
    out << "#!/bin/sh\nprintf '%s' \"$1\" > '" << dir_.path() << "/opened'\nexit " << exitStatus
        << "\n";
    out.close();
    ::chmod(script.c_str(), 0755);
  }
  TempDir dir_;
  std::string oldPath_;
};

TEST_F(FakeOpener, OpeningAnAddressSucceedsWhenTheOpenerDoes) {
  install(0);
  EXPECT_TRUE(SystemShellLaunch({ShellRequest::OpenAddress, {"http://a.example/x y"}, SW_SHOW}));
  EXPECT_EQ(ReadAll(dir_.path() + "/opened"), "http://a.example/x y");
}

TEST_F(FakeOpener, OpeningFailsWhenTheOpenerFailsOrIsMissing) {
  install(3);
  EXPECT_FALSE(SystemShellLaunch({ShellRequest::OpenAddress, {"http://a.example/"}, SW_SHOW}));
  ::setenv("PATH", dir_.path().c_str(), 1);
  std::filesystem::remove(dir_.path() + "/xdg-open");
  EXPECT_FALSE(SystemShellLaunch({ShellRequest::OpenAddress, {"http://a.example/"}, SW_SHOW}));
}

TEST(Shell, TheLauncherCanBeReplaced) {
  std::vector<ShellRequest> seen;
  ShellLauncher before = SetShellLauncher([&](const ShellRequest& r) {
    seen.push_back(r);
    return r.kind == ShellRequest::StartProgram;
  });
  EXPECT_FALSE(ShellOpenAddress("http://a.example/", SW_SHOW));
  EXPECT_TRUE(ShellStartProgram({"browser", "--x"}, SW_SHOW));
  EXPECT_FALSE(ShellOpenAddress("--help", SW_SHOW)) << "never handed on as an option";
  EXPECT_FALSE(ShellOpenAddress("", SW_SHOW));
  EXPECT_FALSE(ShellStartProgram({}, SW_SHOW));
  SetShellLauncher(before);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, ShellRequest::OpenAddress);
  EXPECT_EQ(seen[0].argv, std::vector<std::string>{"http://a.example/"});
  EXPECT_EQ(seen[0].showCommand, SW_SHOW);
  EXPECT_EQ(seen[1].kind, ShellRequest::StartProgram);
  EXPECT_EQ(seen[1].argv, (std::vector<std::string>{"browser", "--x"}));
}

}  // namespace
