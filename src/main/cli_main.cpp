// quillfen-cli: one clean run from the command line, without a display.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_run.h"
#include "run/clean_run.h"

namespace {

void Say(const char* text) {
  ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

// Ctrl+C is taken by a thread of its own that waits for it, so that the run is asked to stop
// with ordinary code rather than from a signal handler. The first one aborts the run as the
// Abort button does; the second ends the program. A save that has begun is not cut short:
// the stores are replaced file by file, and a store half saved (some Favorites moved, others
// not) is not what the user asked for either way, so the second Ctrl+C waits for it to end.
// The save lock stays held until the program has ended, so no other save begins.
void WatchInterrupts(sigset_t signals) {
  int count = 0;
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (++count == 1) {
      InterruptCli();
      continue;
    }
    if (SaveLock().try_lock()) {
      Say("quillfen-cli: interrupted, nothing saved\n");
      _exit(CLI_EXIT_ABORTED);
    }
    Say("quillfen-cli: saving; waiting for the save to end before stopping\n");
    SaveLock().lock();
    Say("quillfen-cli: the save has ended; stopped\n");
    std::fflush(stdout);
    _exit(CLI_EXIT_ABORTED);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before any thread exists, so every thread inherits the mask and only the
  // watcher ever receives the signal.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(WatchInterrupts, signals).detach();

  std::vector<std::string> args(argv + 1, argv + argc);
  int status = RunCli(args, stdout, stderr);
  std::fflush(stdout);
  return status;
}
