#include "app/cli_options.h"

#include <filesystem>
#include <system_error>

#include "tree/settings.h"

namespace {

constexpr uint32_t kBrokenBits = FLAG_BROKEN_ASK | FLAG_BROKEN_DELETE | FLAG_BROKEN_SHIFT;
constexpr uint32_t kMovedBits = FLAG_MOVED_ASK | FLAG_MOVED_UPDATE;
// The probe turns the time-out into milliseconds in 32 bits.
constexpr uint64_t kMaxTimeout = 0xFFFFFFFFu / 1000;

enum class Value { None, Text, Number, Choice };

struct OptionInfo {
  const char* name;
  CliOption option;
  Value value;
};

const OptionInfo kOptions[] = {
    {"--bookmarks", CliOption::Bookmarks, Value::Text},
    {"--favorites", CliOption::Favorites, Value::Text},
    {"--no-bookmarks", CliOption::NoBookmarks, Value::None},
    {"--no-favorites", CliOption::NoFavorites, Value::None},
    {"--sync", CliOption::Sync, Value::None},
    {"--sort", CliOption::Sort, Value::None},
    {"--forbidden", CliOption::Forbidden, Value::None},
    {"--older-than", CliOption::OlderThan, Value::Number},
    {"--broken", CliOption::Broken, Value::Choice},
    {"--moved", CliOption::Moved, Value::Choice},
    {"--proxy", CliOption::Proxy, Value::Text},
    {"--no-proxy", CliOption::NoProxy, Value::None},
    {"--threads", CliOption::Threads, Value::Number},
    {"--timeout", CliOption::Timeout, Value::Number},
    {"--retries", CliOption::Retries, Value::Number},
};

// Decimal digits only; false when there are none or another character. Saturates at the
// largest 64-bit value, which every caller then treats as too large (or clamps).
bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return true;
}

bool MakePath(const std::string& text, std::string& path, std::string& error, const char* name) {
  if (text.empty()) {
    error = std::string(name) + " needs a path";
    return false;
  }
  std::error_code failure;
  std::filesystem::path absolute = std::filesystem::absolute(text, failure);
  path = failure ? text : absolute.lexically_normal().string();
  // A folder path keeps no trailing separator: the Favorites walk appends its own.
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.size() >= static_cast<size_t>(PATH_CAPACITY)) {
    error = std::string(name) + " path is too long";
    return false;
  }
  return true;
}

bool ParseProxy(const std::string& text, CliChange& change, std::string& error) {
  std::string host = text;
  change.number = 0;
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    uint64_t port = 0;
    if (!ParseNumber(text.substr(colon + 1), port) || port == 0 || port > 65535) {
      error = "--proxy needs HOST or HOST:PORT with a port from 1 to 65535";
      return false;
    }
    change.number = static_cast<uint32_t>(port);
  }
  if (host.empty() || host.size() >= static_cast<size_t>(SETTINGS_TEXT_SIZE)) {
    error = "--proxy needs a host name of 1 to 79 characters";
    return false;
  }
  change.text = host;
  return true;
}

bool ParseChoice(const OptionInfo& info, const std::string& text, CliChange& change,
                 std::string& error) {
  if (info.option == CliOption::Broken) {
    if (text == "ask")
      change.number = FLAG_BROKEN_ASK;
    else if (text == "delete")
      change.number = FLAG_BROKEN_DELETE;
    else if (text == "shift")
      change.number = FLAG_BROKEN_SHIFT;
    else if (text == "leave")
      change.number = 0;
    else {
      error = "--broken needs ask, delete, shift or leave";
      return false;
    }
  } else {
    if (text == "ask")
      change.number = FLAG_MOVED_ASK;
    else if (text == "update")
      change.number = FLAG_MOVED_UPDATE;
    else if (text == "leave")
      change.number = 0;
    else {
      error = "--moved needs ask, update or leave";
      return false;
    }
  }
  return true;
}

bool ParseValue(const OptionInfo& info, const std::string& value, CliChange& change,
                std::string& error) {
  switch (info.option) {
    case CliOption::Bookmarks:
    case CliOption::Favorites:
      return MakePath(value, change.text, error, info.name);
    case CliOption::Proxy:
      return ParseProxy(value, change, error);
    case CliOption::Broken:
    case CliOption::Moved:
      return ParseChoice(info, value, change, error);
    default:
      break;
  }
  uint64_t number = 0;
  if (!ParseNumber(value, number)) {
    error = std::string(info.name) + " needs a whole number, not '" + value + "'";
    return false;
  }
  if (info.option == CliOption::Threads) {
    change.number = static_cast<uint32_t>(number < 1 ? 1 : number > 64 ? 64 : number);
    return true;
  }
  uint64_t limit = info.option == CliOption::Timeout ? kMaxTimeout : 0xFFFFFFFFu;
  if (number > limit) {
    error = std::string(info.name) + " takes at most " + std::to_string(limit);
    return false;
  }
  change.number = static_cast<uint32_t>(number);
  return true;
}

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options,
                     std::string& error) {
  options = CliOptions{};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string name = arg, value;
    bool inlineValue = false;
    size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      inlineValue = true;
    }
    if (name == "--help" || name == "--version" || name == "--yes" || name == "--list-stores") {
      if (inlineValue) {
        error = name + " takes no value";
        return false;
      }
      if (name == "--help")
        options.help = true;
      else if (name == "--version")
        options.version = true;
      else if (name == "--list-stores")
        options.listStores = true;
      else
        options.yes = true;
      continue;
    }
    if (name == "--report") {
      if (!inlineValue) {
        if (i + 1 >= args.size()) {
          error = "--report needs a file name (or - for the standard output)";
          return false;
        }
        value = args[++i];
      }
      if (value.empty()) {
        error = "--report needs a file name (or - for the standard output)";
        return false;
      }
      options.report = value;
      continue;
    }
    const OptionInfo* info = nullptr;
    for (const OptionInfo& candidate : kOptions)
      if (name == candidate.name) info = &candidate;
    if (!info) {
      error = arg.rfind('-', 0) == 0 ? "unknown option '" + name + "'"
                                     : "unexpected argument '" + arg + "'";
      return false;
    }
    CliChange change{info->option, {}, 0};
    if (info->value == Value::None) {
      if (inlineValue) {
        error = name + " takes no value";
        return false;
      }
    } else {
      if (!inlineValue) {
        if (i + 1 >= args.size()) {
          error = name + " needs a value";
          return false;
        }
        value = args[++i];
      }
      if (!ParseValue(*info, value, change, error)) return false;
    }
    options.changes.push_back(std::move(change));
  }
  return true;
}

