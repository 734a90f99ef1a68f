// Secure links against loopback TLS servers whose certificates the test authority made.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "check/probe.h"
#include "check/recording_window.h"
#include "check/scheduler.h"
#include "support/http_test_server.h"
#include "support/test_authority.h"
#include "tree/settings.h"

namespace {

using Reply = HttpTestServer::Reply;

class SecureProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    authority_ = &TestAuthority::Shared();
    saved_ = settings;
    settings = &own_;
    own_.timeout = 30;
    own_.retries = 0;
    SetNetResolver(NetResolverFromTable({
        {"localhost", {"127.0.0.1"}, "", 0},
        {"web.test", {"127.0.0.1"}, "", 0},
        {"proxy.test", {"127.0.0.1"}, "", 0},
    }));
    SocketContext::StartRun();
  }
  void TearDown() override {
    SetNetResolver(nullptr);
    settings = saved_;
  }

  void probe(const std::string& url) {
    window_.inspect([](RecordingControls& controls) { return controls.texts.clear(), 0; });
    entry_ = std::make_unique<LinkEntry>("Title", url.c_str(), 0);
    CheckJob job{&window_, entry_.get(), 3, 0};
    SocketContext context;
    ProbeLink(context, &job);
  }
  static std::string at(const char* host, const HttpTestServer& server, const char* path) {
    return std::string("https://") + host + ":" + std::to_string(server.port()) + path;
  }
  bool logHas(const std::string& text) { return window_.log().find(text) != std::string::npos; }

  TestAuthority* authority_ = nullptr;
  Settings own_;
  Settings* saved_ = nullptr;
  RecordingWindow window_;
  std::unique_ptr<LinkEntry> entry_;
};

TEST_F(SecureProbeTest, RepliesOverTlsAreReadAsOverPlainConnections) {
  HttpTestServer server;
  server.setTls(authority_->issue({"127.0.0.1", "localhost"}));
  server.setReply("/ok?q", Reply::Status("HTTP/1.0 200 OK"));
  server.setReply("/old", Reply::Status("HTTP/1.1 301 Moved", "Location: /new\r\n"));
  server.setReply("/new", Reply::Status("HTTP/1.0 200 OK"));

  probe(at("LocalHost", server, "/ok?q#frag"));
  EXPECT_EQ(window_.log(), "3: Connecting to LocalHost:" + std::to_string(server.port()) +
                               "...\r\n3: Retrieving information for /ok?q...\r\n"
                               "3: HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(entry_->checkResult.load(), 200);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].head,
            "HEAD /ok?q HTTP/1.0\r\nUser-Agent: Quillfen/1.1\r\nHost: "
            "LocalHost:" +
                std::to_string(server.port()) + "\r\n\r\n");

  probe("HTTPS://127.0.0.1:" + std::to_string(server.port()) + "/old");  // any letter case
  EXPECT_EQ(entry_->checkResult.load(), CHECK_MOVED);
  EXPECT_EQ(entry_->newUrl.c_str(), "HTTPS://127.0.0.1:" + std::to_string(server.port()) + "/new");

  probe(at("127.0.0.1", server, "/gone"));
  EXPECT_EQ(entry_->checkResult.load(), CHECK_NOT_FOUND);
  EXPECT_EQ(window_.problems(), "Not found: " + at("127.0.0.1", server, "/gone") + "\r\n");
}

TEST_F(SecureProbeTest, CertificateFailuresAreAVerdictOfTheirOwn) {
  struct Case {
    std::vector<std::string> names;
    CertificateKind kind;
    const char* host;
    const char* reason;  // null: the certificate is good
    std::string commonName;
  } cases[] = {
      {{"127.0.0.1"}, CertificateKind::Valid, "127.0.0.1", nullptr, ""},
      {{"localhost"}, CertificateKind::Valid, "localhost", nullptr, ""},
      {{"localhost"},
       CertificateKind::Valid,
       "localhost",
       nullptr,
       std::string(60, 'x') + "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\x92"},
      {{"localhost"}, CertificateKind::Expired, "localhost", "certificate has expired", ""},
      {{"localhost"},
       CertificateKind::NotYetValid,
       "localhost",
       "certificate is not yet valid",
       ""},
      {{"other.test"}, CertificateKind::Valid, "localhost", "hostname mismatch", ""},
      {{"localhost"}, CertificateKind::Valid, "127.0.0.1", "IP address mismatch", ""},
      {{"localhost"}, CertificateKind::SelfSigned, "localhost", "self-signed certificate", ""},
  };
  for (auto& c : cases) {
    HttpTestServer server;
    server.setTls(authority_->issue(c.names, c.kind, c.commonName));
    server.setDefaultReply(Reply::Status("HTTP/1.0 200 OK"));
    std::string url = at(c.host, server, "/p");
    probe(url);
    if (!c.reason) {
      EXPECT_EQ(entry_->checkResult.load(), 200) << url << "\n" << window_.log();
      continue;
    }
    EXPECT_EQ(entry_->checkResult.load(), CHECK_CERTIFICATE) << c.reason;
    EXPECT_NE(entry_->lastVisit, 0) << c.reason;
    EXPECT_TRUE(logHas(std::string("3: Certificate problem - ") + c.reason + "\r\n"))
        << window_.log();
    EXPECT_EQ(window_.problems(), "Certificate: " + url + "\r\n");
    EXPECT_EQ(server.requestCount(), 0u) << c.reason;
  }
}

