// Crash tests: work done in a forked child that may be killed at a chosen moment.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

// Runs work in a child process, which then ends. With kill set, the child is killed
// (SIGKILL) once delay has passed, whatever it is doing. Returns how long the child lived,
// as the parent saw it; a fork that fails returns at once with a negative time.
inline std::chrono::microseconds RunInChild(const std::function<void()>& work,
                                            std::chrono::microseconds delay, bool kill) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid < 0) return std::chrono::microseconds(-1);
  if (pid == 0) {
    work();
    ::_exit(0);
  }
  if (kill) {
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start);
}
