// State of the clean run that other parts of the link checker look at.
// abortRequested is set and cleared on the UI thread and read by the clean-run thread (the
// scheduler's walk); worker threads never read it.
#pragma once

#include <atomic>

extern std::atomic<bool> abortRequested;
