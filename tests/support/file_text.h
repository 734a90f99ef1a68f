// Whole-file reads and writes for tests that compare stores as text. Any thread.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

inline std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteWhole(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Every regular file below dir, by its path relative to dir, with its content.
inline std::map<std::string, std::string> FilesUnder(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  std::error_code failure;
  for (std::filesystem::recursive_directory_iterator it(dir, failure), end; !failure && it != end;
       ++it)
    if (it->is_regular_file())
      files[std::filesystem::relative(it->path(), dir).generic_string()] = ReadWhole(it->path());
  return files;
}
