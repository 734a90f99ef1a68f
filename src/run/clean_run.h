// The clean run: the program's one background activity, from reading the stores to saving
// them, on a thread of its own.
//
// Threads: OnCleanButton, OnRunFinished and CleanRunActive belong to the UI thread of the
// main window; CleanRun is the body of the clean-run thread (tests may call it directly on
// a thread of their own while no run is active).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "results/run_report.h"
#include "stores/save_report.h"
#include "ui/window.h"

// Posted to the main window, both parameters 0, as the clean-run thread's last act.
constexpr int WM_RUN_FINISHED = WM_APP + 1;

// How a run ended, for front ends that report it (the command line's exit status).
// Offline: every link checked failed at its look-up or connection (at least
// OFFLINE_MIN_LINKS of them), so the computer seems to have no network: nothing was changed.
enum class RunEnd { NothingToCheck, Aborted, Completed, Offline };
constexpr int32_t OFFLINE_MIN_LINKS = 5;
struct CleanRunOutcome {
  RunEnd end = RunEnd::NothingToCheck;
  int32_t linkCount = 0;    // links the stores gave to check
  int32_t problems = 0;     // problem links of a completed run
  bool applied = false;     // the actions were applied and the stores saved
  bool readFailed = false;  // a store could not be read: nothing was checked or saved
  SaveReport saves;         // what the saves could not do
  std::vector<ReportRow> report;  // with CollectRunReport(true): the checked links
};

// Held while the actions are applied and the stores saved, so that a front end ending the
// program can wait for a save to end rather than cut it short. Any thread.
std::mutex& SaveLock();
// Whether the latest run has begun applying and saving (true from then on, also after the
// save has ended). Any thread.
bool SavingHasBegun();

// Whether the next runs collect the report rows into their outcome. Set while no run is active.
void CollectRunReport(bool on);

// A click on the Clean button (1013): starts a run when none is active, otherwise asks the
// run to stop. A click that arrives while the run is already giving the window back (its
// buttons restored, WM_RUN_FINISHED not yet handled) does nothing.
void OnCleanButton(Window* mainWindow);

// The main window received WM_RUN_FINISHED: joins the ended run thread and clears
// abortRequested.
void OnRunFinished();

// True from the start of a run until OnRunFinished has joined its thread.
bool CleanRunActive();

// How the run started by the latest OnCleanButton ended; valid after OnRunFinished.
CleanRunOutcome LastCleanRunOutcome();

// The run itself, with the main window whose controls (template 102) it drives: reads the
// stores, checks every link, reports, applies and saves, then restores the controls and
// posts WM_RUN_FINISHED. Returns 0.
int CleanRun(Window* mainWindow);
// The same, also telling how the run ended (outcome may be null).
int CleanRun(Window* mainWindow, CleanRunOutcome* outcome);
