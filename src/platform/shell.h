// The shell: opening an address with the desktop's handler for it, and starting a program.
// A program is always started directly with its arguments as a vector, never through a
// command interpreter, so no text of ours (an address above all) is ever parsed by one.
//
// Threads: any thread may call these functions.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Show state of a started program's window (as every caller passes it).
#ifndef SW_SHOW
constexpr int SW_SHOW = 5;
#endif

struct ShellRequest {
  enum Kind {
    OpenAddress,   // argv holds the one address, for the desktop's handler
    StartProgram,  // argv holds the program and its arguments
  };
  Kind kind;
  std::vector<std::string> argv;
  int showCommand;
};

// What carries a request out; true when it succeeded.
using ShellLauncher = std::function<bool(const ShellRequest& request)>;

// Replaces the launcher (an empty one restores the system's) and returns the one before.
// Tests use this to record what would have been started instead of starting it.
ShellLauncher SetShellLauncher(ShellLauncher launcher);

// The system's launcher. Elsewhere than on Windows an address is opened with xdg-open: true
// when xdg-open reports success, or is still busy (with the browser it started) after a
// moment; false when it is missing or fails. A program is started without waiting for it:
// true when it could be started.
bool SystemShellLaunch(const ShellRequest& request);

// Opens an address with the desktop's handler. An empty address, or one that begins with
// '-' (which the handler would take for an option), is refused.
bool ShellOpenAddress(const char* address, int showCommand);

// Starts a program (argv[0], looked up in PATH when it holds no '/') with its arguments.
bool ShellStartProgram(const std::vector<std::string>& argv, int showCommand);

#ifndef _WIN32
// Runs a program (as ShellStartProgram does) and waits for it. Returns its exit status, or
// -1 when it could not be started or did not exit normally. Not replaced by the launcher.
int RunProgramAndWait(const std::vector<std::string>& argv);
#endif
