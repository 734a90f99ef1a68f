#include "ui/progress.h"

#include <cstdarg>
#include <cstdio>
#include <string>

std::mutex logLock;
std::mutex statusListLock;

void AppendLog(Window* window, int controlId, const char* text) {
  if (!window || !text) return;
  std::string copy(text);
  // The append is posted under the lock, so appends reach the log in the order they were
  // made and two threads' texts never mix; posting never waits for the UI thread.
  std::lock_guard<std::mutex> hold(logLock);
  window->post([controlId, copy = std::move(copy)](Controls& controls) {
    int length = controls.getTextLength(controlId);
    if (length > LOG_TRIM_THRESHOLD) {
      controls.setSelection(controlId, 0, LOG_TRIM_COUNT);
      controls.clearSelection(controlId);
      length = controls.getTextLength(controlId);
    }
    controls.setSelection(controlId, length, length);
    controls.replaceSelection(controlId, copy.c_str());
  });
}

void AppendLogF(Window* window, int controlId, const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  AppendLog(window, controlId, buffer);
}

void SetThreadStatus(const CheckJob* job, const char* text) {
  if (!job || !job->window || !text) return;
  std::string copy(text);
  ItemData slot = job->slot;
  std::lock_guard<std::mutex> hold(statusListLock);
  job->window->post([slot, copy = std::move(copy)](Controls& controls) {
    int row = controls.findListRow(IDC_THREAD_LIST, slot);
    if (row >= 0) controls.setListCell(IDC_THREAD_LIST, row, 1, copy.c_str());
  });
}

void RemoveThreadRow(Window* window, int32_t slot) {
  if (!window) return;
  std::lock_guard<std::mutex> hold(statusListLock);
  window->post([slot](Controls& controls) {
    int row = controls.findListRow(IDC_THREAD_LIST, slot);
    if (row >= 0) controls.deleteListRow(IDC_THREAD_LIST, row);
  });
}
