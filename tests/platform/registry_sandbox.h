// A private registry for one test: the per-user store under a temporary $XDG_CONFIG_HOME and
// the machine-wide store in the same temporary folder. Restores both on destruction.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry.h"

class RegistrySandbox {
 public:
  RegistrySandbox() {
    char pattern[] = "/tmp/qf-registry-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    dir_ = made ? made : "/tmp/qf-registry-failed";
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadXdg_ = old != nullptr;
    if (old) oldXdg_ = old;
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    SetMachineRegistryFile((dir_ + "/etc/machine.reg").c_str());
  }
  ~RegistrySandbox() {
    if (hadXdg_) {
      ::setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    SetMachineRegistryFile(nullptr);
    std::error_code ec;
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir_, ec))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  const std::string& dir() const { return dir_; }
  std::string userFile() const { return dir_ + "/config/quillfen/user.reg"; }
  std::string machineFile() const { return dir_ + "/etc/machine.reg"; }

  static void WriteFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void writeUser(const std::string& text) const { WriteFile(userFile(), text); }
  void writeMachine(const std::string& text) const { WriteFile(machineFile(), text); }

 private:
  std::string dir_;
  std::string oldXdg_;
  bool hadXdg_ = false;
};
