// The check scheduler: walks the link tree and hands every link that needs a network check
// to a worker thread of its own, at most settings->threadCount at a time and at most
// settings->hostThreads for one host, then waits for the last workers. A link whose host is
// at its limit waits (its number already given) while the walk hands out links of other
// hosts; a worker that ends makes room for the waiting link with the lowest number first.
// CheckAllLinks and DispatchLinks run on the clean-run thread; CheckWorker is the body of
// a worker thread. IsOlderThanLimit may be called from any thread.
#pragma once

#include <cstdint>

#include "check/probe.h"
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
// tally (may be null) receives how many links were probed and how many of those reached a
// server, so that a run without a network can be told from a file of dead links.
struct CheckTally {
  int32_t probed = 0;
  int32_t answered = 0;
};
bool CheckAllLinks(Window* window, NodeList& list, NodeList& tree, CheckTally* tally = nullptr);

struct SchedulerState;
// Walks one list (and the folders inside it) in tree order; false when the walk must stop.
bool DispatchLinks(Window* window, NodeList& list, NodeList& tree, SchedulerState& state);

// The body of a worker thread: probes the job's link and frees the job.
ProbeContact CheckWorker(CheckJob* job);

// True when date lies more than settings->olderThanDays whole days before now; a date of
// 0 (none) is always older.
bool IsOlderThanLimit(TimeValue date);
