#include "results/results_dialog.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "results/report_results.h"
#include "results/run_report.h"
#include "ui/dialog_template.h"

namespace {

// A row's item data is the address of its entry.
LinkEntry* EntryOf(ItemData data) {
  return reinterpret_cast<LinkEntry*>(data);  // NOLINT(performance-no-int-to-ptr)
}

std::atomic<LinkOpener> linkOpener{nullptr};

void OpenLink(const LinkEntry& entry) {
  if (LinkOpener open = linkOpener.load()) open(entry.url.c_str());
}

// The entry of a row, null when the row does not exist.
LinkEntry* RowEntry(Controls& controls, int row) {
  if (row < 0 || row >= controls.getListRowCount(IDC_RESULTS_LIST)) return nullptr;
  return EntryOf(controls.getListRowData(IDC_RESULTS_LIST, row));
}

void RedrawRow(Controls& controls, int row) { controls.redrawListRows(IDC_RESULTS_LIST, row, row); }

}  // namespace

void SetLinkOpener(LinkOpener open) { linkOpener.store(open); }

namespace {

// One row per problem link, in depth-first walk order. The walk keeps its own stack so that
// a deeply nested tree cannot exhaust the thread's stack.
void AddProblemItems(Controls& controls, NodeList& tree) {
  std::vector<Node*> pending;
  Node* node = tree.head();
  int row = 0;
  for (;;) {
    if (!node->next) {  // end boundary of a list: back to where its folder was
      if (pending.empty()) break;
      node = pending.back();
      pending.pop_back();
      continue;
    }
    LinkEntry* entry = LinkEntry::of(node);
    Node* after = node->next;
    if (entry->name) {
      if (!entry->children.isEmpty()) {
        pending.push_back(after);
        node = entry->children.head();
        continue;
      }
      if (IsProblemResult(entry->checkResult.load())) {
        int at = controls.insertListRow(IDC_RESULTS_LIST, row, reinterpret_cast<ItemData>(entry),
                                        nullptr);
        if (at >= 0) ++row;
      }
    }
    node = after;
  }
}

void StepAction(LinkEntry& entry) {
  int32_t result = entry.checkResult.load();
  if (result == CHECK_MOVED) {
    entry.action = entry.action == ACTION_UPDATE ? ACTION_LEAVE : ACTION_UPDATE;
  } else if (IsNotFoundGroupResult(result)) {
    int32_t next = entry.action + 1;
    entry.action = next > ACTION_SHIFT || next < ACTION_LEAVE ? ACTION_LEAVE : next;
  }
}

const char* const COLUMN_HEADINGS[RESULT_COLUMN_COUNT] = {"Name",   "Type", "Problem",
                                                          "Action", "URL",  "New URL"};

}  // namespace

ResultsDialogProc::ResultsDialogProc(NodeList& tree) : tree_(tree) {
  RegisterResultsDialogTemplate();
}

bool ResultsDialogProc::onInit(Window& window) {
  InitResultsDialog(window, tree_);
  return true;
}

void ResultsDialogProc::onCommand(Window& window, int id, int code) {
  if (code != 0) return;
  if (id == ID_OK || id == ID_CANCEL) {
    window.endDialog(id == ID_OK ? 1 : 0);
    return;
  }
  struct GroupButton {
    int id;
    int32_t group;
    int32_t action;
  };
  static constexpr GroupButton GROUP_BUTTONS[] = {
      {IDC_DELETE_ALL, GROUP_NOT_FOUND, ACTION_DELETE},
      {IDC_SHIFT_ALL, GROUP_NOT_FOUND, ACTION_SHIFT},
      {IDC_LEAVE_ALL_BROKEN, GROUP_NOT_FOUND, ACTION_LEAVE},
      {IDC_UPDATE_ALL, GROUP_MOVED, ACTION_UPDATE},
      {IDC_LEAVE_ALL_MOVED, GROUP_MOVED, ACTION_LEAVE},
  };
  const GroupButton* button = nullptr;
  for (const GroupButton& b : GROUP_BUTTONS)
    if (b.id == id) button = &b;
  if (!button) return;
  SetActions(button->group, button->action, tree_);
  window.controls().redrawListRows(IDC_RESULTS_LIST, -1, -1);
}

