#include "check/socket_context.h"

#include <gtest/gtest.h>

#include <string>

#include "support/http_test_server.h"

namespace {

class SocketContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetNetResolver(NetResolverFromTable({
        {"web.test", {"127.0.0.1"}, "edge.cdn.test", 0},
        {"flaky.test", {}, "", NET_TRY_AGAIN},
    }));
  }
  void TearDown() override { SetNetResolver(nullptr); }
};

TEST_F(SocketContextTest, ConstructionLeavesEverythingEmpty) {
  SocketContext context;
  EXPECT_NE(context.buffer, nullptr);
  EXPECT_EQ(context.startupResult, 0);
  EXPECT_EQ(context.lastError, 0);
  EXPECT_EQ(context.socket, NET_NO_SOCKET);
  EXPECT_EQ(context.hostEntry, nullptr);
}

TEST_F(SocketContextTest, ResolveKeepsTheEntryAndAFailureClearsIt) {
  SocketContext context;
  ASSERT_TRUE(context.Resolve("WEB.test"));
  ASSERT_NE(context.hostEntry, nullptr);
  EXPECT_EQ(context.hostEntry->name, "edge.cdn.test");
  EXPECT_FALSE(context.Resolve("flaky.test"));
  EXPECT_EQ(context.lastError, NET_TRY_AGAIN);
  EXPECT_EQ(context.hostEntry, nullptr);
  EXPECT_FALSE(context.Resolve("missing.test"));
  EXPECT_EQ(context.lastError, NET_HOST_NOT_FOUND);
}

TEST_F(SocketContextTest, DottedAddressResolvesToItselfWithoutReverseName) {
  SocketContext context;
  ASSERT_TRUE(context.Resolve("192.0.2.77"));
  EXPECT_EQ(context.hostEntry->name, "192.0.2.77");
  ASSERT_EQ(context.hostEntry->addresses.size(), 1u);
}

TEST_F(SocketContextTest, FailedStartupFailsEveryLookUpWithoutAnError) {
  SocketContext context;
  context.startupResult = 10091;
  EXPECT_FALSE(context.Resolve("web.test"));
  EXPECT_FALSE(context.Connect("127.0.0.1", 80));
  EXPECT_EQ(context.lastError, 0);
}

TEST_F(SocketContextTest, OperationsWithoutSocketDoNothing) {
  SocketContext context;
  context.lastError = 1234;
  char data[8] = {};
  EXPECT_EQ(context.Receive(data, sizeof data, 0), -1);
  EXPECT_EQ(context.Send("x", 1, 0), -1);
  context.SetTimeout(1000);
  context.CloseSocket();
  EXPECT_EQ(context.lastError, 1234);
}

TEST_F(SocketContextTest, ExchangeWithServerAndPortTakenModulo65536) {
  HttpTestServer server;
  server.setReply("/x", HttpTestServer::Reply::Status("HTTP/1.0 200 OK"));
  SocketContext context;
  ASSERT_TRUE(context.Connect("web.test", server.port() + 65536));
  std::string request = "HEAD /x HTTP/1.0\r\n\r\n";
  EXPECT_EQ(context.Send(request.data(), static_cast<int32_t>(request.size()), 0),
            static_cast<int32_t>(request.size()));
  std::string reply;
  for (;;) {
    int32_t n = context.Receive(context.buffer, SOCKET_BUFFER_SIZE, 0);
    ASSERT_GE(n, 0);
    if (n == 0) break;
    reply.append(context.buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(reply, "HTTP/1.0 200 OK\r\n\r\n");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].target, "/x");
  context.CloseSocket();
  EXPECT_EQ(context.socket, NET_NO_SOCKET);
  EXPECT_NE(context.hostEntry, nullptr);  // the look-up outlives the socket
}

TEST_F(SocketContextTest, LargeReplyArrivesWhole) {
  HttpTestServer server;
  std::string big(4 << 20, 'x');
  server.setDefaultReply(HttpTestServer::Reply::Raw(big));
  SocketContext context;
  ASSERT_TRUE(context.Connect("127.0.0.1", server.port()));
  ASSERT_EQ(context.Send("HEAD / HTTP/1.0\r\n\r\n", 19, 0), 19);
  size_t total = 0;
  for (int32_t n; (n = context.Receive(context.buffer, SOCKET_BUFFER_SIZE, 0)) > 0;)
    total += static_cast<size_t>(n);
  EXPECT_EQ(total, big.size());
}

TEST_F(SocketContextTest, RefusedConnectClosesTheSocketAndAllowsAnotherAttempt) {
  uint16_t port;
  {
    HttpTestServer gone;  // a port that was just free again
    port = gone.port();
  }
  SocketContext context;
  EXPECT_FALSE(context.Connect("127.0.0.1", port));
  EXPECT_EQ(context.lastError, NET_ECONNREFUSED);
  EXPECT_EQ(context.socket, NET_NO_SOCKET);
  HttpTestServer server;
  EXPECT_TRUE(context.Connect("127.0.0.1", server.port()));
}

TEST_F(SocketContextTest, ReceiveTimeOutGivesWinsockTimedOut) {
  HttpTestServer server;
  server.setDefaultReply(HttpTestServer::Reply::Silent());
  SocketContext context;
  ASSERT_TRUE(context.Connect("127.0.0.1", server.port()));
  context.SetTimeout(50);
  ASSERT_EQ(context.Send("GET / HTTP/1.0\r\n\r\n", 18, 0), 18);
  EXPECT_EQ(context.Receive(context.buffer, 100, 0), -1);
  EXPECT_EQ(context.lastError, NET_ETIMEDOUT);
}

}  // namespace
