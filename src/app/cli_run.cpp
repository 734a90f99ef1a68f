#include "app/cli_run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>

#include "app/cli_options.h"
#include "app/main_window.h"
#include "tree/settings.h"
#include "app/settings_storage.h"
#include "run/clean_run.h"
#include "stores/bookmark_store.h"
#include "stores/browser_profiles.h"
#include "stores/firefox_profile.h"
#include "ui/progress.h"
#include "results/report_results.h"
#include "results/results_dialog.h"
#include "ui/dialog_template.h"
#include "ui/headless/headless_ui.h"

namespace {

// A byte a terminal would act on (a control character other than tab and line feed, or
// DEL): a server's status line, a page title or a path could otherwise set the terminal's
// title, clear its screen or overwrite lines. Such a byte is written as \xHH.
bool ActsOnTerminal(unsigned char byte) {
  return (byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F;
}

void PutVisible(FILE* out, char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  if (ActsOnTerminal(byte))
    std::fprintf(out, "\\x%02x", byte);
  else
    std::fputc(c, out);
}

std::string Visible(const std::string& text) {
  std::string shown;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (!ActsOnTerminal(byte)) {
      shown += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    shown += escaped;
  }
  return shown;
}

// Writes log text to the output as it arrives, "\r\n" as "\n" and every other byte a
// terminal would act on (a lone "\r" too) in its visible form. A "\r" at the end of one
// piece waits for the next, which may begin with its "\n". The problems log is kept whole
// (the window's copy is trimmed) and printed when the run has ended.
class LogEcho {
 public:
  explicit LogEcho(FILE* out) : out_(out) {}

  void log(const char* text) {
    std::lock_guard<std::mutex> hold(lock_);
    write(text);
    std::fflush(out_);
  }
  void appendProblems(const char* text) {
    std::lock_guard<std::mutex> hold(lock_);
    problems_ += text;
  }
  void resetProblems(const char* text) {
    std::lock_guard<std::mutex> hold(lock_);
    problems_ = text;
  }
  // The log so far is complete: a waiting "\r" is written, then the problems log.
  void finish() {
    std::lock_guard<std::mutex> hold(lock_);
    write(problems_.c_str());
    if (pendingReturn_) PutVisible(out_, '\r');
    pendingReturn_ = false;
    std::fflush(out_);
  }

 private:
  void write(const char* text) {
    for (const char* p = text; *p; ++p) {
      if (pendingReturn_) {
        pendingReturn_ = false;
        if (*p == '\n') {
          std::fputc('\n', out_);
          continue;
        }
        PutVisible(out_, '\r');
      }
      if (*p == '\r')
        pendingReturn_ = true;
      else
        PutVisible(out_, *p);
    }
  }

  FILE* out_;
  std::mutex lock_;
  std::string problems_;
  bool pendingReturn_ = false;
};

// The controls of the in-memory main window, with whatever reaches the two logs echoed.
class EchoControls : public Controls {
 public:
  EchoControls(Controls& inner, LogEcho& echo) : inner_(inner), echo_(echo) {}

  std::string getText(int id) override { return inner_.getText(id); }
  void setText(int id, const char* text) override {
    inner_.setText(id, text);
    if (id == IDC_LOG) echo_.log(text ? text : "");
    if (id == IDC_PROBLEMS) echo_.resetProblems(text ? text : "");
  }
  int getTextLength(int id) override { return inner_.getTextLength(id); }
  void setSelection(int id, int start, int end) override { inner_.setSelection(id, start, end); }
  void getSelection(int id, int* start, int* end) override { inner_.getSelection(id, start, end); }
  void replaceSelection(int id, const char* text) override {
    inner_.replaceSelection(id, text);
    if (id == IDC_LOG) echo_.log(text ? text : "");
    if (id == IDC_PROBLEMS) echo_.appendProblems(text ? text : "");
  }
  void clearSelection(int id) override { inner_.clearSelection(id); }
  void setTextLimit(int id, int limit) override { inner_.setTextLimit(id, limit); }
  bool isChecked(int id) override { return inner_.isChecked(id); }
  void setChecked(int id, bool checked) override { inner_.setChecked(id, checked); }
  bool isEnabled(int id) override { return inner_.isEnabled(id); }
  void setEnabled(int id, bool enabled) override { inner_.setEnabled(id, enabled); }
  void setFocus(int id) override { inner_.setFocus(id); }
  void setProgressRange(int id, int low, int high) override {
    inner_.setProgressRange(id, low, high);
  }
  void setProgressStep(int id, int step) override { inner_.setProgressStep(id, step); }
  void setProgressPos(int id, int pos) override { inner_.setProgressPos(id, pos); }
  void stepProgress(int id) override { inner_.stepProgress(id); }
  int getProgressPos(int id) override { return inner_.getProgressPos(id); }
  void insertListColumn(int id, int index, const char* heading, int width) override {
    inner_.insertListColumn(id, index, heading, width);
  }
  int getListColumnWidth(int id, int column) override {
    return inner_.getListColumnWidth(id, column);
  }
  void setListColumnWidth(int id, int column, int width) override {
    inner_.setListColumnWidth(id, column, width);
  }
  int measureText(int id, const char* text) override { return inner_.measureText(id, text); }
  int insertListRow(int id, int index, ItemData data, const char* text) override {
    return inner_.insertListRow(id, index, data, text);
  }
  int getListRowCount(int id) override { return inner_.getListRowCount(id); }
  ItemData getListRowData(int id, int row) override { return inner_.getListRowData(id, row); }
  int findListRow(int id, ItemData data) override { return inner_.findListRow(id, data); }
  void setListCell(int id, int row, int column, const char* text) override {
    inner_.setListCell(id, row, column, text);
  }
  std::string getListCell(int id, int row, int column) override {
    return inner_.getListCell(id, row, column);
  }
  void deleteListRow(int id, int row) override { inner_.deleteListRow(id, row); }
  void deleteAllListRows(int id) override { inner_.deleteAllListRows(id); }
  void sortList(int id, ListCompare compare, intptr_t param) override {
    inner_.sortList(id, compare, param);
  }
  void redrawListRows(int id, int first, int last) override {
    inner_.redrawListRows(id, first, last);
  }
  int getSelectedListRow(int id) override { return inner_.getSelectedListRow(id); }
  void editListLabel(int id, int row) override { inner_.editListLabel(id, row); }

 private:
  Controls& inner_;
  LogEcho& echo_;
};

// The window the run is given: the in-memory main window, with posted work seeing the
// echoing controls.
class EchoWindow : public Window {
 public:
  EchoWindow(Window& inner, LogEcho& echo) : inner_(inner), echo_(echo) {}

  void post(std::function<void(Controls&)> work) override {
    LogEcho* echo = &echo_;
    inner_.post([echo, work = std::move(work)](Controls& controls) {
      EchoControls echoing(controls, *echo);
      work(echoing);
    });
  }
  void postMessage(int message, intptr_t wParam, intptr_t lParam) override {
    inner_.postMessage(message, wParam, lParam);
  }
  Controls& controls() override { return inner_.controls(); }
  void endDialog(int result) override { inner_.endDialog(result); }
  void sendCommand(int id, int code) override { inner_.sendCommand(id, code); }
  int trackPopupMenu(const std::vector<MenuItem>& items, int x, int y) override {
    return inner_.trackPopupMenu(items, x, y);
  }
  bool setClipboardText(const char* text) override { return inner_.setClipboardText(text); }
  bool browseForFolder(const char* title, std::string& value) override {
    return inner_.browseForFolder(title, value);
  }
  bool chooseOpenFile(const char* title,
                      const std::vector<std::pair<std::string, std::string>>& filters,
                      std::string& value) override {
    return inner_.chooseOpenFile(title, filters, value);
  }
  int showModal(int templateId, DialogProc& proc) override {
    return inner_.showModal(templateId, proc);
  }

 private:
  Window& inner_;
  LogEcho& echo_;
};

// The main window's part in a run: its controls as the program sets them up, and the end
// of the run joined on its own thread.
class CliMainProc : public DialogProc {
 public:
  bool onInit(Window& window) override {
    SetUpMainWindowControls(window.controls());
    return true;
  }
  void onClose(Window&) override {}  // the window lives as long as the command
  void onMessage(Window&, int message, intptr_t, intptr_t) override {
    if (message != WM_RUN_FINISHED) return;
    OnRunFinished();
    std::lock_guard<std::mutex> hold(lock_);
    finished_ = true;
    changed_.notify_all();
  }
  void waitFinished() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return finished_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool finished_ = false;
};

// What InterruptCli needs of the command being run.
struct CliSession {
  Window* inner;
  Window* runWindow;
};

// Never destroyed: a signal may arrive while the program is ending.
std::mutex& SessionLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}
CliSession* activeSession = nullptr;  // guarded by SessionLock()
std::atomic<bool> interrupted{false};

bool BookmarkFileReadable(const char* path) {
  // A Firefox profile folder stands for the places.sqlite inside it.
  std::string places, profile;
  std::string file = ClassifyFirefoxStore(path, places, profile) == FirefoxStoreKind::Places
                         ? places
                         : std::string(path);
  std::error_code failure;
  if (!std::filesystem::is_regular_file(file, failure)) return false;
  std::ifstream in(file, std::ios::binary);
  return in.is_open();
}

bool FavoritesFolderReadable(const char* path) {
  std::error_code failure;
  std::filesystem::directory_iterator listing(path, failure);
  return !failure;
}

// Why a store the run reads cannot be read, or empty when both can.
std::string UnreadableStore(const Settings& record) {
  if (record.flags & (FLAG_CLEAN_BOOKMARKS | FLAG_SYNCHRONISE)) {
    if (record.bookmarkFile.isEmpty()) return "no bookmark file given (see --bookmarks)";
    if (!BookmarkFileReadable(record.bookmarkFile.c_str()))
      return std::string("cannot read the bookmark file '") + record.bookmarkFile.c_str() + "'";
  }
  if (record.flags & (FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE)) {
    if (record.favoritesFolder.isEmpty()) return "no Favorites folder given (see --favorites)";
    if (!FavoritesFolderReadable(record.favoritesFolder.c_str()))
      return std::string("cannot read the Favorites folder '") + record.favoritesFolder.c_str() +
             "'";
  }
  return {};
}

bool WriteReportFile(const std::string& name, const std::string& text) {
  FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) return false;
  bool whole = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && whole;
}

