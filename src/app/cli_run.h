// The command-line front end: one clean run with the stored settings and the options, the
// log printed as it grows, the results dialog replaced by a listing, and an exit status.
// The run drives an in-memory main window (the headless dialog system), so no display and
// no GUI toolkit are needed.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "tree/link_tree.h"

// Runs the command line (arguments without the program name) and returns the exit status
// (CLI_EXIT_...). The log goes to out, "\r\n" written as "\n"; messages about the options
// go to err. Call from one thread at a time, never while a clean run is active.
int RunCli(const std::vector<std::string>& args, FILE* out, FILE* err);

// Asks the run to stop as the Abort button does: the links being checked finish, nothing
// is saved. Before the run has started, it is not started at all. Any thread, also one that
// waits for signals; never waits for the run.
void InterruptCli();

// A second interruption, before the program ends: a save under way is not cut short. When
// one is, says so on err and waits for it to end. Returns with the save lock held in holder,
// so that no save begins after it, and tells err what was saved. Any thread but the run's.
void StopAfterAnySave(FILE* err, std::unique_lock<std::mutex>& holder);

// The rows the results dialog would show for the tree, in its first order (by name), each
// as Name, Type, Problem, Action, URL and New URL separated by tabs and ended by "\n".
// Tabs and line breaks inside a text become spaces. The thread that owns the tree.
std::string FormatResultRows(const NodeList& tree);
