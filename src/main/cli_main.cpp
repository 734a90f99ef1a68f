// quillfen-cli: one clean run from the command line, without a display.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_run.h"

namespace {

// Ctrl+C is taken by a thread of its own that waits for it, so that the run is asked to stop
// with ordinary code rather than from a signal handler. The first one aborts the run as the
// Abort button does; the second ends the program. A save that has begun is not cut short:
// the Favorites are saved file by file, and a store half saved is not what the user asked
// for either way, so the second Ctrl+C waits for it to end (saying so on standard error).
void WatchInterrupts(sigset_t signals) {
  int count = 0;
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (++count == 1) {
      InterruptCli();
      continue;
    }
    std::unique_lock<std::mutex> holder;  // held until the program has ended
    StopAfterAnySave(stderr, holder);
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
