// State of the clean run that other parts of the link checker look at.
// abortRequested is set and cleared on the UI thread and read by the clean-run thread (the
// scheduler's walk) and by a worker that waits as a busy server asks (so the wait ends at once).
#pragma once

#include <atomic>

extern std::atomic<bool> abortRequested;
