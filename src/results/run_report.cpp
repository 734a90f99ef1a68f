#include "results/run_report.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace {

const char* StoreName(int32_t source) {
  if (source == SOURCE_BOOKMARKS) return "Bookmarks";
  if (source == SOURCE_FAVORITES) return "Favorites";
  return "Both";
}

const char* ActionTaken(const LinkEntry& entry, int32_t result, bool applied) {
  if (!applied || !IsProblemResult(result)) return "none";
  switch (entry.action) {
    case ACTION_DELETE:
      return "deleted";
    case ACTION_SHIFT:
      return "shifted to Broken Links";
    case ACTION_UPDATE:
      return result == CHECK_MOVED ? "updated" : "none";
    default:
      return "left";
  }
}

void AppendCsvCell(std::string& out, const std::string& text) {
  bool formula = !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' ||
                                   text[0] == '@' || text[0] == '\t' || text[0] == '\r');
  bool quoted = formula || text.find_first_of(",\"\r\n") != std::string::npos ||
                (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quoted) {
    out += text;
    return;
  }
  out += '"';
  if (formula) out += '\'';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

const char* VerdictName(int32_t result) {
  if (IsBlockedResult(result)) return "Blocked";
  switch (result) {
    case CHECK_NONE:
      return "No answer";
    case CHECK_MOVED:
      return "Moved";
    case CHECK_NOT_FOUND:
      return "Not found";
    case CHECK_GONE:
      return "Gone";
    case CHECK_FORBIDDEN:
      return "Forbidden";
    case CHECK_INVALID_HOST:
      return "Invalid host";
    case CHECK_CERTIFICATE:
      return "Certificate";
    case CHECK_REDIRECT_UNFOLLOWED:
      return "Redirect not followed";
    default:
      break;
  }
  if (result >= 200 && result < 300) return "OK";
  if (result >= 300 && result < 400) return "Redirected";
  if (result >= 500 && result < 600) return "Server error";
  return "Not a problem";
}

std::vector<ReportRow> CollectReportRows(const NodeList& tree, bool applied) {
  std::vector<ReportRow> rows;
  struct Level {
    Node* next;
    size_t folderLength;  // of the path before this folder was entered
  };
  std::vector<Level> resume;
  std::string folder;
  Node* n = tree.head();
  for (;;) {
    if (!n->next) {
      if (resume.empty()) break;
      n = resume.back().next;
      folder.resize(resume.back().folderLength);
      resume.pop_back();
      continue;
    }
    const LinkEntry* entry = LinkEntry::of(n);
    if (entry->name && !entry->children.isEmpty()) {
      resume.push_back({n->next, folder.size()});
      if (!folder.empty()) folder += '/';
      folder += entry->name;
      n = entry->children.head();
      continue;
    }
    n = n->next;
    int32_t result = entry->checkResult.load(std::memory_order_acquire);
    if (!entry->name || entry->url.isEmpty() || (result == CHECK_NONE && !entry->probed))
      continue;
    ReportRow row;
    row.store = StoreName(entry->source);
    row.folder = folder;
    row.name = entry->name;
    row.address = entry->url.c_str();
    row.status = IsBlockedResult(result)            ? result - CHECK_BLOCKED_BASE
                 : result >= 100 && result < 1000 ? result
                                                  : 0;
    row.verdict = VerdictName(result);
    if (result == CHECK_MOVED) row.newAddress = entry->newUrl.c_str();
    row.action = ActionTaken(*entry, result, applied);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string FormatReportCsv(const std::vector<ReportRow>& rows) {
  std::string out = "store,folder,name,address,status,verdict,new_address,action\n";
  for (const ReportRow& row : rows) {
    for (const std::string* cell : {&row.store, &row.folder, &row.name, &row.address}) {
      AppendCsvCell(out, *cell);
      out += ',';
    }
    if (row.status) out += std::to_string(row.status);
    out += ',';
    AppendCsvCell(out, row.verdict);
    out += ',';
    AppendCsvCell(out, row.newAddress);
    out += ',';
    AppendCsvCell(out, row.action);
    out += '\n';
  }
  return out;
}

std::string FormatReportJson(const std::vector<ReportRow>& rows) {
  nlohmann::json list = nlohmann::json::array();
  for (const ReportRow& row : rows) {
    nlohmann::json item;
    item["store"] = row.store;
    item["folder"] = row.folder;
    item["name"] = row.name;
    item["address"] = row.address;
    item["status"] = row.status ? nlohmann::json(row.status) : nlohmann::json(nullptr);
    item["verdict"] = row.verdict;
    item["new_address"] = row.newAddress;
    item["action"] = row.action;
    list.push_back(std::move(item));
  }
  return list.dump(1, '\t', false, nlohmann::json::error_handler_t::replace) + "\n";
}
