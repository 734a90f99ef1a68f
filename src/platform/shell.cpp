#include "platform/shell.h"

#include <mutex>
#include <new>
#include <utility>

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;
#endif

namespace {

std::mutex gLauncherLock;
ShellLauncher gLauncher;

bool Launch(const ShellRequest& request) {
  ShellLauncher launcher;
  {
    std::lock_guard<std::mutex> guard(gLauncherLock);
    launcher = gLauncher;
  }
  return launcher ? launcher(request) : SystemShellLaunch(request);
}

#ifndef _WIN32

// Starts argv[0] with the arguments as they are. Standard input comes from /dev/null so that
// a started program never competes for our terminal.
pid_t Spawn(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  // The child starts with the default signal dispositions and an empty signal mask.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void WaitForChild(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void* ReapChild(void* arg) {
  pid_t* pid = static_cast<pid_t*>(arg);
  WaitForChild(*pid);
  delete pid;
  return nullptr;
}

// A started program outlives the call; a detached thread collects it when it ends so that
// it never stays behind as a zombie.
void ReapLater(pid_t pid) {
  pid_t* arg = new (std::nothrow) pid_t(pid);
  pthread_attr_t attr;
  if (!arg || pthread_attr_init(&attr) != 0) {
    delete arg;
    return;
  }
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, static_cast<size_t>(64) * 1024);
  pthread_t thread;
  if (pthread_create(&thread, &attr, ReapChild, arg) != 0) {
    // Waiting here could take as long as the browser runs; without a thread the child is
    // left to be collected when the program ends.
    delete arg;
  }
  pthread_attr_destroy(&attr);
}

int ExitStatusOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// xdg-open ends quickly when a running desktop takes the address over, and with an error
// when it finds no handler; when it stays, it is running the browser itself.
bool OpenWithXdg(const std::string& address) {
  pid_t pid = Spawn({"xdg-open", address});
  if (pid < 0) return false;
  const struct timespec pause = {0, 10L * 1000 * 1000};
  for (int waited = 0; waited < 200; ++waited) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return ExitStatusOf(status) == 0;
    if (done < 0 && errno != EINTR) return true;
    nanosleep(&pause, nullptr);
  }
  ReapLater(pid);
  return true;
}

#endif  // !_WIN32

}  // namespace

ShellLauncher SetShellLauncher(ShellLauncher launcher) {
  std::lock_guard<std::mutex> guard(gLauncherLock);
  std::swap(gLauncher, launcher);
  return launcher;
}

bool ShellOpenAddress(const char* address, int showCommand) {
  if (!address || !*address || address[0] == '-') return false;
  return Launch(ShellRequest{ShellRequest::OpenAddress, {address}, showCommand});
}

bool ShellStartProgram(const std::vector<std::string>& argv, int showCommand) {
  if (argv.empty() || argv[0].empty()) return false;
  return Launch(ShellRequest{ShellRequest::StartProgram, argv, showCommand});
}

#ifndef _WIN32

bool SystemShellLaunch(const ShellRequest& request) {
  if (request.argv.empty()) return false;
  if (request.kind == ShellRequest::OpenAddress) return OpenWithXdg(request.argv[0]);
  pid_t pid = Spawn(request.argv);
  if (pid < 0) return false;
  ReapLater(pid);
  return true;
}

int RunProgramAndWait(const std::vector<std::string>& argv) {
  pid_t pid = Spawn(argv);
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return ExitStatusOf(status);
}

#endif  // !_WIN32
