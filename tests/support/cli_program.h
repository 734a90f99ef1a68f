// The built command-line program, run as a child process by the tests that need the real
// thing (signals, exit statuses, a second run on the same files).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

// quillfen-cli next to the tests folder; empty when it was not built.
inline std::filesystem::path CliProgramPath() {
  std::filesystem::path program =
      std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "quillfen-cli";
  return std::filesystem::exists(program) ? program : std::filesystem::path();
}

// Starts program with args, its standard output and error going to the files named. env
// entries ("NAME=value") replace the environment's entries of the same name. The child's
// pid, or -1 when it could not be started.
inline pid_t StartProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                          const std::filesystem::path& out, const std::filesystem::path& err,
                          const std::vector<std::string>& env = {}) {
  std::vector<std::string> all = {program.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& own : env)
      replaced = replaced || entry.compare(0, own.find('=') + 1, own, 0, own.find('=') + 1) == 0;
    if (!replaced) environment.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  int failure = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return failure ? -1 : pid;
}

// The child's exit status; 128 + the signal that ended it; -1 when it cannot be waited for.
inline int WaitProgram(pid_t pid) {
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
