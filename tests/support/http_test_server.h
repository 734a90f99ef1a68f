// A loopback HTTP server for tests and benchmarks: one thread, an ephemeral port on
// 127.0.0.1, scripted replies per request target, every request recorded.
//
//   HttpTestServer server;                                   // listening at once
//   server.setReply("/moved", HttpTestServer::Reply::Status("HTTP/1.0 301 Moved",
//                                                           "Location: /new\r\n"));
//   std::string link = server.url("/moved");                 // "http://127.0.0.1:<port>/moved"
//   ... check the link ...
//   server.requests()[0].target == "/moved"
//
// The server reads each request up to its empty line, then plays the reply of its target
// (the default reply, 404, when none was set): every part in turn, each after pauseMs
// milliseconds; then it closes the connection, or keeps it open and silent (keepOpen) until
// the client closes it or the server stops. A reply with a gate waits until openGate() of
// that name. Several replies may be queued for one target (setReplies). As a proxy (setProxyMode) it answers 400 to a target that is not an absolute
// "http://" address; replies are then set per absolute target.
// With setTls the server speaks TLS on every connection (url() then gives "https://"); as a
// proxy it then opens a tunnel for a CONNECT request answered by Reply::Tunnel(), speaks
// TLS inside it and answers the request that comes through it by its target as usual.
// With setEagerReplies a reply goes out as soon as anything arrives, as a plain HTTP server
// answers a TLS greeting.
// Many connections are served at once (non-blocking sockets, one poll loop), so a pool of
// 64 checking threads never waits for the server. Every method may be called from any thread.
#pragma once

#include <openssl/ssl.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_authority.h"

class HttpTestServer {
 public:
  struct Reply {
    std::vector<std::string> parts;  // bytes sent as they are, one part after another
    int pauseMs = 0;                 // wait before each part
    bool keepOpen = false;           // after the last part, hold the connection silently
    std::string gate;                // when set, nothing is sent before openGate(gate)

    // statusLine + "\r\n" + headers (each ending in "\r\n") + "\r\n".
    static Reply Status(const std::string& statusLine, const std::string& headers = "");
    static Reply Raw(const std::string& bytes);  // exactly these bytes, then close
    static Reply Silent();                       // accepts, reads, never answers
    // "HTTP/1.0 200 Connection established", then TLS inside the tunnel (proxy mode).
    static Reply Tunnel();
    bool opensTunnel = false;
    Reply& delayed(int ms) {
      pauseMs = ms;
      return *this;
    }
    Reply& held(const std::string& name) {
      gate = name;
      return *this;
    }
  };

  struct Request {
    std::string method;
    std::string target;
    std::string head;  // the whole request up to and including its empty line
    // The value of the first header of that name (ASCII case ignored), "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
  };

  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  uint16_t port() const { return port_; }          // 0 when the server could not listen
  std::string url(const std::string& path) const;  // "http://127.0.0.1:<port>" + path

  void setReply(const std::string& target, Reply reply);
  // Replies played in turn to the requests for target (any method), the last one to every
  // request after it.
  void setReplies(const std::string& target, std::vector<Reply> replies);
  void setDefaultReply(Reply reply);
  void setProxyMode(bool on);
  // Which protocol versions the server accepts: 1.2 and newer, 1.2 alone (whose resumed
  // handshakes make no new key exchange), or the old 1.0 and 1.1 only.
  enum class TlsVersions { Current, Only12, OldOnly };
  // Speaks TLS with this identity from now on.
  void setTls(const TlsIdentity& identity, TlsVersions versions = TlsVersions::Current);
  void setEagerReplies(bool on);
  int handshakes() const;         // TLS handshakes completed
  int resumedHandshakes() const;  // of which resumed an earlier session
  void setRecording(bool on);     // off: requests are counted but not kept (benchmarks)
  void openGate(const std::string& name);

  std::vector<Request> requests() const;
  size_t requestCount() const;
  // Waits until that many requests have arrived; false after timeoutMs (a failing test,
  // never a way to pass time).
  bool waitForRequests(size_t count, int timeoutMs = 20000) const;
  // The most requests that were being answered at the same moment.
  int maxConcurrent() const;
  // The same for the requests whose Host header names host (its port and letter case
  // ignored).
  int maxConcurrentForHost(const std::string& host) const;

 private:
  struct Connection;
  void serve();
  void wake();
  void endAnswer(Connection& c);
  bool beginReply(Connection& c);
  void startTls(Connection& c);
  long receive(Connection& c, char* data, size_t size);  // -1: nothing yet, -2: failed
  long transmit(Connection& c, const char* data, size_t size);

  int listenFd_ = -1;
  int wakeRead_ = -1, wakeWrite_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;

  mutable std::mutex lock_;
  mutable std::condition_variable arrived_;
  bool stopping_ = false;
  bool proxyMode_ = false;
  bool recording_ = true;
  bool eager_ = false;
  std::shared_ptr<SSL_CTX> tls_;
  int handshakes_ = 0, resumed_ = 0;
  std::map<std::string, std::vector<Reply>> replies_;
  Reply defaultReply_;
  std::set<std::string> openGates_;
  std::vector<Request> requests_;
  size_t requestCount_ = 0;
  int inFlight_ = 0;
  int maxInFlight_ = 0;
  std::map<std::string, int> inFlightByHost_, maxInFlightByHost_;
};
