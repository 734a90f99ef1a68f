// The options of the command-line front end: parsed once, then applied to the Settings
// record for one run (nothing is stored). Any one thread at a time; ApplyCliOptions runs
// while no clean run is active.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Settings;

// Exit statuses of quillfen-cli.
constexpr int CLI_EXIT_CLEAN = 0;        // the run completed without a problem link
constexpr int CLI_EXIT_PROBLEMS = 1;     // the run completed with problem links
constexpr int CLI_EXIT_NOTHING = 2;      // nothing to check, a store unreadable, or a wrong option
constexpr int CLI_EXIT_ABORTED = 3;      // aborted (Ctrl+C), or no server answered at all
constexpr int CLI_EXIT_SAVE_FAILED = 4;  // a save failed or was incomplete

enum class CliOption {
  Bookmarks,
  Favorites,
  NoBookmarks,
  NoFavorites,
  Sync,
  Sort,
  Forbidden,
  OlderThan,
  Broken,
  Moved,
  Proxy,
  NoProxy,
  Threads,
  Timeout,
  Retries,
};

// One change to the settings, as given on the command line.
struct CliChange {
  CliOption option;
  std::string text;     // a path or a proxy host
  uint32_t number = 0;  // a count, or the bits of a --broken / --moved choice, or the port
};

struct CliOptions {
  bool help = false;
  bool version = false;
  bool yes = false;
  bool listStores = false;  // list the browsers' bookmark stores found, then end
  // Where the report of the checked links goes: empty for none, "-" for the standard
  // output (after the log), a name ending in ".json" for JSON, any other name for CSV.
  std::string report;
  std::vector<CliChange> changes;  // applied in the order given, so a later one wins
};

// Parses the arguments (without the program name). False with a one-line message in error
// when an option is unknown, lacks its value or has a wrong one. Paths are made absolute.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// Applies the changes to the record.
void ApplyCliOptions(const CliOptions& options, Settings& record);

// The text --help prints.
const char* CliUsage();
