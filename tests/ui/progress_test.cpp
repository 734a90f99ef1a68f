#include "ui/progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/headless_fixture.h"
#include "support/cat.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

void SetLog(HeadlessMainWindow& main, int id, const std::string& text) {
  main.window->run([&](HeadlessWindow& w) { w.setText(id, text.c_str()); });
}

TEST(ProgressTest, LogIsTrimmedOnlyWhenLongerThanThirtyThousand) {
  HeadlessMainWindow main;
  std::string full;
  for (int i = 0; i < LOG_TRIM_THRESHOLD; ++i) full += static_cast<char>('a' + i % 26);
  SetLog(main, IDC_LOG, full);
  AppendLog(main.window, IDC_LOG, "x");  // 30000: not trimmed
  EXPECT_EQ(main.log(), full + "x");
  AppendLog(main.window, IDC_LOG, "y");  // 30001: the oldest 2000 go first
  EXPECT_EQ(main.log(), full.substr(LOG_TRIM_COUNT) + "xy");
  // The problems log is trimmed on its own.
  SetLog(main, IDC_PROBLEMS, full + "z");
  AppendLog(main.window, IDC_PROBLEMS, "!");
  EXPECT_EQ(main.problems(), full.substr(LOG_TRIM_COUNT) + "z!");
  EXPECT_EQ(main.log(), full.substr(LOG_TRIM_COUNT) + "xy");
}

TEST(ProgressTest, FormattedTextIsCutAt1023Characters) {
  HeadlessMainWindow main;
  std::string longText(5000, 'q');
  AppendLogF(main.window, IDC_LOG, "%ld: %s", 12L, longText.c_str());
  EXPECT_EQ(main.log(), "12: " + std::string(1019, 'q'));
  AppendLog(nullptr, IDC_LOG, "nowhere");
  AppendLog(main.window, IDC_LOG, nullptr);
  AppendLog(main.window, 4242, "no such control");
  EXPECT_EQ(main.log().size(), 1023u);
}

// Each thread appends numbered lines; returns the pattern every intact line matches.
void AppendFromThreads(HeadlessMainWindow& main, int threads, int lines, int padding) {
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      std::string pad(static_cast<size_t>(padding), static_cast<char>('A' + t));
      for (int i = 0; i < lines; ++i) {
        std::string line = Cat("T", t, " L", i, " ", pad, "\r\n");
        AppendLog(main.window, IDC_PROBLEMS, line.c_str());
      }
    });
  // The UI thread appends too, as the main window does for an abort request.
  main.window->post([&](Controls&) { AppendLog(main.window, IDC_PROBLEMS, "UI\r\n"); });
  for (auto& w : workers) w.join();
}

void ExpectIntactLines(const std::vector<std::string>& lines, size_t from, int padding) {
  std::vector<int> lastSeen(16, -1);
  for (size_t k = from; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    if (line == "UI") continue;
    int t = -1, i = -1;
    char space = 0;
    std::istringstream in(line);
    in.get();  // 'T'
    in >> t;
    in.get(space);
    in.get();  // 'L'
    in >> i;
    ASSERT_TRUE(t >= 0 && t < 16 && i >= 0) << line;
    EXPECT_EQ(line, Cat("T", t, " L", i, " ",
                        std::string(static_cast<size_t>(padding), static_cast<char>('A' + t))));
    EXPECT_GT(i, lastSeen[static_cast<size_t>(t)]) << "out of order: " << line;
    lastSeen[static_cast<size_t>(t)] = i;
  }
}

TEST(ProgressTest, ManyThreadsAppendingAtOnceNeverMixLines) {
  HeadlessMainWindow main;
  const int threads = 8, lines = 100, padding = 20;
  AppendFromThreads(main, threads, lines, padding);
  std::vector<std::string> all = Lines(main.problems());
  EXPECT_EQ(all.size(), static_cast<size_t>(threads * lines + 1));
  ExpectIntactLines(all, 0, padding);
}

TEST(ProgressTest, ManyThreadsFillingTheLogKeepItTrimmedAndIntact) {
  HeadlessMainWindow main;
  const int padding = 40;
  AppendFromThreads(main, 8, 400, padding);
  std::string log = main.problems();
  EXPECT_LE(log.size(), static_cast<size_t>(LOG_TRIM_THRESHOLD + 60));
  EXPECT_GT(log.size(), static_cast<size_t>(LOG_TRIM_THRESHOLD - LOG_TRIM_COUNT));
  // The first line may have lost its start to a trim; every other line is whole.
  ExpectIntactLines(Lines(log), 1, padding);
}

TEST(ProgressTest, ThreadRowsAreFoundByTheirSlotNotTheirPosition) {
  HeadlessMainWindow main;
  for (int slot : {3, 0, 2, 1}) main.addThreadRow(slot);
  Window* window = main.window;
  CheckJob job2{window, nullptr, 7, 2};
  SetThreadStatus(&job2, "Contacting host");
  RemoveThreadRow(window, 0);
  RemoveThreadRow(window, 9);  // no such row
  CheckJob job0{window, nullptr, 8, 0};
  SetThreadStatus(&job0, "Waiting for reply");  // its row is gone: nothing changes
  EXPECT_EQ(main.threadRowCount(), 3);
  EXPECT_EQ(main.threadStatus(2), "Contacting host");
  EXPECT_EQ(main.threadStatus(3), "");
  auto rows = main.window->rows(IDC_THREAD_LIST);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], "4");
  EXPECT_EQ(rows[1][0], "3");
  EXPECT_EQ(rows[1][1], "Contacting host");
  SetThreadStatus(nullptr, "x");
  CheckJob orphan{nullptr, nullptr, 1, 1};
  SetThreadStatus(&orphan, "x");
  RemoveThreadRow(nullptr, 1);
  EXPECT_EQ(main.threadRowCount(), 3);
}

TEST(ProgressTest, WorkersUpdatingRowsAtOnceEachKeepTheirOwnRow) {
  HeadlessMainWindow main;
  const int slots = 16;
  for (int slot = 0; slot < slots; ++slot) main.addThreadRow(slot);
  std::vector<std::thread> workers;
  for (int slot = 0; slot < slots; ++slot)
    workers.emplace_back([&main, slot] {
      CheckJob job{main.window, nullptr, slot + 1, slot};
      for (const char* status : {"Checking host name", "Contacting host", "Waiting for reply"})
        SetThreadStatus(&job, status);
      if (slot % 2) RemoveThreadRow(main.window, slot);
    });
  for (auto& w : workers) w.join();
  EXPECT_EQ(main.threadRowCount(), slots / 2);
  for (int slot = 0; slot < slots; slot += 2)
    EXPECT_EQ(main.threadStatus(slot), "Waiting for reply");
}

}  // namespace
