// Loading the Settings record from the registry (with the browsers' own entries as the
// second layer) and saving it under the program's own key below HKEY_CURRENT_USER.
// UI thread only, while no clean run is active.
#pragma once

#include <cstdint>
#include <string>

// The program's own key below HKEY_CURRENT_USER.
inline constexpr char SETTINGS_KEY_PATH[] = "Software\\Tarnwell\\Quillfen";

// Fills *settings: defaults, then what the browsers' registry entries tell (Favorites folder,
// bookmark file, proxy), then the program's nine stored values. Returns whether the program's
// own key exists (could be opened); when it does not, the caller asks for the settings.
bool LoadSettings();

// Writes the nine values of *settings under the program's key, creating it, all in one
// replacement of the store. False when they could not be saved (the stored values are then
// the old ones); the record keeps its values whatever the registry does.
bool SaveSettings();

// Where the settings are stored, for the message of a failed save.
std::string SettingsStoreName();

// The port number of a "host:port" text as the proxy entry gives it: leading blanks and a
// sign are taken, reading stops at the first non-digit, 0 when no digit follows.
uint32_t ParsePortNumber(const char* text);
