#include "app/browser.h"

#include <cstring>

#include "app/registry_key.h"

namespace {

constexpr uint32_t kCommandSize = 260;

// Where the address goes: the opening quote of "%1" in quotes, else "%1", else the end.
size_t PlaceholderPosition(const char* command) {
  if (const char* quoted = std::strstr(command, "\"%1\"")) return quoted - command;
  if (const char* bare = std::strstr(command, "%1")) return bare - command;
  return std::strlen(command);
}

}  // namespace

std::vector<std::string> SplitCommandLine(const char* text) {
  std::vector<std::string> args;
  const char* p = text ? text : "";
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    std::string arg;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      if (*p == '\\') {
        size_t count = 0;
        while (*p == '\\') {
          ++count;
          ++p;
        }
        if (*p == '"') {
          arg.append(count / 2, '\\');
          if (count % 2) {
            arg += '"';
            ++p;
          }
        } else {
          arg.append(count, '\\');
        }
        continue;
      }
      if (*p == '"') {
        // Inside quotes, a doubled quote stands for one literal quote.
        if (quoted && p[1] == '"') {
          arg += '"';
          p += 2;
          continue;
        }
        quoted = !quoted;
        ++p;
        continue;
      }
      arg += *p++;
    }
    args.push_back(arg);
  }
  return args;
}

bool BuildBrowserCommand(const char* command, const char* address, std::vector<std::string>& argv) {
  argv.clear();
  if (!command || !address) return false;
  std::string program(command, PlaceholderPosition(command));
  // A quote left open right before the placeholder belonged to it.
  size_t quotes = 0;
  for (char c : program) quotes += c == '"';
  if (quotes % 2 && !program.empty() && program.back() == '"') program.pop_back();
  argv = SplitCommandLine(program.c_str());
  if (argv.empty() || argv[0].empty()) {
    argv.clear();
    return false;
  }
  argv.push_back(address);
  return true;
}

bool OpenInBrowser(const char* address, int showCommand) {
  // An address is never an option of the program that receives it.
  if (!address || !*address || address[0] == '-') return false;
  if (ShellOpenAddress(address, showCommand)) return true;

  RegistryKey key(RegistryRoot::ClassesRoot);
  key.path.assignPath(".htm", PathStyle::Windows);
  char command[kCommandSize];
  uint32_t size = sizeof command;
  if (!key.readString(DEFAULT_VALUE, command, &size)) return false;
  key.path.assignPath(command, PathStyle::Windows);
  key.path.appendComponent("shell\\open\\command", PathStyle::Windows);
  size = sizeof command;
  if (!key.readString(DEFAULT_VALUE, command, &size)) return false;

  std::vector<std::string> argv;
  if (!BuildBrowserCommand(command, address, argv)) return false;
  return ShellStartProgram(argv, showCommand);
}
