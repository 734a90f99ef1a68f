#include "run/clean_run.h"

#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>
#include <utility>

#include "tree/settings.h"
#include "check/clean_run_state.h"
#include "ui/progress.h"
#include "check/scheduler.h"
#include "results/apply_actions.h"
#include "results/report_results.h"
#include "stores/bookmark_store.h"
#include "stores/read_stores.h"

namespace {

// The run thread; joinable from the click that started it until OnRunFinished. UI thread.
// Held by pointer so that a program ending during a run never destroys a joinable thread.
std::thread* runThread = nullptr;

// Set by the run just before it gives the window back, so that a click arriving between
// that and WM_RUN_FINISHED is not taken for an abort of a run that has already ended.
std::atomic<bool> runEnding{false};

CleanRunOutcome lastOutcome;  // written by the run thread, read after the join
std::atomic<bool> collectReport{false};

// Takes back every result of the run, so that nothing is marked, applied or saved.
void ForgetResults(NodeList& tree) {
  ForEachLeaf(tree, [](LinkEntry& entry) {
    entry.checkResult.store(CHECK_NONE, std::memory_order_relaxed);
    entry.newUrl.clearText();
  });
}

std::atomic<bool> savingBegun{false};

const char* CheckingSuffix(int32_t linkCount) {
  if (linkCount == 1) return "L...";
  if (linkCount < 40) return "Ls...";
  return "Ls... (this may take some time)";
}

void EnableControls(Window* window, bool idle) {
  window->post([idle](Controls& c) {
    c.setEnabled(IDC_SETTINGS, idle);
    c.setEnabled(IDC_ABOUT, idle);
    c.setEnabled(IDC_QUIT, idle);
    if (idle) {
      c.setEnabled(IDC_CLEAN, true);
      c.setText(IDC_CLEAN, "&Clean!");
      c.setProgressPos(IDC_PROGRESS, 0);
    } else {
      c.setText(IDC_CLEAN, "&Abort");
    }
  });
}

}  // namespace

void OnCleanButton(Window* mainWindow) {
  if (!mainWindow) return;
  if (!runThread) {
    runEnding.store(false);
    lastOutcome = CleanRunOutcome{};
    // The standard library reports a thread it cannot start by an exception; here that is
    // a click without effect.
    try {
      runThread = new std::thread([mainWindow] { CleanRun(mainWindow, &lastOutcome); });
    } catch (const std::exception&) {
      runThread = nullptr;
    }
    return;
  }
  if (runEnding.load() || abortRequested.load()) return;
  abortRequested.store(true);
  AppendLog(mainWindow, IDC_LOG, "Abort pending...\r\n");
  mainWindow->controls().setEnabled(IDC_CLEAN, false);
}

void OnRunFinished() {
  if (!runThread) return;
  if (runThread->joinable()) runThread->join();
  delete runThread;
  runThread = nullptr;
  runEnding.store(false);
  abortRequested.store(false);
}

bool CleanRunActive() { return runThread != nullptr; }

bool SavingHasBegun() { return savingBegun.load(); }

std::mutex& SaveLock() {
  // Never destroyed: a front end may wait on it while the program ends.
  static std::mutex* lock = new std::mutex;
  return *lock;
}

void CollectRunReport(bool on) { collectReport.store(on); }

CleanRunOutcome LastCleanRunOutcome() { return lastOutcome; }

int CleanRun(Window* mainWindow) { return CleanRun(mainWindow, nullptr); }

