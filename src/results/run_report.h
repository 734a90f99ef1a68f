// The report of a run: one row for every link that was checked (by a worker of its own or
// through a checked twin), written as CSV or JSON for the user to keep or sort.
// Runs on the thread that owns the tree, after every worker has ended.
#pragma once

#include <string>
#include <vector>

#include "tree/link_tree.h"

struct ReportRow {
  std::string store;   // "Bookmarks", "Favorites" or "Both"
  std::string folder;  // the folders above the link, their names joined by '/'
  std::string name;
  std::string address;
  int32_t status = 0;  // the server's status, 0 when there was none
  std::string verdict;
  std::string newAddress;
  std::string action;  // what was done to the link
};

// The verdict's name for a check result ("Moved", "Gone", "Blocked", "No answer", ...).
const char* VerdictName(int32_t result);

// The rows of the checked links of tree in tree order; the actions count as taken only
// when applied is true.
std::vector<ReportRow> CollectReportRows(const NodeList& tree, bool applied);

// CSV with a heading row, every line ended by "\n"; a cell that a spreadsheet would take for
// a formula gets a leading apostrophe.
std::string FormatReportCsv(const std::vector<ReportRow>& rows);
// A JSON array of one object per row; text that is not UTF-8 is replaced, never refused.
std::string FormatReportJson(const std::vector<ReportRow>& rows);
