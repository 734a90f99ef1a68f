// Progress output shared by every thread: the main window's two logs and its thread-status
// list. Any thread may call these functions. Posting to the window never waits for the UI
// thread, so holding logLock or statusListLock can never deadlock with it.
#pragma once

#include <cstdint>
#include <mutex>

#include "ui/window.h"

struct LinkEntry;

// Control ids of the main window that other parts of the program address.
constexpr int IDC_CLEAN = 1013;
constexpr int IDC_SETTINGS = 1014;
constexpr int IDC_ABOUT = 1015;
constexpr int IDC_PROBLEMS = 1017;
constexpr int IDC_LOG = 1018;
constexpr int IDC_QUIT = 1019;
constexpr int IDC_PROGRESS = 1020;
constexpr int IDC_THREAD_COUNT = 1039;
constexpr int IDC_THREAD_LIST = 1041;

constexpr int LOG_TRIM_THRESHOLD = 30000;
constexpr int LOG_TRIM_COUNT = 2000;
constexpr int LOG_TEXT_LIMIT = 32000;

extern std::mutex logLock;
extern std::mutex statusListLock;

// The record handed to a worker thread for one link.
struct CheckJob {
  Window* window;
  LinkEntry* entry;
  int32_t sequence;
  int32_t slot;
};

// Appends text at the end of the log control (IDC_LOG or IDC_PROBLEMS) of that window,
// first dropping the oldest 2000 characters when the log holds more than 30000.
void AppendLog(Window* window, int controlId, const char* text);
// printf-style form; the formatted text is cut at 1023 characters.
void AppendLogF(Window* window, int controlId, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

void SetThreadStatus(const CheckJob* job, const char* text);
void RemoveThreadRow(Window* window, int32_t slot);