int CleanRun(Window* mainWindow, CleanRunOutcome* outcome) {
  if (!mainWindow) return 0;
  CleanRunOutcome result;
  NodeList tree;
  int32_t linkCount = 0;

  savingBegun.store(false);
  EnableControls(mainWindow, false);
  {
    // Under the log lock, so that the restart of the log is ordered with every append.
    std::lock_guard<std::mutex> hold(logLock);
    mainWindow->post([](Controls& c) {
      c.setText(IDC_PROBLEMS, "");
      c.setText(IDC_LOG, "Building URL list...\r\n");
    });
  }

  result.readFailed = !ReadStores(mainWindow, tree, linkCount);
  result.linkCount = linkCount;

  if (linkCount == 0) {
    AppendLog(mainWindow, IDC_LOG, "No URLs to check! (What's going on?)\r\n");
  } else {
    AppendLogF(mainWindow, IDC_LOG, "\r\nChecking %ld UR%s\r\n\r\n", static_cast<long>(linkCount),
               CheckingSuffix(linkCount));
    // One row per worker slot the scheduler will use: it keeps the count within 1 to 64.
    uint32_t slots = settings ? settings->threadCount : 1;
    if (slots < 1) slots = 1;
    if (slots > MAX_CHECK_THREADS) slots = MAX_CHECK_THREADS;
    int32_t rows =
        static_cast<uint32_t>(linkCount) < slots ? linkCount : static_cast<int32_t>(slots);
    mainWindow->post([linkCount, rows](Controls& c) {
      // The whole count: a range cut to 16 bits would make the bar wrap on big collections.
      c.setProgressRange(IDC_PROGRESS, 0, linkCount);
      c.setProgressStep(IDC_PROGRESS, 1);
      c.setProgressPos(IDC_PROGRESS, 0);
      char number[16];
      for (int32_t i = 0; i < rows; ++i) {
        std::snprintf(number, sizeof number, "%ld", static_cast<long>(i) + 1);
        c.insertListRow(IDC_THREAD_LIST, i, i, number);
      }
    });

    CheckTally tally;
    bool finished = CheckAllLinks(mainWindow, tree, tree, &tally);
    if (!finished || abortRequested.load()) {
      AppendLog(mainWindow, IDC_LOG, "\r\nAborted!\r\n");
      result.end = RunEnd::Aborted;
    } else if (tally.probed >= OFFLINE_MIN_LINKS && tally.answered == 0) {
      // Every look-up or connection failed: the computer is offline, not the web. Marking
      // the links invalid would let the automatic settings delete every one of them.
      ForgetResults(tree);
      {
        // The problems log named them as invalid hosts while they were checked.
        std::lock_guard<std::mutex> hold(logLock);
        mainWindow->post([](Controls& c) { c.setText(IDC_PROBLEMS, ""); });
      }
      AppendLogF(mainWindow, IDC_LOG,
                 "\r\nNo server answered any of the %ld links checked: the network seems "
                 "unreachable, so nothing was changed.\r\n",
                 static_cast<long>(tally.probed));
      result.end = RunEnd::Offline;
      if (collectReport.load()) result.report = CollectReportRows(tree, false);
    } else {
      AppendLog(mainWindow, IDC_LOG, "\r\nComplete!\r\n\r\n");
      result.end = RunEnd::Completed;
      result.applied = ReportResults(mainWindow, tree, linkCount) != 0;
      int32_t broken = 0, moved = 0, invalid = 0;
      CountProblems(tree, broken, moved, invalid);
      result.problems = broken + moved + invalid + CountCertificateProblems(tree);
      // The rows are taken before the actions change the tree.
      if (collectReport.load()) result.report = CollectReportRows(tree, result.applied);
      if (result.applied) {
        std::lock_guard<std::mutex> saving(SaveLock());
        savingBegun.store(true);
        ApplyActions(mainWindow, tree, &result.saves);
      }
    }
    mainWindow->post([](Controls& c) { c.deleteAllListRows(IDC_THREAD_LIST); });
  }

  FreeTree(tree);
  ReleaseBookmarkStore();
  if (outcome) *outcome = std::move(result);
  runEnding.store(true);
  EnableControls(mainWindow, true);
  mainWindow->postMessage(WM_RUN_FINISHED, 0, 0);
  return 0;
}
