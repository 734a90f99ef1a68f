// quillfen-cli: one clean run from the command line, without a display.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_run.h"

namespace {

// Ctrl+C is taken by a thread of its own that waits for it, so that the run is asked to stop
// with ordinary code rather than from a signal handler. The first one aborts the run as the
// Abort button does; the second ends the program at once. The stores are replaced only by
// atomic renames, so even then none is left half-written.
void WatchInterrupts(sigset_t signals) {
  int count = 0;
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (++count == 1) {
      InterruptCli();
    } else {
      static const char kMessage[] = "quillfen-cli: interrupted, nothing saved\n";
      ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
      (void)ignored;
      _exit(CLI_EXIT_ABORTED);
    }
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