void ResultsDialogProc::onClose(Window& window) { window.endDialog(0); }

int ResultsDialogProc::onListNotify(Window& window, const ListNotify& notify) {
  if (notify.listId != IDC_RESULTS_LIST) return 0;
  switch (notify.event) {
    case ListEvent::Click:
    case ListEvent::DoubleClick:
    case ListEvent::SetFocus:
      OnResultsClick(window, notify);
      return 0;
    case ListEvent::ColumnClick:
      if (notify.column >= 0 && notify.column < RESULT_COLUMN_COUNT)
        window.controls().sortList(IDC_RESULTS_LIST, CompareResults, notify.column);
      return 0;
    case ListEvent::EndLabelEdit:
      return OnRenameDone(window, notify.row, notify.text);
    case ListEvent::ContextMenu:
      ShowResultsMenu(window, notify.row, notify.screenX, notify.screenY);
      return 0;
  }
  return 0;
}

std::string ResultsDialogProc::listCellText(Window&, int listId, ItemData data, int column) {
  if (listId != IDC_RESULTS_LIST || !data) return {};
  return GetResultText(*EntryOf(data), column);
}

void InitResultsDialog(Window& dialog, NodeList& tree) {
  Controls& controls = dialog.controls();
  for (int column = 0; column < RESULT_COLUMN_COUNT; ++column)
    controls.insertListColumn(IDC_RESULTS_LIST, column, COLUMN_HEADINGS[column], 0);
  AddProblemItems(controls, tree);
  controls.sortList(IDC_RESULTS_LIST, CompareResults, RESULT_COLUMN_NAME);
  for (int column = 0; column < RESULT_COLUMN_COUNT; ++column)
    controls.setListColumnWidth(IDC_RESULTS_LIST, column, -1);
  // The action words are short; the extra room makes the column an easier target to click.
  controls.setListColumnWidth(
      IDC_RESULTS_LIST, RESULT_COLUMN_ACTION,
      controls.getListColumnWidth(IDC_RESULTS_LIST, RESULT_COLUMN_ACTION) + 10);
}

const char* GetResultText(const LinkEntry& entry, int column) {
  switch (column) {
    case RESULT_COLUMN_NAME:
      return entry.name ? entry.name : "";
    case RESULT_COLUMN_TYPE:
      if (entry.source == SOURCE_BOOKMARKS) return "Book";
      if (entry.source == SOURCE_FAVORITES) return "Fav";
      return "Both";
    case RESULT_COLUMN_PROBLEM: {
      // The dialog lists problem links only; anything else shows as the not-found group.
      int32_t result = entry.checkResult.load();
      return IsProblemResult(result) ? VerdictName(result) : "Not found";
    }
    case RESULT_COLUMN_ACTION:
      switch (entry.action) {
        case ACTION_DELETE:
          return "Delete";
        case ACTION_SHIFT:
          return "Shift";
        case ACTION_UPDATE:
          return "Update";
        default:
          return "Leave";
      }
    case RESULT_COLUMN_URL:
      return entry.url.c_str();
    case RESULT_COLUMN_NEW_URL:
      return entry.newUrl.c_str();
    default:
      return "";
  }
}

