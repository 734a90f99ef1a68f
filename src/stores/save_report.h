// What the saves of one run could not do, store by store, so that every failed or partial
// save reaches the log and the front end's outcome. Clean-run thread (the thread that saves).
#pragma once

#include <string>
#include <vector>

struct SaveReport {
  struct Failure {
    std::string store;   // "bookmark file", "Favorites", "settings"
    std::string path;    // the file (or folder) not written
    std::string reason;  // why, as the system says it
  };
  std::vector<Failure> failures;

  void add(std::string store, std::string path, std::string reason) {
    failures.push_back({std::move(store), std::move(path), std::move(reason)});
  }
  bool failed() const { return !failures.empty(); }
};