void ApplyCliOptions(const CliOptions& options, Settings& record) {
  for (const CliChange& change : options.changes) {
    switch (change.option) {
      case CliOption::Bookmarks:
        record.bookmarkFile.assign(change.text.c_str());
        record.flags |= FLAG_CLEAN_BOOKMARKS;
        break;
      case CliOption::Favorites:
        record.favoritesFolder.assign(change.text.c_str());
        record.flags |= FLAG_CLEAN_FAVORITES;
        break;
      case CliOption::NoBookmarks:
        record.flags &= ~FLAG_CLEAN_BOOKMARKS;
        break;
      case CliOption::NoFavorites:
        record.flags &= ~FLAG_CLEAN_FAVORITES;
        break;
      case CliOption::Sync:
        record.flags |= FLAG_SYNCHRONISE;
        break;
      case CliOption::Sort:
        record.flags |= FLAG_SORT_BOOKMARKS;
        break;
      case CliOption::Forbidden:
        record.flags |= FLAG_FORBIDDEN_AS_NOT_FOUND;
        break;
      case CliOption::OlderThan:
        record.flags |= FLAG_ONLY_OLDER;
        record.olderThanDays = change.number;
        break;
      case CliOption::Broken:
        record.flags = (record.flags & ~kBrokenBits) | change.number;
        break;
      case CliOption::Moved:
        record.flags = (record.flags & ~kMovedBits) | change.number;
        break;
      case CliOption::Proxy:
        record.flags |= FLAG_USE_PROXY;
        CopySettingsText(record.proxyHost, change.text.c_str());
        if (change.number) record.proxyPort = change.number;
        break;
      case CliOption::NoProxy:
        record.flags &= ~FLAG_USE_PROXY;
        break;
      case CliOption::Threads:
        record.threadCount = change.number;
        break;
      case CliOption::Timeout:
        record.timeout = change.number;
        break;
      case CliOption::Retries:
        record.retries = change.number;
        break;
    }
  }
}

const char* CliUsage() {
  return "Usage: quillfen-cli [OPTION]...\n"
         "Checks every link of the bookmark file and the Favorites folder once, with the\n"
         "stored settings changed by the options for this run only, and saves the repaired\n"
         "stores.\n"
         "\n"
         "  --bookmarks FILE        clean this bookmark file\n"
         "  --favorites DIR         clean this Favorites folder\n"
         "  --no-bookmarks          do not clean the bookmark file\n"
         "  --no-favorites          do not clean the Favorites folder\n"
         "  --sync                  give each store the links only the other one has\n"
         "  --sort                  sort the bookmarks by title (separators are dropped)\n"
         "  --forbidden             treat Forbidden (403) as Not Found\n"
         "  --older-than DAYS       check only links not visited for DAYS days\n"
         "  --broken ask|delete|shift|leave\n"
         "                          what to do with links that no longer work\n"
         "  --moved ask|update|leave\n"
         "                          what to do with pages that have moved\n"
         "  --proxy HOST[:PORT]     connect through this HTTP proxy\n"
         "  --no-proxy              connect directly\n"
         "  --threads N             check up to N links at once (1 to 64)\n"
         "  --timeout SECONDS       how long to wait for a server's reply\n"
         "  --retries N             how often to try a failed connection again\n"
         "  --report FILE           write every checked link's outcome to FILE: CSV, or JSON\n"
         "                          when FILE ends in .json; - writes it after the log\n"
         "  --yes                   save the chosen actions where the program would ask\n"
         "  --list-stores           list the browsers' bookmark files found (browser, profile,\n"
         "                          file, links, last change), one a line, and exit\n"
         "  --help                  show this help and exit\n"
         "  --version               show the version and exit\n"
         "\n"
         "Where the program would ask, the problem links are listed instead, one a line\n"
         "(Name, Type, Problem, Action, URL, New URL, separated by tabs), and nothing is\n"
         "saved unless --yes is given.\n"
         "\n"
         "Exit status: 0 no problem link; 1 problem links found; 2 nothing to check, a store\n"
         "that cannot be read, or a wrong option; 3 aborted, or no server answered any link\n"
         "(nothing changed); 4 a save failed or was\n"
         "incomplete (the log names the store and the files not saved). Ctrl+C aborts the\n"
         "run as the Abort button does; a second Ctrl+C ends at once without saving, or,\n"
         "once saving has begun, waits for the save to end.\n";
}