void AppendCell(std::string& row, const char* text) {
  for (const char* p = text; *p; ++p) row += (*p == '\t' || *p == '\r' || *p == '\n') ? ' ' : *p;
}

// One clean run in an in-memory main window; the outcome as an exit status, and for a run
// that checked nothing or never started, why in whyNot.
int RunOnce(bool yes, FILE* out, std::string& whyNot, std::vector<ReportRow>* report) {
  LogEcho echo(out);  // outlives the UI, which runs what is still posted when it ends
  RunEnd end = RunEnd::Aborted;
  int32_t problems = 0;
  bool saveFailed = false;
  {
    HeadlessUi ui;
    CliMainProc proc;
    HeadlessWindow* inner = ui.open(IDD_MAIN_WINDOW, proc);
    if (!inner) {
      whyNot = "the run could not be set up";
      return CLI_EXIT_NOTHING;
    }
    EchoWindow window(*inner, echo);
    SetResultsPresenter([&ui, &echo, yes](Window*, NodeList& tree) {
      ui.flush();  // the log up to here is printed before the listing
      echo.log(FormatResultRows(tree).c_str());
      return yes ? 1 : 0;
    });
    CliSession session{inner, &window};
    {
      std::lock_guard<std::mutex> hold(SessionLock());
      activeSession = &session;
    }
    // Started on the window's thread, where an interruption is handled as well, so that an
    // interruption either prevents the run or reaches it.
    bool started = false;
    ui.run([&] {
      if (!interrupted.load()) OnCleanButton(&window);
      started = CleanRunActive();
    });
    if (started) proc.waitFinished();
    {
      std::lock_guard<std::mutex> hold(SessionLock());
      activeSession = nullptr;
    }
    ui.flush();
    SetResultsPresenter({});
    if (started) {
      CleanRunOutcome outcome = LastCleanRunOutcome();
      end = outcome.end;
      problems = outcome.problems;
      saveFailed = outcome.saves.failed();
      if (report) *report = std::move(outcome.report);
      if (outcome.readFailed) {
        whyNot = "a store could not be read (see the log): nothing was checked or saved";
      } else if (end == RunEnd::Offline) {
        whyNot = "no server answered: the network seems unreachable, nothing was changed";
      } else if (end == RunEnd::NothingToCheck) {
        bool anyStore =
            settings &&
            (settings->flags & (FLAG_CLEAN_BOOKMARKS | FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE));
        whyNot = anyStore ? "nothing to check: the stores hold no links"
                          : "nothing to check: both the bookmark file and the Favorites folder "
                            "are left out";
      }
    } else if (!interrupted.load()) {
      whyNot = "the run could not be started";
    }
  }
  echo.finish();
  // What the user has to do next (apply a Firefox backup) comes last, after the listing.
  if (end == RunEnd::Completed && !BookmarkStoreAdvice().empty()) {
    std::string last = BookmarkStoreAdvice();
    std::string text;
    for (char c : last)
      if (c != '\r') text += c;
    std::fprintf(out, "\n%s", text.c_str());
    std::fflush(out);
  }
  switch (end) {
    case RunEnd::Aborted:
    case RunEnd::Offline:
      return CLI_EXIT_ABORTED;
    case RunEnd::NothingToCheck:
      return CLI_EXIT_NOTHING;
    case RunEnd::Completed:
      break;
  }
  if (saveFailed) {
    whyNot = "a save failed or was incomplete (see the log)";
    return CLI_EXIT_SAVE_FAILED;
  }
  return problems > 0 ? CLI_EXIT_PROBLEMS : CLI_EXIT_CLEAN;
}

