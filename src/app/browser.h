// Opening a web address in the user's browser: the desktop's handler first, and when that
// fails the program registered for ".htm" files, started directly with the address as one
// argument. Keeps no state between calls: any thread may call it (the About box on the UI
// thread, the results dialog on the clean-run thread).
#pragma once

#include <string>
#include <vector>

#include "platform/shell.h"

// True when a browser was started.
bool OpenInBrowser(const char* address, int showCommand);

// The argument vector of a registered open command for an address: the command is cut where
// the address belongs (at a quoted "%1" including its opening quote, else at "%1", else at
// its end; what follows is dropped), split into arguments by the system's command-line
// rules, and the address added as one more argument, never split. False when no program is
// left to start.
bool BuildBrowserCommand(const char* command, const char* address, std::vector<std::string>& argv);

// Splits a command line into arguments as Windows programs do: blanks separate, double
// quotes group (and are removed), 2n backslashes before a quote give n and the quote groups,
// 2n+1 give n and a literal quote; other backslashes are kept.
std::vector<std::string> SplitCommandLine(const char* text);
