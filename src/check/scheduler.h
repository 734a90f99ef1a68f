// The check scheduler: walks the link tree and hands every link that needs a network check
// to a worker thread of its own, at most settings->threadCount at a time, then waits for
// the last workers.
// CheckAllLinks and DispatchLinks run on the clean-run thread; CheckWorker is the body of
// a worker thread. IsOlderThanLimit may be called from any thread.
#pragma once

#include <cstdint>

#include "ui/progress.h"
#include "tree/link_tree.h"
#include "ui/window.h"

constexpr int32_t MAX_CHECK_THREADS = 64;

// Knobs for tests and benchmarks only; the program never changes them. Set them while no
// check runs.
struct SchedulerTuning {
  int32_t drainPeriodMs = 10000;  // the period of the drain's waiting messages
  // Search the whole tree for each link's checked twin (the simple way, quadratic in the
  // number of links) instead of the index of checked addresses; both give the same answer.
  bool searchWholeTree = false;
};
extern SchedulerTuning schedulerTuning;

// Checks every link of list, searching the whole tree for duplicates (the clean run passes
// its top-level list for both). True when the walk reached the end, false when it stopped
// early (abort, or memory ran out: then the log says so). Returns only after every worker
// it started has ended, so the tree may be freed afterwards.
bool CheckAllLinks(Window* window, NodeList& list, NodeList& tree);

struct SchedulerState;
// Walks one list (and the folders inside it) in tree order; false when the walk must stop.
bool DispatchLinks(Window* window, NodeList& list, NodeList& tree, SchedulerState& state);

// The body of a worker thread: probes the job's link and frees the job. Returns 0.
int CheckWorker(CheckJob* job);

// True when date lies more than settings->olderThanDays whole days before now; a date of
// 0 (none) is always older.
bool IsOlderThanLimit(TimeValue date);
