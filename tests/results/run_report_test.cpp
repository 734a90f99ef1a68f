#include "results/run_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

// Text from the user's files goes into cells that a spreadsheet must read back as the same
// text: separators and quotes are quoted, and nothing may start a formula.
TEST(RunReportTest, CsvCellsAreQuotedAndNeverFormulas) {
  struct Case {
    std::string name;
    std::string cell;
  } cases[] = {
      {"plain", "plain"},
      {"a, b", "\"a, b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {" padded ", "\" padded \""},
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"+1", "\"'+1\""},
      {"-1", "\"'-1\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
  };
  for (const Case& c : cases) {
    ReportRow row;
    row.store = "Bookmarks";
    row.name = c.name;
    row.address = "http://a.test/";
    row.verdict = "OK";
    row.action = "none";
    std::string csv = FormatReportCsv({row});
    std::string line = csv.substr(csv.find('\n') + 1);
    EXPECT_EQ(line, "Bookmarks,," + c.cell + ",http://a.test/,,OK,,none\n") << c.name;
  }
}

TEST(RunReportTest, JsonTakesAnyBytes) {
  ReportRow row;
  row.name = "caf\xE9 \xFF";  // not UTF-8
  row.status = 410;
  std::string text = FormatReportJson({row});
  nlohmann::json json = nlohmann::json::parse(text);
  ASSERT_EQ(json.size(), 1u);
  EXPECT_EQ(json[0]["status"], 410);
  EXPECT_EQ(json[0]["name"], "caf\xEF\xBF\xBD \xEF\xBF\xBD");
}

}  // namespace
