// The step between checking and saving: synchronising the two stores, counting the problem
// links, the summary line, the default actions and the decision whether to save.
//
// Threads: ReportResults, Synchronise, FindCounterpart and CountProblems run on the clean-run
// thread after every worker has ended. SetActions runs there too, and on the UI thread from
// the results dialog while the clean-run thread waits for that dialog; the tree is never
// touched by two threads at once.
#pragma once

#include <cstdint>
#include <functional>

#include "tree/link_tree.h"

class Window;

// Writes the summary to the window's log, gives every problem link its default action and,
// when the settings ask the user, lets the user decide in the results dialog. Non-zero when
// the actions are to be applied and the stores saved.
int ReportResults(Window* mainWindow, NodeList& tree, int32_t linkCount);

// One synchronisation pass over list and everything below it: every non-empty folder and
// every leaf that belongs to `kind` alone becomes a member of both stores, and the first
// counterpart of each such leaf (the other store alone, the same address, and the same name
// or a name that gives the same shortcut file) is removed from the tree and freed, the leaf
// taking over its shortcut file. root is the top-level list, where counterparts are searched.
void Synchronise(NodeList& list, NodeList& root, int32_t kind);

// The first counterpart of entry (whose source is `kind`) in depth-first order, or null.
// Entries without a name or without an address have none.
LinkEntry* FindCounterpart(const NodeList& root, const LinkEntry& entry, int32_t kind);

// Adds the problem links of list and everything below it to the three counters: 404, 410
// and 403 to broken, 301 to moved, 2000 to invalid.
void CountProblems(const NodeList& list, int32_t& broken, int32_t& moved, int32_t& invalid);
// The links whose secure server's certificate did not verify.
int32_t CountCertificateProblems(const NodeList& list);
// The links whose server refused an automated check (never problems).
int32_t CountBlockedLinks(const NodeList& list);

// Problem groups for SetActions.
constexpr int32_t GROUP_DEFAULTS = 0;
constexpr int32_t GROUP_NOT_FOUND = 404;  // 404, 410, 403 and 2000
constexpr int32_t GROUP_MOVED = 301;

// Sets the action of the problem links in list and below: group 0 gives each its default
// from the settings; group 404 or 301 gives every link of that group `action`.
void SetActions(int32_t group, int32_t action, NodeList& list);

// Whatever stands in for the results dialog: shows the problem links of the tree to the
// user and returns 1 when they are to be applied, 0 when not. Called on the clean-run thread.
using ResultsPresenter = std::function<int(Window* mainWindow, NodeList& tree)>;

// Replaces the results dialog (a front end without windows prints the rows instead); an
// empty presenter restores the dialog. Set while no run is active.
void SetResultsPresenter(ResultsPresenter presenter);
