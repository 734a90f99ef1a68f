#include "tree/settings.h"

#include <cstring>

Settings* settings = nullptr;

Settings::Settings() {
  TextString::constructAsPath(favoritesFolder);
  TextString::constructAsPath(bookmarkFile);
  setDefaults();
}

Settings::~Settings() {
  bookmarkHeading.release();
  bookmarkDescription.release();
  bookmarkHeader.release();
  bookmarkFile.release();
  favoritesFolder.release();
}

void Settings::setDefaults() {
  flags = FLAG_BROKEN_ASK | FLAG_MOVED_ASK;
  favoritesFolder.clearText();
  bookmarkFile.clearText();
  proxyHost[0] = 0;
  proxyPort = 8080;
  olderThanDays = 30;
  CopySettingsText(bookmarkTitle, "Bookmarks");
  threadCount = 2;
  timeout = 30;
  retries = 5;
  hostThreads = 4;
  bookmarkHeader.release();
  bookmarkDescription.release();
  bookmarkHeading.release();
}

void CopySettingsText(char (&field)[SETTINGS_TEXT_SIZE], const char* text) {
  size_t n = text ? std::strlen(text) : 0;
  if (n > SETTINGS_TEXT_SIZE - 1) n = SETTINGS_TEXT_SIZE - 1;
  if (n) std::memcpy(field, text, n);
  field[n] = 0;
}
