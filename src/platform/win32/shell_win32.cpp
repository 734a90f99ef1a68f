// The shell on Windows: ShellExecute for addresses, CreateProcess for programs (with the
// arguments quoted so that the started program's command-line parsing gives them back).
#ifdef _WIN32

#include <shellapi.h>
#include <windows.h>

#include <string>

#include "platform/shell.h"

namespace {

std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + '"';
}

}  // namespace

bool SystemShellLaunch(const ShellRequest& request) {
  if (request.argv.empty()) return false;
  if (request.kind == ShellRequest::OpenAddress) {
    HINSTANCE rc = ShellExecuteA(nullptr, "open", request.argv[0].c_str(), nullptr, nullptr,
                                 request.showCommand);
    return reinterpret_cast<INT_PTR>(rc) > 32;
  }
  std::string line;
  for (const std::string& arg : request.argv) {
    if (!line.empty()) line += ' ';
    line += QuoteArgument(arg);
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(request.showCommand);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

#endif  // _WIN32