// The bookmark stores discovery finds, one a line: browser, profile, file, links (or
// "unreadable"), last change (UTC), separated by tabs.
int ListStores(FILE* out, FILE* err) {
  std::vector<FoundStore> found = DiscoverBookmarkStores(true);
  if (found.empty()) {
    std::fputs("quillfen-cli: no browser's bookmark file was found\n", err);
    return CLI_EXIT_NOTHING;
  }
  for (const FoundStore& store : found) {
    char when[32] = "unknown";
    std::time_t seconds = static_cast<std::time_t>(store.lastChange);
    std::tm parts{};
    if (store.lastChange > 0 && gmtime_r(&seconds, &parts))
      std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &parts);
    std::string links = store.links < 0 ? "unreadable" : std::to_string(store.links);
    std::fprintf(out, "%s\t%s\t%s\t%s\t%s\n", store.browser.c_str(), store.profile.c_str(),
                 store.path.c_str(), links.c_str(), when);
  }
  return CLI_EXIT_CLEAN;
}

}  // namespace

std::string FormatResultRows(const NodeList& tree) {
  std::vector<const LinkEntry*> rows;
  std::vector<Node*> resume;
  Node* n = tree.head();
  for (;;) {
    if (!n->next) {
      if (resume.empty()) break;
      n = resume.back();
      resume.pop_back();
      continue;
    }
    const LinkEntry* entry = LinkEntry::of(n);
    if (entry->name) {
      if (!entry->children.isEmpty()) {
        resume.push_back(n->next);
        n = entry->children.head();
        continue;
      }
      if (IsProblemResult(entry->checkResult.load(std::memory_order_acquire)))
        rows.push_back(entry);
    }
    n = n->next;
  }
  std::stable_sort(rows.begin(), rows.end(), [](const LinkEntry* a, const LinkEntry* b) {
    return CompareResults(reinterpret_cast<ItemData>(a), reinterpret_cast<ItemData>(b),
                          RESULT_COLUMN_NAME) < 0;
  });
  std::string text;
  for (const LinkEntry* entry : rows) {
    for (int column = 0; column < RESULT_COLUMN_COUNT; ++column) {
      if (column) text += '\t';
      AppendCell(text, GetResultText(*entry, column));
    }
    text += '\n';
  }
  return text;
}

