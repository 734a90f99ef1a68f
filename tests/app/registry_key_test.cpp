#include "app/registry_key.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/registry_sandbox.h"

namespace {

class RegistryKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryKey key(RegistryRoot::CurrentUser);
    key.path.assignPath("Software\\Test", PathStyle::Windows);
    ASSERT_TRUE(key.createKey());
    RegistrySet(key.handle, "Text", REG_SZ, "hello\0", 6);
    RegistrySet(key.handle, "Expand", REG_EXPAND_SZ, "%TEMP%\\x\0", 9);
    RegistrySet(key.handle, "Binary4", REG_BINARY, "\x01\x02\x03\x04", 4);
    RegistrySet(key.handle, "Dword", REG_DWORD, "\x2a\x00\x00\x00", 4);
    RegistrySet(key.handle, "Unterminated", REG_SZ, "abc", 3);
    RegistrySet(key.handle, nullptr, REG_SZ, "default\0", 8);
  }
  static RegistryKey* Make(RegistryKey& key, const char* path) {
    key.path.assignPath(path, PathStyle::Windows);
    return &key;
  }
  RegistrySandbox box_;
};

TEST_F(RegistryKeyTest, ReadStringWithoutNameTestsTheKey) {
  RegistryKey key(RegistryRoot::CurrentUser);
  Make(key, "Software\\Test");
  EXPECT_EQ(key.readString(nullptr, nullptr, nullptr), 1u);
  EXPECT_EQ(key.handle, nullptr) << "a temporary opening is closed again";
  RegistryKey missing(RegistryRoot::CurrentUser);
  Make(missing, "Software\\Missing");
  char buffer[16] = "junk";
  uint32_t size = sizeof buffer;
  EXPECT_EQ(missing.readString(nullptr, buffer, &size), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(RegistryKeyTest, ReadStringGivesTypeAndText) {
  RegistryKey key(RegistryRoot::CurrentUser);
  Make(key, "Software\\Test");
  char buffer[32];
  uint32_t size = sizeof buffer;
  EXPECT_EQ(key.readString("Text", buffer, &size), REG_SZ);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(size, 6u);
  size = sizeof buffer;
  EXPECT_EQ(key.readString("Expand", buffer, &size), REG_EXPAND_SZ);
  EXPECT_STREQ(buffer, "%TEMP%\\x") << "not expanded";
  size = sizeof buffer;
  EXPECT_EQ(key.readString(DEFAULT_VALUE, buffer, &size), REG_SZ);
  EXPECT_STREQ(buffer, "default");
  size = sizeof buffer;
  std::strcpy(buffer, "junk");
  EXPECT_EQ(key.readString("Absent", buffer, &size), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(RegistryKeyTest, ReadStringNeverLeavesAnUnterminatedText) {
  RegistryKey key(RegistryRoot::CurrentUser);
  Make(key, "Software\\Test");
  char buffer[6] = "xxxxx";
  uint32_t size = 5;  // room for "hello" but not its zero
  EXPECT_EQ(key.readString("Text", buffer, &size), 0u);
  EXPECT_STREQ(buffer, "");
  size = 4;  // stored without a zero: one is added when there is room
  EXPECT_EQ(key.readString("Unterminated", buffer, &size), REG_SZ);
  EXPECT_STREQ(buffer, "abc");
  size = 3;
  std::strcpy(buffer, "xxxxx");
  EXPECT_EQ(key.readString("Unterminated", buffer, &size), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(RegistryKeyTest, ReadNumberStoresOnlyDwords) {
  RegistryKey key(RegistryRoot::CurrentUser);
  Make(key, "Software\\Test");
  uint32_t n = 7;
  EXPECT_EQ(key.readNumber("Dword", &n), 42u);
  EXPECT_EQ(n, 42u);
  n = 7;
  EXPECT_EQ(key.readNumber("Binary4", &n), 0x04030201u) << "bytes returned, little-endian";
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(key.readNumber("Text", &n), 0u) << "a longer value does not fit the 4 bytes";
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(key.readNumber("Absent", &n), 0u);
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(key.readNumber(nullptr, &n), 0u);
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(key.handle, nullptr);
}

TEST_F(RegistryKeyTest, WritesCreateTheKeyAndCloseATemporaryOpening) {
  RegistryKey key(RegistryRoot::CurrentUser);
  Make(key, "Software\\New\\Deeper");
  EXPECT_TRUE(key.writeString("Empty", ""));
  EXPECT_EQ(key.handle, nullptr);
  EXPECT_TRUE(key.writeNumber("N", 0xDEADBEEF));
  EXPECT_TRUE(key.writeString(DEFAULT_VALUE, "dflt"));
  EXPECT_TRUE(key.writeString(nullptr, nullptr));

  RegistryHandle* h = RegistryOpen(RegistryRoot::CurrentUser, "Software\\New\\Deeper", false);
  ASSERT_NE(h, nullptr);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(RegistryQuery(h, "Empty", &type, nullptr, &size), RegistryStatus::Ok);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 0u) << "an empty text is stored without data";
  RegistryClose(h);

  char buffer[8] = "junk";
  size = sizeof buffer;
  EXPECT_EQ(key.readString("Empty", buffer, &size), REG_SZ);
  EXPECT_STREQ(buffer, "");
  size = sizeof buffer;
  EXPECT_EQ(key.readString(DEFAULT_VALUE, buffer, &size), REG_SZ);
  EXPECT_STREQ(buffer, "dflt");
  uint32_t n = 0;
  key.readNumber("N", &n);
  EXPECT_EQ(n, 0xDEADBEEFu);
}

TEST_F(RegistryKeyTest, OpenKeyStaysOpenAcrossOperations) {
  RegistryKey key(RegistryRoot::CurrentUser);
  Make(key, "Software\\Test");
  ASSERT_TRUE(key.openKey());
  RegistryHandle* open = key.handle;
  EXPECT_TRUE(key.writeNumber("Dword", 5));
  uint32_t n = 0;
  key.readNumber("Dword", &n);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(key.handle, open);
  key.closeKey();
  EXPECT_EQ(key.handle, nullptr);
  Make(key, "Software\\Missing");
  EXPECT_FALSE(key.openKey());
  EXPECT_TRUE(key.createKey());
}

TEST_F(RegistryKeyTest, ReadOnlyStoreBehavesAsMissing) {
  ASSERT_EQ(::chmod(box_.userFile().c_str(), 0444), 0);
  RegistryKey key(RegistryRoot::CurrentUser);
  Make(key, "Software\\Test");
  EXPECT_EQ(key.readString(nullptr, nullptr, nullptr), 0u);
  EXPECT_FALSE(key.writeString("Text", "changed"));
  EXPECT_FALSE(key.createKey());
}

}  // namespace