// Each hop makes its own secure connection: a plain address that moved to a secure one is
// moved when that server verifies, and a certificate problem when it does not.
TEST_F(SecureProbeTest, EveryHopOfARedirectIsCheckedAsASecureLinkWouldBe) {
  for (CertificateKind kind : {CertificateKind::Valid, CertificateKind::Expired}) {
    HttpTestServer secure;
    secure.setTls(authority_->issue({"localhost"}, kind));
    secure.setDefaultReply(Reply::Status("HTTP/1.0 200 OK"));
    HttpTestServer plain;
    std::string target = at("localhost", secure, "/home");
    plain.setReply("/old", Reply::Status("HTTP/1.0 301 M", "Location: " + target + "\r\n"));
    probe(plain.url("/old"));
    if (kind == CertificateKind::Valid) {
      EXPECT_EQ(entry_->checkResult.load(), CHECK_MOVED) << window_.log();
      EXPECT_EQ(entry_->newUrl.c_str(), target);
      EXPECT_EQ(secure.requestCount(), 1u);
    } else {
      EXPECT_EQ(entry_->checkResult.load(), CHECK_CERTIFICATE) << window_.log();
      EXPECT_TRUE(logHas("3: Certificate problem - certificate has expired\r\n"));
      EXPECT_EQ(secure.requestCount(), 0u);
    }
  }
}

TEST_F(SecureProbeTest, ServersThatDoNotSpeakTlsLeaveTheLinkUnchanged) {
  struct Case {
    const char* what;
    const char* logEnding;
  } cases[] = {
      {"plain",
       "3: Secure connection failed - the server does not speak TLS on this port "
       "(plain HTTP?)\r\n"},
      {"close",
       "3: Secure connection failed - the server closed the connection during the "
       "handshake\r\n"},
      {"old",
       "3: Secure connection failed - no protocol version or cipher that both sides "
       "accept ("},
      {"silent", "3: Valid HTTP response not received (timed out)\r\n"},
      {"trickle", "3: Valid HTTP response not received (timed out)\r\n"},
  };
  for (auto& c : cases) {
    HttpTestServer server;
    std::string what = c.what;
    if (what == "plain") {
      server.setEagerReplies(true);
      server.setDefaultReply(Reply::Status("HTTP/1.1 400 Bad Request"));
    } else if (what == "close") {
      server.setEagerReplies(true);
      server.setDefaultReply(Reply::Raw(""));
    } else if (what == "old") {
      server.setTls(authority_->issue({"localhost"}), HttpTestServer::TlsVersions::OldOnly);
    } else if (what == "silent") {
      own_.timeout = 1;
      server.setDefaultReply(Reply::Silent());
    } else {
      // A record header that promises 16 kB, then a byte well within each time-out: only
      // the deadline of the exchange (twice the time-out here) ends the handshake.
      own_.timeout = 1;
      socketTuning.deadlineSlackMs = 0;
      Reply trickle;
      trickle.parts.assign(60, "x");
      trickle.parts[0] = std::string("\x16\x03\x03\x40\x00", 5);
      trickle.pauseMs = 100;
      server.setEagerReplies(true);
      server.setDefaultReply(trickle);
    }
    probe(at("localhost", server, "/x"));
    socketTuning = SocketTuning();
    EXPECT_TRUE(logHas(c.logEnding)) << c.what << "\n" << window_.log();
    EXPECT_EQ(entry_->checkResult.load(), CHECK_NONE) << c.what;
    EXPECT_EQ(entry_->lastVisit, 0) << c.what;
    EXPECT_EQ(window_.problems(), "") << c.what;
  }
}

TEST_F(SecureProbeTest, PlainAddressMovedToASecureOneIsAMove) {
  HttpTestServer secure;
  secure.setTls(authority_->issue({"localhost"}));
  secure.setReply("/new", Reply::Status("HTTP/1.0 200 OK"));
  HttpTestServer plain;
  plain.setReply("/old", Reply::Status("HTTP/1.1 301 Moved Permanently",
                                       "Location: " + at("localhost", secure, "/new") + "\r\n"));
  probe("http://localhost:" + std::to_string(plain.port()) + "/old");
  EXPECT_EQ(entry_->checkResult.load(), CHECK_MOVED);
  EXPECT_EQ(entry_->newUrl.c_str(), at("localhost", secure, "/new"));
  probe(entry_->newUrl.c_str());
  EXPECT_EQ(entry_->checkResult.load(), 200);
}

