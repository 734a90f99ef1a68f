#include "app/settings_dialog.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tree/settings.h"
#include "app/settings_storage.h"
#include "tree/text_string.h"
#include "ui/dialog_template.h"

namespace {

struct FlagControl {
  int id;
  uint32_t flag;
};

// Every check box and radio button with its bit, in the order they are loaded and saved.
const FlagControl kFlagControls[] = {
    {IDC_CLEAN_FAVORITES, FLAG_CLEAN_FAVORITES},
    {IDC_CLEAN_BOOKMARKS, FLAG_CLEAN_BOOKMARKS},
    {IDC_SYNCHRONISE, FLAG_SYNCHRONISE},
    {IDC_SORT_BOOKMARKS, FLAG_SORT_BOOKMARKS},
    {IDC_FORBIDDEN_AS_NOT_FOUND, FLAG_FORBIDDEN_AS_NOT_FOUND},
    {IDC_BROKEN_ASK, FLAG_BROKEN_ASK},
    {IDC_BROKEN_DELETE, FLAG_BROKEN_DELETE},
    {IDC_BROKEN_SHIFT, FLAG_BROKEN_SHIFT},
    {IDC_MOVED_ASK, FLAG_MOVED_ASK},
    {IDC_MOVED_UPDATE, FLAG_MOVED_UPDATE},
    {IDC_USE_PROXY, FLAG_USE_PROXY},
    {IDC_ONLY_OLDER, FLAG_ONLY_OLDER},
};

// The open-file dialog's name buffer holds 259 characters and its zero.
constexpr size_t kFileNameRoom = 259;

void SetNumber(Controls& controls, int id, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", value);
  controls.setText(id, text);
}

uint32_t GetNumber(Controls& controls, int id) {
  return ReadUnsignedField(controls.getText(id).c_str());
}

// Cuts a text to at most room bytes without splitting a UTF-8 sequence.
std::string CutText(const std::string& text, size_t room) {
  if (text.size() <= room) return text;
  size_t end = room;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

unsigned ReadUnsignedField(const char* text) {
  const char* p = text ? text : "";
  while (*p == ' ' || *p == '\t') ++p;
  if (*p < '0' || *p > '9') return 0;
  uint64_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + static_cast<uint64_t>(*p - '0');
    if (n > 0xFFFFFFFFu) return 0;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return *p ? 0 : static_cast<unsigned>(n);
}

void InitSettingsDialog(Window& window) {
  Controls& controls = window.controls();
  for (const FlagControl& fc : kFlagControls)
    controls.setChecked(fc.id, (settings->flags & fc.flag) != 0);
  controls.setText(IDC_FAVORITES_FOLDER, settings->favoritesFolder.c_str());
  controls.setText(IDC_BOOKMARK_FILE, settings->bookmarkFile.c_str());
  controls.setText(IDC_PROXY_HOST, settings->proxyHost);
  SetNumber(controls, IDC_OLDER_DAYS, settings->olderThanDays);
  SetNumber(controls, IDC_PROXY_PORT, settings->proxyPort);
  SetNumber(controls, IDC_THREADS, settings->threadCount);
  SetNumber(controls, IDC_TIMEOUT, settings->timeout);
  SetNumber(controls, IDC_RETRIES, settings->retries);
  UpdateSettingsControls(controls);
  controls.setTextLimit(IDC_FAVORITES_FOLDER, SETTINGS_PATH_LIMIT);
  controls.setTextLimit(IDC_BOOKMARK_FILE, SETTINGS_PATH_LIMIT);
  controls.setTextLimit(IDC_PROXY_HOST, SETTINGS_PROXY_LIMIT);
}

void UpdateSettingsControls(Controls& controls) {
  bool favorites = controls.isChecked(IDC_CLEAN_FAVORITES);
  controls.setEnabled(IDC_FAVORITES_FOLDER, favorites);
  controls.setEnabled(IDC_BROWSE_FAVORITES, favorites);
  bool bookmarks = controls.isChecked(IDC_CLEAN_BOOKMARKS);
  controls.setEnabled(IDC_BOOKMARK_FILE, bookmarks);
  controls.setEnabled(IDC_BROWSE_BOOKMARKS, bookmarks);
  bool proxy = controls.isChecked(IDC_USE_PROXY);
  controls.setEnabled(IDC_PROXY_HOST, proxy);
  controls.setEnabled(IDC_PROXY_PORT, proxy);
  controls.setEnabled(IDC_OLDER_DAYS, controls.isChecked(IDC_ONLY_OLDER));
}

bool ApplySettingsDialog(Window& window) {
  Controls& controls = window.controls();
  uint32_t flags = 0;
  for (const FlagControl& fc : kFlagControls)
    if (controls.isChecked(fc.id)) flags |= fc.flag;
  settings->flags = flags;
  // Taken as typed: the next start normalises them.
  settings->favoritesFolder.assign(controls.getText(IDC_FAVORITES_FOLDER).c_str());
  settings->bookmarkFile.assign(controls.getText(IDC_BOOKMARK_FILE).c_str());
  CopySettingsText(settings->proxyHost, controls.getText(IDC_PROXY_HOST).c_str());
  settings->proxyPort = GetNumber(controls, IDC_PROXY_PORT);
  settings->olderThanDays = GetNumber(controls, IDC_OLDER_DAYS);
  settings->threadCount = GetNumber(controls, IDC_THREADS);
  settings->timeout = GetNumber(controls, IDC_TIMEOUT);
  settings->retries = GetNumber(controls, IDC_RETRIES);
  if (settings->threadCount == 0) settings->threadCount = 1;
  if (settings->threadCount > 64) settings->threadCount = 64;
  return SaveSettings();
}

void BrowseFavoritesFolder(Window& window, int editId) {
  // The folder browser starts from nothing: the edit's text is not handed to it.
  std::string chosen;
  if (window.browseForFolder("Select favorites folder.", chosen) && !chosen.empty())
    window.controls().setText(editId, chosen.c_str());
}

void BrowseBookmarkFile(Window& window, int editId) {
  std::string text = window.controls().getText(editId);
  TextString path;
  path.assign(text.c_str());
  int32_t split = path.fileNamePart();
  std::string directory;
  std::string fileName;
  if (split != TEXT_NONE) {
    directory = text.substr(0, static_cast<size_t>(split));
    fileName = CutText(text.substr(static_cast<size_t>(split)), kFileNameRoom);
  }
  std::string value = directory + fileName;
  // Every kind of bookmark file: the HTML file, the browsers' JSON file named "Bookmarks" and
  // Firefox's database.
  const std::vector<std::pair<std::string, std::string>> filters = {
      {"Bookmark files", "*.HTM;*.HTML;Bookmarks;places.sqlite"},
      {"HTML files", "*.HTM;*.HTML"},
      {"Browser bookmarks (Bookmarks)", "Bookmarks"},
      {"Firefox bookmarks (places.sqlite)", "places.sqlite"},
      {"All files", "*.*"},
  };
  if (!window.chooseOpenFile("Select bookmark file", filters, value)) return;
  TextString chosen;
  TextString::constructAsPath(chosen);
  chosen.assignPath(value.c_str());
  window.controls().setText(editId, chosen.c_str());
}

SettingsDialogProc::SettingsDialogProc() { RegisterSettingsDialogTemplate(); }

bool SettingsDialogProc::onInit(Window& window) {
  InitSettingsDialog(window);
  return true;
}

void SettingsDialogProc::onCommand(Window& window, int id, int code) {
  if (code != 0) return;
  switch (id) {
    case ID_OK:
      saveFailed_ = !ApplySettingsDialog(window);
      window.endDialog(1);
      break;
    case ID_CANCEL:
      window.endDialog(0);
      break;
    case IDC_CLEAN_FAVORITES:
    case IDC_CLEAN_BOOKMARKS:
    case IDC_USE_PROXY:
    case IDC_ONLY_OLDER:
      UpdateSettingsControls(window.controls());
      break;
    case IDC_BROWSE_FAVORITES:
      BrowseFavoritesFolder(window, IDC_FAVORITES_FOLDER);
      break;
    case IDC_BROWSE_BOOKMARKS:
      BrowseBookmarkFile(window, IDC_BOOKMARK_FILE);
      break;
    default:
      break;
  }
}

void SettingsDialogProc::onClose(Window& window) { window.endDialog(0); }