void GetResultText(const LinkEntry& entry, int column, char* buffer, size_t size) {
  if (!buffer || size == 0) return;
  const char* text = GetResultText(entry, column);
  size_t length = std::strlen(text);
  if (length >= size) length = size - 1;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

int CompareResults(ItemData entry1, ItemData entry2, intptr_t column) {
  const LinkEntry* a = EntryOf(entry1);
  const LinkEntry* b = EntryOf(entry2);
  if (!a || !b) return (a != nullptr) - (b != nullptr);
  int col = static_cast<int>(column);
  char text1[RESULT_TEXT_SIZE];
  char text2[RESULT_TEXT_SIZE];
  GetResultText(*a, col, text1, sizeof text1);
  GetResultText(*b, col, text2, sizeof text2);
  int order = CompareTextNoCase(text1, text2);
  if (order != 0 || col == RESULT_COLUMN_NAME) return order;
  GetResultText(*a, RESULT_COLUMN_NAME, text1, sizeof text1);
  GetResultText(*b, RESULT_COLUMN_NAME, text2, sizeof text2);
  return CompareTextNoCase(text1, text2);
}

void OnResultsClick(Window& dialog, const ListNotify& notify) {
  // The click that moves the focus into the list arrives as a click too; stepping on both
  // would change the action twice for one click.
  if (notify.event == ListEvent::SetFocus) return;
  bool doubleClick = notify.event == ListEvent::DoubleClick;
  if (notify.column == RESULT_COLUMN_NAME) {
    if (!doubleClick) return;
  } else if (notify.column != RESULT_COLUMN_ACTION) {
    return;
  }
  Controls& controls = dialog.controls();
  LinkEntry* entry = RowEntry(controls, notify.row);
  if (!entry) return;
  if (notify.column == RESULT_COLUMN_NAME) {
    OpenLink(*entry);
    return;
  }
  StepAction(*entry);
  RedrawRow(controls, notify.row);
}

void ShowResultsMenu(Window& dialog, int row, int screenX, int screenY) {
  Controls& controls = dialog.controls();
  LinkEntry* entry = RowEntry(controls, row);
  if (!entry) return;
  bool hasNewUrl = !entry->newUrl.isEmpty();
  std::vector<MenuItem> items;
  if (IsNotFoundGroupResult(entry->checkResult.load())) {
    items = {{ACTION_DELETE, "&Delete"},         {ACTION_SHIFT, "&Shift"},
             {ACTION_LEAVE, "&Leave"},           {0, nullptr},
             {RESULTS_MENU_BROWSER, "&Browser"}, {0, nullptr},
             {RESULTS_MENU_RENAME, "&Rename"},   {RESULTS_MENU_COPY_URL, "&Copy URL"}};
  } else {
    items = {{ACTION_UPDATE, "&Update"},
             {ACTION_LEAVE, "&Leave"},
             {0, nullptr},
             {RESULTS_MENU_BROWSER, "&Browser"},
             {0, nullptr},
             {RESULTS_MENU_RENAME, "&Rename"},
             {RESULTS_MENU_COPY_URL, "&Copy URL"}};
  }
  if (hasNewUrl) items.push_back({RESULTS_MENU_COPY_NEW_URL, "Copy &New URL"});

  int command = dialog.trackPopupMenu(items, screenX, screenY);
  switch (command) {
    case 0:
      return;
    case RESULTS_MENU_RENAME:
      controls.editListLabel(IDC_RESULTS_LIST, row);
      return;
    case RESULTS_MENU_BROWSER:
      OpenLink(*entry);
      return;
    case RESULTS_MENU_COPY_URL:
      if (!entry->url.isEmpty()) dialog.setClipboardText(entry->url.c_str());
      return;
    case RESULTS_MENU_COPY_NEW_URL:
      if (hasNewUrl) dialog.setClipboardText(entry->newUrl.c_str());
      return;
    default:
      break;
  }
  // Only an action the menu offered reaches the entry.
  for (const MenuItem& item : items) {
    if (item.command == command && command >= ACTION_LEAVE && command <= ACTION_UPDATE) {
      entry->action = command;
      RedrawRow(controls, row);
      return;
    }
  }
}

int OnRenameDone(Window& dialog, int row, const char* text) {
  if (!text) return 0;
  Controls& controls = dialog.controls();
  LinkEntry* entry = RowEntry(controls, row);
  if (!entry) return 0;
  // The editor showed the name decoded (text that is not UTF-8 as Windows-1252) and gives
  // back UTF-8. A name left as it was keeps its bytes; a changed one is written in the
  // encoding it was shown in, as far as that code page holds its characters.
  const char* old = entry->name ? entry->name : "";
  if (ShownAsUtf8(old) == text) return 1;
  std::string bytes;
  if (!IsUtf8Text(old) && Utf8ToWindows1252(text, bytes))
    entry->setName(bytes.c_str());
  else
    entry->setName(text);
  controls.setListCell(IDC_RESULTS_LIST, row, RESULT_COLUMN_NAME, nullptr);
  controls.setListColumnWidth(IDC_RESULTS_LIST, RESULT_COLUMN_NAME, -1);
  controls.redrawListRows(IDC_RESULTS_LIST, row, row + 1);
  return 1;
}
