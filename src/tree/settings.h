// The one Settings record of the process, reached through `settings`.
// Written on the UI thread at start-up and when the Settings dialog is confirmed (never
// during a clean run); read by every thread. During a run the clean-run thread alone sets
// bookmarkTitle and walks favoritesFolder in place before any worker exists.
#pragma once

#include <cstdint>

#include "tree/text_string.h"

constexpr uint32_t FLAG_CLEAN_FAVORITES = 0x001;
constexpr uint32_t FLAG_CLEAN_BOOKMARKS = 0x002;
constexpr uint32_t FLAG_SYNCHRONISE = 0x004;
constexpr uint32_t FLAG_BROKEN_ASK = 0x008;
constexpr uint32_t FLAG_BROKEN_DELETE = 0x010;
constexpr uint32_t FLAG_BROKEN_SHIFT = 0x020;
constexpr uint32_t FLAG_USE_PROXY = 0x040;
constexpr uint32_t FLAG_MOVED_ASK = 0x080;
constexpr uint32_t FLAG_MOVED_UPDATE = 0x100;
constexpr uint32_t FLAG_ONLY_OLDER = 0x200;
constexpr uint32_t FLAG_FORBIDDEN_AS_NOT_FOUND = 0x400;
constexpr uint32_t FLAG_SORT_BOOKMARKS = 0x800;
constexpr uint32_t FLAG_ALL_KNOWN = 0xFFF;

constexpr int SETTINGS_TEXT_SIZE = 80;  // proxyHost and bookmarkTitle, with the zero

struct Settings {
  uint32_t flags;
  TextString favoritesFolder;
  TextString bookmarkFile;
  char proxyHost[SETTINGS_TEXT_SIZE];
  uint32_t proxyPort;
  uint32_t olderThanDays;
  char bookmarkTitle[SETTINGS_TEXT_SIZE];
  uint32_t threadCount;
  uint32_t timeout;
  uint32_t retries;
  // At most this many links of one host are checked at the same moment (1 to 64). Read from
  // the registry key only; the Settings dialog does not show it.
  uint32_t hostThreads;
  // The <META ...> tags of the bookmark file's header as the reader found them, each followed
  // by CR LF; the writer puts them back after the DOCTYPE line. Never stored in the registry.
  TextString bookmarkHeader;
  // The description of the whole bookmark file (a <DD> between its heading and its first
  // entry), written back after the heading; no buffer when the file had none.
  TextString bookmarkDescription;
  // The <H1> heading of the bookmark file as read: the bytes between "<H1" and its end tag
  // (attributes, '>' and text), written back unchanged; no buffer when the file had none.
  TextString bookmarkHeading;

  Settings();  // defaults; both locations constructed as empty paths
  ~Settings();
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  void setDefaults();  // every field back to its default (locations emptied)
};

// The process-wide record. Set by start-up (or a test) before anything reads it.
extern Settings* settings;

// Copies text into one of the fixed 80-byte fields, cut to 79 bytes, always terminated.
void CopySettingsText(char (&field)[SETTINGS_TEXT_SIZE], const char* text);