TEST_F(SecureProbeTest, ThroughTheProxyATunnelCarriesTheSecureRequest) {
  HttpTestServer proxy;
  proxy.setProxyMode(true);
  proxy.setTls(authority_->issue({"web.test"}));
  proxy.setReply("web.test:443", Reply::Tunnel());
  proxy.setReply("/page?q", Reply::Status("HTTP/1.0 200 OK"));
  proxy.setReply("web.test:8443", Reply::Status("HTTP/1.0 407 Proxy Authentication Required",
                                                "Proxy-Authenticate: Basic\r\n"));
  proxy.setReply("web.test:9443", Reply::Status("HTTP/1.0 502 Bad Gateway"));
  own_.flags |= FLAG_USE_PROXY;
  CopySettingsText(own_.proxyHost, "proxy.test");
  own_.proxyPort = proxy.port();
  std::string proxyPort = std::to_string(proxy.port());

  probe("https://web.test/page?q#f");
  EXPECT_EQ(window_.log(),
            "3: Checking host web.test...\r\n3: Connecting to proxy.test:" + proxyPort +
                "...\r\n3: Opening a tunnel to web.test:443...\r\n"
                "3: Retrieving information for /page?q...\r\n"
                "3: HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(entry_->checkResult.load(), 200);
  auto requests = proxy.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method + " " + requests[0].target, "CONNECT web.test:443");
  EXPECT_EQ(requests[0].header("Host"), "web.test:443");
  EXPECT_EQ(requests[1].target, "/page?q");
  EXPECT_EQ(requests[1].header("Host"), "web.test");

  struct Case {
    const char* url;
    const char* log;
  } refusals[] = {
      {"https://web.test:8443/",
       "3: The proxy refused the tunnel: HTTP/1.0 407 Proxy Authentication Required\r\n"
       "3: The proxy asks for a password, which this program does not support\r\n"},
      {"https://web.test:9443/", "3: The proxy refused the tunnel: HTTP/1.0 502 Bad Gateway\r\n"},
  };
  for (auto& c : refusals) {
    probe(c.url);
    EXPECT_TRUE(logHas(c.log)) << window_.log();
    EXPECT_EQ(entry_->checkResult.load(), CHECK_NONE) << c.url;
    EXPECT_EQ(window_.problems(), "") << c.url;
  }
  // Plain links through the proxy are asked for as before.
  proxy.setReply("http://web.test/plain", Reply::Status("HTTP/1.0 404 Not Found"));
  probe("http://web.test/plain");
  EXPECT_EQ(entry_->checkResult.load(), CHECK_NOT_FOUND);
}

TEST_F(SecureProbeTest, SessionsAreResumedPerHostWithinARun) {
  HttpTestServer server;
  server.setTls(authority_->issue({"127.0.0.1", "localhost"}));
  server.setDefaultReply(Reply::Status("HTTP/1.0 200 OK"));
  struct Step {
    const char* host;
    bool newRun;
    int resumedAfter;
  } steps[] = {
      {"localhost", false, 0}, {"localhost", false, 1}, {"LOCALHOST", false, 2},  // the same host
      {"127.0.0.1", false, 2},  // another host on the same server
      {"localhost", true, 2},   // a new run starts afresh
      {"localhost", false, 3},
  };
  for (auto& step : steps) {
    if (step.newRun) SocketContext::StartRun();
    probe(at(step.host, server, "/"));
    EXPECT_EQ(entry_->checkResult.load(), 200) << step.host;
    EXPECT_EQ(server.resumedHandshakes(), step.resumedAfter) << step.host;
  }
  EXPECT_EQ(server.handshakes(), 6);
}

TEST_F(SecureProbeTest, ManyWorkersShareTheSessionsOfARun) {
  HttpTestServer server;
  server.setTls(authority_->issue({"127.0.0.1", "localhost"}));
  server.setRecording(false);
  server.setDefaultReply(Reply::Status("HTTP/1.0 200 OK"));
  own_.flags = FLAG_CLEAN_BOOKMARKS;
  own_.threadCount = 16;
  NodeList tree;
  const int links = 48;
  for (int i = 0; i < links; ++i) {
    std::string url = at(i % 2 ? "localhost" : "127.0.0.1", server, "/") + std::to_string(i);
    tree.addTail(new LinkEntry("t", url.c_str(), 0));
  }
  EXPECT_TRUE(CheckAllLinks(nullptr, tree, tree));
  int ok = 0;
  for (Node* n = tree.head(); n->next; n = n->next) ok += LinkEntry::of(n)->checkResult == 200;
  FreeTree(tree);
  EXPECT_EQ(ok, links);
  EXPECT_EQ(server.handshakes(), links);
  // The first workers start before any session is known; the later ones resume.
  EXPECT_GT(server.resumedHandshakes(), 0);
}

}  // namespace