void InterruptCli() {
  interrupted.store(true);
  std::lock_guard<std::mutex> hold(SessionLock());
  if (!activeSession) return;
  Window* runWindow = activeSession->runWindow;
  // As a click on Abort: on the window's thread, and only while the run is active.
  activeSession->inner->post([runWindow](Controls&) {
    if (CleanRunActive()) OnCleanButton(runWindow);
  });
}

void StopAfterAnySave(FILE* err, std::unique_lock<std::mutex>& holder) {
  holder = std::unique_lock<std::mutex>(SaveLock(), std::try_to_lock);
  if (!holder.owns_lock()) {
    std::fputs("quillfen-cli: saving; waiting for the save to end before stopping\n", err);
    std::fflush(err);
    holder.lock();
    std::fputs("quillfen-cli: the save has ended; stopped\n", err);
  } else if (SavingHasBegun()) {
    std::fputs("quillfen-cli: interrupted after saving\n", err);
  } else {
    std::fputs("quillfen-cli: interrupted, nothing saved\n", err);
  }
  std::fflush(err);
}

int RunCli(const std::vector<std::string>& args, FILE* out, FILE* err) {
  interrupted.store(false);
  CliOptions options;
  std::string error;
  if (!ParseCliOptions(args, options, error)) {
    std::fprintf(err, "quillfen-cli: %s (see --help)\n", Visible(error).c_str());
    return CLI_EXIT_NOTHING;
  }
  if (options.help) {
    std::fputs(CliUsage(), out);
    return CLI_EXIT_CLEAN;
  }
  if (options.version) {
    std::fputs("quillfen-cli 1.1\n", out);
    return CLI_EXIT_CLEAN;
  }
  if (options.listStores) return ListStores(out, err);

  Settings* record = new (std::nothrow) Settings();
  if (!record) {
    std::fputs("quillfen-cli: out of memory\n", err);
    return CLI_EXIT_NOTHING;
  }
  Settings* previous = settings;
  settings = record;
  LoadSettings();
  ApplyCliOptions(options, *record);
  std::string unreadable = UnreadableStore(*record);
  std::string whyNot;
  std::vector<ReportRow> report;
  CollectRunReport(!options.report.empty());
  int status = RunOnce(options.yes, out, whyNot, &report);
  CollectRunReport(false);
  if (!options.report.empty() && status != CLI_EXIT_NOTHING) {
    const std::string& name = options.report;
    bool json = name.size() >= 5 && name.compare(name.size() - 5, 5, ".json") == 0;
    std::string text = json ? FormatReportJson(report) : FormatReportCsv(report);
    if (name == "-") {
      std::fputs("\n", out);
      std::fwrite(text.data(), 1, text.size(), out);
      std::fflush(out);
    } else if (!WriteReportFile(name, text)) {
      std::fprintf(err, "quillfen-cli: cannot write the report '%s'\n", Visible(name).c_str());
      if (status != CLI_EXIT_ABORTED && status != CLI_EXIT_SAVE_FAILED)
        status = CLI_EXIT_NOTHING;
    }
  }
  // A store that could not be read is reported as such even when the other one was checked.
  if (!unreadable.empty() && status != CLI_EXIT_ABORTED) {
    status = CLI_EXIT_NOTHING;
    whyNot = unreadable;
  }
  if (!whyNot.empty() &&
      (status == CLI_EXIT_NOTHING || status == CLI_EXIT_ABORTED || status == CLI_EXIT_SAVE_FAILED))
    std::fprintf(err, "quillfen-cli: %s\n", Visible(whyNot).c_str());
  settings = previous;
  delete record;
  return status;
}
