#include "platform/net.h"
#include "support/cat.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Dotted(uint32_t address) {
  in_addr a{};
  a.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

class NetTest : public ::testing::Test {
 protected:
  void TearDown() override { SetNetResolver(nullptr); }
};

TEST_F(NetTest, TableGivesAddressesCanonicalNamesAndErrors) {
  SetNetResolver(NetResolverFromTable({
      {"www.site.test", {"10.0.0.1", "10.0.0.2"}, "edge.cdn.test", 0},
      {"plain.test", {"10.0.0.3"}, "", 0},
      {"again.test", {}, "", NET_TRY_AGAIN},
  }));
  NetHostEntry entry;
  ASSERT_EQ(NetLookUp("WWW.Site.test", entry), 0);
  EXPECT_EQ(entry.name, "edge.cdn.test");
  ASSERT_EQ(entry.addresses.size(), 2u);
  EXPECT_EQ(Dotted(entry.addresses[0]), "10.0.0.1");
  ASSERT_EQ(NetLookUp("plain.test", entry), 0);
  EXPECT_EQ(entry.name, "plain.test");
  EXPECT_EQ(NetLookUp("again.test", entry), NET_TRY_AGAIN);
  EXPECT_TRUE(entry.addresses.empty());
  EXPECT_EQ(NetLookUp("unknown.test", entry), NET_HOST_NOT_FOUND);
}

TEST_F(NetTest, DottedAddressesAndEmptyNamesNeverReachTheResolver) {
  std::atomic<int> calls{0};
  SetNetResolver([&calls](const char*, NetHostEntry&) {
    ++calls;
    return NET_NO_RECOVERY;
  });
  NetHostEntry entry;
  ASSERT_EQ(NetLookUp("192.0.2.1", entry), 0);
  EXPECT_EQ(entry.name, "192.0.2.1");
  EXPECT_EQ(Dotted(entry.addresses.at(0)), "192.0.2.1");
  ASSERT_EQ(NetLookUp("127.1", entry), 0);  // the classic short form
  EXPECT_EQ(Dotted(entry.addresses.at(0)), "127.0.0.1");
  EXPECT_EQ(NetLookUp("", entry), NET_HOST_NOT_FOUND);
  EXPECT_EQ(NetLookUp(nullptr, entry), NET_HOST_NOT_FOUND);
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(NetLookUp("name.test", entry), NET_NO_RECOVERY);
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(NetTest, AResolverThatFindsNoAddressFailsWithNoData) {
  SetNetResolver([](const char*, NetHostEntry& entry) {
    entry.name.push_back('x');
    return 0;
  });
  NetHostEntry entry;
  EXPECT_EQ(NetLookUp("x.test", entry), NET_NO_DATA);
  EXPECT_TRUE(entry.name.empty());
}

TEST_F(NetTest, LookUpsOnManyThreadsKeepTheirOwnEntries) {
  std::vector<NetHostRule> rules;
  for (int i = 0; i < 16; ++i)
    rules.push_back({Cat("h", i, ".test"), {Cat("10.0.1.", i)}, "", 0});
  SetNetResolver(NetResolverFromTable(rules));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t)
    threads.emplace_back([t, &wrong] {
      NetHostEntry entry;
      for (int round = 0; round < 500; ++round) {
        std::string name = Cat("h", t, ".test");
        if (NetLookUp(name.c_str(), entry) != 0 || entry.name != name ||
            Dotted(entry.addresses.at(0)) != Cat("10.0.1.", t))
          ++wrong;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(NetErrors, SystemErrorsMapToWinsockNumbers) {
  EXPECT_EQ(NetErrorFromErrno(ECONNREFUSED), NET_ECONNREFUSED);
  EXPECT_EQ(NetErrorFromErrno(ETIMEDOUT), NET_ETIMEDOUT);
  EXPECT_EQ(NetErrorFromErrno(ENETDOWN), NET_ENETDOWN);
  EXPECT_EQ(NetErrorFromErrno(ENOBUFS), NET_ENOBUFS);
  EXPECT_EQ(NetErrorFromErrno(EHOSTUNREACH), NET_EHOSTUNREACH);
  EXPECT_EQ(NetErrorFromErrno(ENETUNREACH), NET_ENETUNREACH);
  EXPECT_EQ(NetErrorFromErrno(EPIPE), NET_ECONNRESET);
  EXPECT_EQ(NetErrorFromLookup(EAI_NONAME, 0), NET_HOST_NOT_FOUND);
  EXPECT_EQ(NetErrorFromLookup(EAI_AGAIN, 0), NET_TRY_AGAIN);
  EXPECT_EQ(NetErrorFromLookup(EAI_FAIL, 0), NET_NO_RECOVERY);
  EXPECT_EQ(NetErrorFromLookup(EAI_MEMORY, 0), NET_ENOBUFS);
  EXPECT_EQ(NetErrorFromLookup(EAI_SYSTEM, ENETDOWN), NET_ENETDOWN);
}

}  // namespace
