#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry_sandbox.h"
#include "support/cat.h"

namespace {

// --- Contract of every registry backend -----------------------------------------------

// One backend as the contract tests see it: a place of its own to write keys, and a way to
// take away the right to change them when the backend has one.
class BackendPlace {
 public:
  virtual ~BackendPlace() = default;
  virtual RegistryRoot root() const = 0;
  virtual std::string base() const = 0;  // a key path below root that starts missing
  virtual bool makeReadOnly() = 0;       // false: the backend cannot do this here
};

class FileStorePlace : public BackendPlace {
 public:
  explicit FileStorePlace(RegistryRoot root) : root_(root) {}
  RegistryRoot root() const override { return root_; }
  std::string base() const override { return "Software\\Tarnwell\\ContractTest"; }
  bool makeReadOnly() override { return ::chmod(RegistryFileFor(root_).c_str(), 0444) == 0; }

 private:
  RegistrySandbox sandbox_;
  RegistryRoot root_;
};

struct BackendCase {
  const char* name;
  std::function<std::unique_ptr<BackendPlace>()> make;
};

std::vector<BackendCase> AvailableBackends() {
  return {
      {"UserFile", [] { return std::make_unique<FileStorePlace>(RegistryRoot::CurrentUser); }},
      {"MachineFile", [] { return std::make_unique<FileStorePlace>(RegistryRoot::LocalMachine); }},
  };
}

class RegistryContract : public ::testing::TestWithParam<BackendCase> {
 protected:
  void SetUp() override { place_ = GetParam().make(); }
  RegistryHandle* open(const std::string& sub, bool create) {
    std::string path = place_->base();
    if (!sub.empty()) path += "\\" + sub;
    return RegistryOpen(place_->root(), path.c_str(), create);
  }
  std::unique_ptr<BackendPlace> place_;
};

struct Closer {
  void operator()(RegistryHandle* h) const { RegistryClose(h); }
};
using Handle = std::unique_ptr<RegistryHandle, Closer>;

std::string Query(RegistryHandle* h, const char* name, uint32_t* type) {
  uint32_t size = 0;
  if (RegistryQuery(h, name, type, nullptr, &size) != RegistryStatus::Ok) return "<missing>";
  std::string data(size, '\0');
  if (RegistryQuery(h, name, type, data.data(), &size) != RegistryStatus::Ok) return "<failed>";
  return data;
}

TEST_P(RegistryContract, ValuesOfEveryTypeSurviveClosingAndReopening) {
  std::string binary;
  for (int b = 0; b < 256; ++b) binary += static_cast<char>(b);
  const std::string dword("\x88\x13\x00\x00", 4);
  const std::string text("C:\\Program Files\\\"quoted\" = [x];\0", 33);
  const std::string expand("%USERPROFILE%\\Favorites\0", 24);
  const std::string multi("one\0two\0\0", 9);
  const std::string qword("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  const std::string lines("first\r\nsecond\0", 14);
  {
    Handle h(open("Values", true));
    ASSERT_TRUE(h);
    EXPECT_TRUE(RegistrySet(h.get(), "Text", REG_SZ, text.data(), text.size()));
    EXPECT_TRUE(RegistrySet(h.get(), "Empty", REG_SZ, nullptr, 0));
    EXPECT_TRUE(RegistrySet(h.get(), "Expand", REG_EXPAND_SZ, expand.data(), expand.size()));
    EXPECT_TRUE(RegistrySet(h.get(), "Binary", REG_BINARY, binary.data(), binary.size()));
    EXPECT_TRUE(RegistrySet(h.get(), "Number", REG_DWORD, dword.data(), dword.size()));
    EXPECT_TRUE(RegistrySet(h.get(), "Multi", REG_MULTI_SZ, multi.data(), multi.size()));
    EXPECT_TRUE(RegistrySet(h.get(), "Big", REG_QWORD, qword.data(), qword.size()));
    EXPECT_TRUE(RegistrySet(h.get(), "Lines", REG_SZ, lines.data(), lines.size()));
    EXPECT_TRUE(RegistrySet(h.get(), "Name \"with\" \\ marks", REG_SZ, "x", 2));
  }
  Handle h(open("Values", false));
  ASSERT_TRUE(h);
  uint32_t type = 99;
  EXPECT_EQ(Query(h.get(), "Text", &type), text);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Query(h.get(), "Empty", &type), "");
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Query(h.get(), "Expand", &type), expand);
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(Query(h.get(), "Binary", &type), binary);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(Query(h.get(), "Number", &type), dword);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(Query(h.get(), "Multi", &type), multi);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(Query(h.get(), "Big", &type), qword);
  EXPECT_EQ(type, REG_QWORD);
  EXPECT_EQ(Query(h.get(), "Lines", &type), lines);
  EXPECT_EQ(Query(h.get(), "name \"WITH\" \\ marks", &type), std::string("x\0", 2))
      << "value names are matched ignoring case";
}

