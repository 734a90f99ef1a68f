#include "check/clean_run_state.h"

std::atomic<bool> abortRequested{false};