TEST_P(RegistryContract, SettingAValueReplacesItsTypeAndData) {
  Handle h(open("", true));
  ASSERT_TRUE(h);
  ASSERT_TRUE(RegistrySet(h.get(), "V", REG_SZ, "long text\0", 10));
  ASSERT_TRUE(RegistrySet(h.get(), "v", REG_DWORD, "\x01\x00\x00\x00", 4));
  uint32_t type = 0;
  EXPECT_EQ(Query(h.get(), "V", &type), std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(type, REG_DWORD);
}

TEST_P(RegistryContract, CreatingAKeyCreatesItsParentsAndKeepsIt) {
  EXPECT_FALSE(Handle(open("A\\B\\C", false)));
  EXPECT_TRUE(Handle(open("A\\B\\C", true)));
  EXPECT_TRUE(Handle(open("A\\B\\C", false))) << "an empty created key is kept";
  EXPECT_TRUE(Handle(open("a\\b", false))) << "parents exist, names ignore case";
  EXPECT_FALSE(Handle(open("A\\B\\D", false)));
}

TEST_P(RegistryContract, MissingKeysAndValues) {
  EXPECT_FALSE(Handle(open("Nowhere", false)));
  Handle h(open("Here", true));
  ASSERT_TRUE(h);
  char buffer[8] = "x";
  uint32_t size = sizeof buffer;
  EXPECT_EQ(RegistryQuery(h.get(), "Absent", nullptr, buffer, &size), RegistryStatus::NotFound);
  EXPECT_FALSE(Handle(RegistryOpen(place_->root(), "\\Leading", true)))
      << "a path starting with a backslash is refused";
}

TEST_P(RegistryContract, ValueTooLongForTheBufferReportsTheSizeNeeded) {
  Handle h(open("", true));
  ASSERT_TRUE(h);
  ASSERT_TRUE(RegistrySet(h.get(), "Text", REG_SZ, "0123456789\0", 11));
  char buffer[10];
  uint32_t size = sizeof buffer;
  uint32_t type = 0;
  EXPECT_EQ(RegistryQuery(h.get(), "Text", &type, buffer, &size), RegistryStatus::MoreData);
  EXPECT_EQ(size, 11u);
  size = 11;
  char fits[11];
  EXPECT_EQ(RegistryQuery(h.get(), "Text", &type, fits, &size), RegistryStatus::Ok);
  EXPECT_STREQ(fits, "0123456789");
}

TEST_P(RegistryContract, DefaultValueHasTheEmptyName) {
  Handle h(open("Class", true));
  ASSERT_TRUE(h);
  ASSERT_TRUE(RegistrySet(h.get(), nullptr, REG_SZ, "handler\0", 8));
  uint32_t type = 0;
  EXPECT_EQ(Query(h.get(), "", &type), std::string("handler\0", 8));
  EXPECT_EQ(Query(h.get(), nullptr, &type), std::string("handler\0", 8));
  ASSERT_TRUE(RegistrySet(h.get(), "", REG_SZ, "other\0", 6));
  EXPECT_EQ(Query(h.get(), nullptr, &type), std::string("other\0", 6));
}

TEST_P(RegistryContract, KeyThatMayNotBeChangedBehavesAsMissing) {
  {
    Handle h(open("Locked", true));
    ASSERT_TRUE(h);
    ASSERT_TRUE(RegistrySet(h.get(), "V", REG_DWORD, "\x05\x00\x00\x00", 4));
  }
  if (!place_->makeReadOnly()) GTEST_SKIP() << "backend cannot be made read-only here";
  EXPECT_FALSE(Handle(open("Locked", false)));
  EXPECT_FALSE(Handle(open("Locked", true)));
  EXPECT_FALSE(Handle(open("Other", true)));
}

INSTANTIATE_TEST_SUITE_P(Backends, RegistryContract, ::testing::ValuesIn(AvailableBackends()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The .reg text files --------------------------------------------------------------

std::string UserValue(const char* path, const char* name, uint32_t* type = nullptr) {
  Handle h(RegistryOpen(RegistryRoot::CurrentUser, path, false));
  if (!h) return "<no key>";
  uint32_t t = 0;
  std::string v = Query(h.get(), name, &t);
  if (type) *type = t;
  return v;
}

TEST(RegistryFile, IsWrittenInTheRegistrysExportFormat) {
  RegistrySandbox box;
  {
    Handle h(RegistryOpen(RegistryRoot::CurrentUser, "Software\\Tarnwell\\Quillfen", true));
    ASSERT_TRUE(h);
    RegistrySet(h.get(), "Favorites", REG_SZ, "C:\\Fav \"x\"\0", 11);
    RegistrySet(h.get(), "Port", REG_DWORD, "\x90\x1f\x00\x00", 4);
    RegistrySet(h.get(), "Proxy", REG_SZ, nullptr, 0);
    RegistrySet(h.get(), nullptr, REG_BINARY, "\x01\xff", 2);
  }
  EXPECT_EQ(RegistrySandbox::ReadFile(box.userFile()),
            "REGEDIT4\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Tarnwell\\Quillfen]\n"
            "\"Favorites\"=\"C:\\\\Fav \\\"x\\\"\"\n"
            "\"Port\"=dword:00001f90\n"
            "\"Proxy\"=hex(1):\n"
            "@=hex:01,ff\n"
            "\n");
  struct stat st;
  ASSERT_EQ(::stat(box.userFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the user's settings are private";
}

TEST(RegistryFile, ReadsAHandWrittenExport) {
  RegistrySandbox box;
  box.writeUser(
      "REGEDIT4\r\n"
      "\r\n"
      "; written by hand\r\n"
      "[HKCU\\Software\\Test]\r\n"
      "\"Text\" = \"a \\\"b\\\" c\"\r\n"
      "@=\"default\"\r\n"
      "\"Long\"=hex:00,01,02,\\\r\n"
      "  03,04\r\n"
      "\"Expand\"=hex(2):25,41,25,00\r\n"
      "\"Number\"=dword:0000ABCD\r\n"
      "\"Gone\"=\"x\"\r\n"
      "\"Gone\"=-\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Removed\\Sub]\r\n"
      "\"x\"=\"y\"\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Removed]\r\n"
      "\"ignored\"=\"after a removal\"\r\n");
  uint32_t type = 0;
  EXPECT_EQ(UserValue("Software\\Test", "Text", &type), std::string("a \"b\" c\0", 8));
  EXPECT_EQ(UserValue("Software\\Test", nullptr), std::string("default\0", 8));
  EXPECT_EQ(UserValue("Software\\Test", "Long"), std::string("\0\1\2\3\4", 5));
  EXPECT_EQ(UserValue("Software\\Test", "Expand", &type), std::string("%A%\0", 4));
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(UserValue("Software\\Test", "Number"), std::string("\xcd\xab\x00\x00", 4));
  EXPECT_EQ(UserValue("Software\\Test", "Gone"), "<missing>");
  EXPECT_EQ(UserValue("Software\\Removed\\Sub", "x"), "<no key>");
}

TEST(RegistryFile, ReadsTheUnicodeExportOfANewerSystem) {
  RegistrySandbox box;
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
      "\"Caf\xc3\xa9\"=\"na\xc3\xafve\"\r\n"
      "\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n";
  // The newer export format is UTF-16LE with a byte order mark.
  std::string utf16 = "\xff\xfe";
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    if (c >= 0xC0) {
      cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F);
      ++i;
    }
    utf16 += static_cast<char>(cp & 0xFF);
    utf16 += static_cast<char>(cp >> 8);
  }
  box.writeUser(utf16);
  EXPECT_EQ(UserValue("Software\\Test", "Caf\xc3\xa9"), std::string("na\xc3\xafve\0", 7));
  uint32_t type = 0;
  EXPECT_EQ(UserValue("Software\\Test", "Path", &type), std::string("%A%\0", 4));
  EXPECT_EQ(type, REG_EXPAND_SZ);
}

TEST(RegistryFile, MachineRootsShareTheMachineFile) {
  RegistrySandbox box;
  box.writeMachine(
      "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.htm]\n@=\"htmlfile\"\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n\"A\"=\"1\"\n");
  Handle cls(RegistryOpen(RegistryRoot::ClassesRoot, ".htm", false));
  ASSERT_TRUE(cls);
  EXPECT_EQ(Query(cls.get(), nullptr, nullptr), std::string("htmlfile\0", 9));
  EXPECT_TRUE(Handle(RegistryOpen(RegistryRoot::LocalMachine, "Software\\Vendor", false)));
  EXPECT_FALSE(Handle(RegistryOpen(RegistryRoot::CurrentUser, "Software\\Vendor", false)));
  EXPECT_FALSE(Handle(RegistryOpen(RegistryRoot::LocalMachine, ".htm", false)));
  {
    Handle lm(RegistryOpen(RegistryRoot::LocalMachine, "Software\\Vendor", false));
    ASSERT_TRUE(RegistrySet(lm.get(), "B", REG_SZ, "2\0", 2));
  }
  // The other root's keys are kept when one of them changes.
  std::string file = RegistrySandbox::ReadFile(box.machineFile());
  EXPECT_NE(file.find("[HKEY_CLASSES_ROOT\\.htm]\n@=\"htmlfile\"\n"), std::string::npos) << file;
  EXPECT_NE(file.find("\"B\"=\"2\""), std::string::npos) << file;
}

TEST(RegistryFile, DamagedFileIsReadAsEmptyAndKeptAsideBeforeTheFirstSave) {
  const std::string damaged[] = {
      "not a registry file\n[HKEY_CURRENT_USER\\Software\\X]\n\"A\"=\"1\"\n",
      "REGEDIT4\n\n\"A\"=\"value before any key\"\n",
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"A\"=dword:zz\n",
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"A\"=hex:01,0\n",
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"A\"=hex:01,\\\n",
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X\n",
      "REGEDIT4\n\n[NOT_A_ROOT\\Software\\X]\n",
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"A\"=\"unterminated\n",
      std::string("REGEDIT4\n\0\0\0", 12),
      "\xff\xfe\x41",
      "",
  };
  for (const std::string& original : damaged) {
    SCOPED_TRACE(original);
    RegistrySandbox box;
    box.writeUser(original);
    EXPECT_FALSE(Handle(RegistryOpen(RegistryRoot::CurrentUser, "Software\\X", false)));
    {
      Handle h(RegistryOpen(RegistryRoot::CurrentUser, "Software\\Y", true));
      ASSERT_TRUE(h);
      ASSERT_TRUE(RegistrySet(h.get(), "B", REG_SZ, "2\0", 2));
      ASSERT_TRUE(RegistrySet(h.get(), "C", REG_SZ, "3\0", 2));
    }
    EXPECT_EQ(RegistrySandbox::ReadFile(box.userFile() + ".damaged"), original);
    EXPECT_FALSE(std::filesystem::exists(box.userFile() + ".damaged.1"))
        << "only the damaged file is kept, not the first good one";
    EXPECT_EQ(UserValue("Software\\Y", "B"), std::string("2\0", 2));
  }
}

TEST(RegistryFile, AnEarlierKeptFileIsNotReplaced) {
  RegistrySandbox box;
  RegistrySandbox::WriteFile(box.userFile() + ".damaged", "older");
  box.writeUser("garbage");
  Handle h(RegistryOpen(RegistryRoot::CurrentUser, "K", true));
  ASSERT_TRUE(h);
  EXPECT_EQ(RegistrySandbox::ReadFile(box.userFile() + ".damaged"), "older");
  EXPECT_EQ(RegistrySandbox::ReadFile(box.userFile() + ".damaged.1"), "garbage");
}

TEST(RegistryFile, UnreadableFileIsNeverOverwrittenSilently) {
  RegistrySandbox box;
  // A directory where the file should be cannot be read as a store nor replaced.
  std::filesystem::create_directories(box.userFile());
  EXPECT_FALSE(Handle(RegistryOpen(RegistryRoot::CurrentUser, "K", false)));
  Handle h(RegistryOpen(RegistryRoot::CurrentUser, "K", true));
  if (h) {
    EXPECT_TRUE(std::filesystem::is_directory(box.userFile() + ".damaged"));
  }
}

TEST(RegistryFile, ReadOnlyFolderMeansNoFullAccess) {
  RegistrySandbox box;
  {
    Handle h(RegistryOpen(RegistryRoot::CurrentUser, "K", true));
    ASSERT_TRUE(h);
  }
  std::string folder = box.dir() + "/config/quillfen";
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  EXPECT_FALSE(Handle(RegistryOpen(RegistryRoot::CurrentUser, "K", false)))
      << "the store could not be replaced";
  ::chmod(folder.c_str(), 0755);
}

TEST(RegistryFile, UserFileFollowsXdgConfigHomeOrHome) {
  RegistrySandbox box;
  EXPECT_EQ(RegistryFileFor(RegistryRoot::CurrentUser), box.userFile());
  EXPECT_EQ(RegistryFileFor(RegistryRoot::ClassesRoot), box.machineFile());
  std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(RegistryFileFor(RegistryRoot::CurrentUser), "/home/someone/.config/quillfen/user.reg");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegistryFileFor(RegistryRoot::CurrentUser), "/home/someone/.config/quillfen/user.reg");
  ::setenv("HOME", oldHome.c_str(), 1);
  SetMachineRegistryFile(nullptr);
  EXPECT_EQ(RegistryFileFor(RegistryRoot::LocalMachine), "/etc/quillfen/machine.reg");
}

TEST(RegistryFile, LargeExportLoadsAndRemovalsApplyToSubkeys) {
  RegistrySandbox box;
  std::string text = "REGEDIT4\n\n";
  for (int i = 0; i < 50000; ++i) {
    text += "[HKEY_CLASSES_ROOT\\.ext" + std::to_string(i) + "\\shell\\open\\command]\n";
    text += "@=\"program" + std::to_string(i) + " \\\"%1\\\"\"\n\n";
  }
  text += "[-HKEY_CLASSES_ROOT\\.ext7\\shell]\n";
  text += "[HKEY_CLASSES_ROOT\\.EXT7\\Shell\\Edit]\n\"x\"=\"1\"\n";
  box.writeMachine(text);
  Handle last(RegistryOpen(RegistryRoot::ClassesRoot, ".ext49999\\shell\\open\\command", false));
  ASSERT_TRUE(last);
  EXPECT_EQ(Query(last.get(), nullptr, nullptr), std::string("program49999 \"%1\"\0", 18));
  EXPECT_TRUE(Handle(RegistryOpen(RegistryRoot::ClassesRoot, ".ext123", false)));
  EXPECT_FALSE(Handle(RegistryOpen(RegistryRoot::ClassesRoot, ".ext7\\shell\\open", false)));
  EXPECT_TRUE(Handle(RegistryOpen(RegistryRoot::ClassesRoot, ".ext7\\shell\\edit", false)));
  EXPECT_TRUE(Handle(RegistryOpen(RegistryRoot::ClassesRoot, ".ext70\\shell\\open", false)))
      << "a removal reaches only the keys below the removed one";
}

TEST(RegistryFile, MangledFilesNeverCrash) {
  RegistrySandbox box;
  const std::string good =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n\"A\"=\"x \\\"y\\\"\"\n"
      "\"B\"=dword:00000010\n\"C\"=hex(2):41,42,\\\n  43,00\n@=hex:01\n\n"
      "[-HKEY_CURRENT_USER\\Software\\U]\n\"D\"=-\n";
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  const char alphabet[] = "[]\\\"=@-:,()\n\r\t ;abcdefhx0123456789\xff\xfe\x00";
  for (int round = 0; round < 400; ++round) {
    std::string text = good;
    int edits = 1 + static_cast<int>(next() % 6);
    for (int e = 0; e < edits; ++e) {
      size_t at = next() % (text.size() + 1);
      switch (next() % 3) {
        case 0:
          if (at < text.size()) text.erase(at, 1 + next() % 4);
          break;
        case 1:
          text.insert(at, 1, alphabet[next() % (sizeof alphabet - 1)]);
          break;
        default:
          if (at < text.size()) text[at] = alphabet[next() % (sizeof alphabet - 1)];
      }
    }
    box.writeUser(text);
    Handle h(RegistryOpen(RegistryRoot::CurrentUser, "Software\\T", false));
    if (h) {
      uint32_t type = 0;
      Query(h.get(), "A", &type);
      Query(h.get(), "C", &type);
    }
  }
  SUCCEED();
}

TEST(RegistryFile, ALinkedStoreIsWrittenWhereTheLinkPoints) {
  RegistrySandbox box;
  std::string real = box.dir() + "/dotfiles/user.reg";
  RegistrySandbox::WriteFile(real, "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"A\"=\"1\"\n");
  std::filesystem::create_directories(box.dir() + "/config/quillfen");
  std::filesystem::create_symlink(real, box.userFile());
  {
    Handle h(RegistryOpen(RegistryRoot::CurrentUser, "K", false));
    ASSERT_TRUE(h);
    ASSERT_TRUE(RegistrySet(h.get(), "B", REG_SZ, "2\0", 2));
  }
  EXPECT_TRUE(std::filesystem::is_symlink(box.userFile()));
  EXPECT_NE(RegistrySandbox::ReadFile(real).find("\"B\"=\"2\""), std::string::npos);
  EXPECT_EQ(UserValue("K", "A"), std::string("1\0", 2));
}

TEST(RegistryFile, APipeInPlaceOfTheStoreDoesNotHang) {
  RegistrySandbox box;
  std::filesystem::create_directories(box.dir() + "/config/quillfen");
  ASSERT_EQ(::mkfifo(box.userFile().c_str(), 0600), 0);
  EXPECT_FALSE(Handle(RegistryOpen(RegistryRoot::CurrentUser, "K", false)));
}

TEST(RegistryFile, TwoProcessesWritingAtOnceLoseNothing) {
  RegistrySandbox box;
  constexpr int kValues = 40;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      int failures = 0;
      for (int i = 0; i < kValues; ++i) {
        // Both write into the same key and into a key of their own.
        Handle h(RegistryOpen(RegistryRoot::CurrentUser, "Software\\Shared", true));
        std::string name = Cat("P", c, "_", i);
        if (!h || !RegistrySet(h.get(), name.c_str(), REG_SZ, "v\0", 2)) ++failures;
        std::string own = "Software\\Own" + std::to_string(c);
        Handle o(RegistryOpen(RegistryRoot::CurrentUser, own.c_str(), true));
        if (!o || !RegistrySet(o.get(), name.c_str(), REG_DWORD, "\x01\x00\x00\x00", 4)) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kValues; ++i) {
      std::string name = Cat("P", c, "_", i);
      EXPECT_EQ(UserValue("Software\\Shared", name.c_str()), std::string("v\0", 2)) << name;
      std::string own = "Software\\Own" + std::to_string(c);
      EXPECT_EQ(UserValue(own.c_str(), name.c_str()).size(), 4u) << name;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(box.userFile() + ".damaged"));
}

}  // namespace
