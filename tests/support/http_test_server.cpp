#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// Where the request's head ends (just past its empty line), or npos.
size_t HeadEnd(const std::string& in) {
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\n') continue;
    if (i + 1 < in.size() && in[i + 1] == '\n') return i + 2;
    if (i + 2 < in.size() && in[i + 1] == '\r' && in[i + 2] == '\n') return i + 3;
  }
  return std::string::npos;
}

// A Host header's name without its port, in lower case.
std::string HostKey(const std::string& hostHeader) {
  std::string host = hostHeader.substr(0, hostHeader.rfind(':'));
  for (char& c : host)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return host;
}

}  // namespace

struct HttpTestServer::Connection {
  std::string host;  // whose per-host count the request is in while answering
  int fd = -1;
  std::string in;
  bool requestDone = false;
  bool answering = false;  // counted in inFlight_
  bool waitingGate = false;
  Reply reply;
  size_t part = 0;
  size_t sent = 0;
  Clock::time_point due;
  SSL* ssl = nullptr;
  bool handshaking = false;
  bool tunnelled = false;  // a CONNECT opened a tunnel: requests come from inside it
  bool wantWrite = false;  // TLS needs the socket writable before it can go on
};

HttpTestServer::Reply HttpTestServer::Reply::Status(const std::string& statusLine,
                                                    const std::string& headers) {
  Reply r;
  r.parts.push_back(statusLine + "\r\n" + headers + "\r\n");
  return r;
}

HttpTestServer::Reply HttpTestServer::Reply::Raw(const std::string& bytes) {
  Reply r;
  r.parts.push_back(bytes);
  return r;
}

HttpTestServer::Reply HttpTestServer::Reply::Tunnel() {
  Reply r = Status("HTTP/1.0 200 Connection established");
  r.opensTunnel = true;
  return r;
}

HttpTestServer::Reply HttpTestServer::Reply::Silent() {
  Reply r;
  r.keepOpen = true;
  return r;
}

std::string HttpTestServer::Request::header(const std::string& name) const {
  size_t start = head.find('\n');
  while (start != std::string::npos && start + 1 < head.size()) {
    size_t end = head.find('\n', start + 1);
    std::string line =
        head.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsNoCase(line.substr(0, colon), name)) {
      size_t v = colon + 1;
      while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
      return line.substr(v);
    }
    start = end;
  }
  return "";
}

bool HttpTestServer::Request::hasHeader(const std::string& name) const {
  size_t start = head.find('\n');
  while (start != std::string::npos && start + 1 < head.size()) {
    size_t colon = head.find(':', start + 1);
    size_t end = head.find('\n', start + 1);
    if (colon != std::string::npos && colon < end &&
        EqualsNoCase(head.substr(start + 1, colon - start - 1), name))
      return true;
    start = end;
  }
  return false;
}

HttpTestServer::HttpTestServer() {
  defaultReply_ = Reply::Status("HTTP/1.0 404 Not Found");
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  bool listening = ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                   ::listen(listenFd_, 1024) == 0 &&
                   ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  port_ = listening ? ntohs(address.sin_port) : 0;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) == 0) {
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
  }
  thread_ = std::thread([this] { serve(); });
}

HttpTestServer::~HttpTestServer() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake();
  thread_.join();
  ::close(listenFd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

std::string HttpTestServer::url(const std::string& path) const {
  std::lock_guard<std::mutex> hold(lock_);
  return (tls_ && !proxyMode_ ? "https://127.0.0.1:" : "http://127.0.0.1:") +
         std::to_string(port_) + path;
}

void HttpTestServer::setTls(const TlsIdentity& identity, TlsVersions versions) {
  std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  SSL_CTX* c = context.get();
  if (versions == TlsVersions::OldOnly) {
    SSL_CTX_set_security_level(c, 0);
    SSL_CTX_set_cipher_list(c, "DEFAULT:@SECLEVEL=0");
    SSL_CTX_set_min_proto_version(c, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(c, TLS1_1_VERSION);
  } else {
    SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
    if (versions == TlsVersions::Only12) SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION);
  }
  SSL_CTX_use_certificate(c, identity.certificate.get());
  SSL_CTX_use_PrivateKey(c, identity.key.get());
  SSL_CTX_set_mode(c, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_session_id_context(c, reinterpret_cast<const unsigned char*>("qf"), 2);
  std::lock_guard<std::mutex> hold(lock_);
  tls_ = std::move(context);
}

void HttpTestServer::setEagerReplies(bool on) {
  std::lock_guard<std::mutex> hold(lock_);
  eager_ = on;
}

int HttpTestServer::handshakes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return handshakes_;
}

int HttpTestServer::resumedHandshakes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return resumed_;
}

// Lock held by caller.
void HttpTestServer::startTls(Connection& c) {
  c.ssl = SSL_new(tls_.get());
  SSL_set_fd(c.ssl, c.fd);
  SSL_set_accept_state(c.ssl);
  c.handshaking = true;
}

long HttpTestServer::receive(Connection& c, char* data, size_t size) {
  if (!c.ssl) {
    ssize_t n = ::recv(c.fd, data, size, 0);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
    return static_cast<long>(n);
  }
  c.wantWrite = false;
  ERR_clear_error();
  if (c.handshaking) {
    int result = SSL_do_handshake(c.ssl);
    if (result != 1) {
      int error = SSL_get_error(c.ssl, result);
      ERR_clear_error();
      c.wantWrite = error == SSL_ERROR_WANT_WRITE;
      return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? -1 : -2;
    }
    c.handshaking = false;
    std::lock_guard<std::mutex> hold(lock_);
    ++handshakes_;
    if (SSL_session_reused(c.ssl)) ++resumed_;
  }
  size_t n = 0;
  int result = SSL_read_ex(c.ssl, data, size, &n);
  if (result == 1) return static_cast<long>(n);
  int error = SSL_get_error(c.ssl, result);
  ERR_clear_error();
  c.wantWrite = error == SSL_ERROR_WANT_WRITE;
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return -1;
  return error == SSL_ERROR_ZERO_RETURN || error == SSL_ERROR_SYSCALL ? 0 : -2;
}

long HttpTestServer::transmit(Connection& c, const char* data, size_t size) {
  if (!c.ssl) {
    ssize_t n = ::send(c.fd, data, size, MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : -2;
    return static_cast<long>(n);
  }
  if (c.handshaking) return -1;
  ERR_clear_error();
  size_t n = 0;
  int result = SSL_write_ex(c.ssl, data, size, &n);
  if (result == 1) return static_cast<long>(n);
  int error = SSL_get_error(c.ssl, result);
  ERR_clear_error();
  c.wantWrite = error == SSL_ERROR_WANT_WRITE;
  return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? -1 : -2;
}

void HttpTestServer::setReply(const std::string& target, Reply reply) {
  std::lock_guard<std::mutex> hold(lock_);
  replies_[target] = {std::move(reply)};
}

void HttpTestServer::setReplies(const std::string& target, std::vector<Reply> replies) {
  std::lock_guard<std::mutex> hold(lock_);
  if (replies.empty()) {
    replies_.erase(target);
    return;
  }
  replies_[target] = std::move(replies);
}

void HttpTestServer::setDefaultReply(Reply reply) {
  std::lock_guard<std::mutex> hold(lock_);
  defaultReply_ = std::move(reply);
}

void HttpTestServer::setProxyMode(bool on) {
  std::lock_guard<std::mutex> hold(lock_);
  proxyMode_ = on;
}

void HttpTestServer::setRecording(bool on) {
  std::lock_guard<std::mutex> hold(lock_);
  recording_ = on;
}

void HttpTestServer::openGate(const std::string& name) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    openGates_.insert(name);
  }
  wake();
}

std::vector<HttpTestServer::Request> HttpTestServer::requests() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

size_t HttpTestServer::requestCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requestCount_;
}

bool HttpTestServer::waitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> hold(lock_);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return requestCount_ >= count; });
}

int HttpTestServer::maxConcurrent() const {
  std::lock_guard<std::mutex> hold(lock_);
  return maxInFlight_;
}

int HttpTestServer::maxConcurrentForHost(const std::string& host) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = maxInFlightByHost_.find(HostKey(host));
  return found == maxInFlightByHost_.end() ? 0 : found->second;
}

// The request on c is answered no more (lock held by caller).
void HttpTestServer::endAnswer(Connection& c) {
  if (!c.answering) return;
  --inFlight_;
  --inFlightByHost_[c.host];
  c.answering = false;
}

void HttpTestServer::wake() {
  char byte = 1;
  ssize_t ignored = ::write(wakeWrite_, &byte, 1);
  (void)ignored;
}

// Records the request that just ended its head and picks its reply. Lock held by caller.
bool HttpTestServer::beginReply(Connection& c) {
  size_t end = HeadEnd(c.in);
  Request request;
  request.head = c.in.substr(0, end);
  size_t lineEnd = request.head.find_first_of("\r\n");
  std::string line = request.head.substr(0, lineEnd);
  size_t space = line.find(' ');
  request.method = line.substr(0, space);
  if (space != std::string::npos) {
    size_t second = line.find(' ', space + 1);
    request.target = line.substr(
        space + 1, second == std::string::npos ? std::string::npos : second - space - 1);
  }
  auto found = replies_.find(request.target);
  if (proxyMode_ && !c.tunnelled && request.method != "CONNECT" &&
      request.target.compare(0, 7, "http://") != 0) {
    c.reply = Reply::Status("HTTP/1.0 400 Bad Request");
  } else if (found != replies_.end()) {
    c.reply = found->second.front();
    if (found->second.size() > 1) found->second.erase(found->second.begin());
  } else {
    c.reply = defaultReply_;
  }
  c.host = HostKey(request.header("Host"));
  if (++inFlightByHost_[c.host] > maxInFlightByHost_[c.host])
    maxInFlightByHost_[c.host] = inFlightByHost_[c.host];
  ++requestCount_;
  if (recording_) requests_.push_back(std::move(request));
  c.requestDone = true;
  c.answering = true;
  ++inFlight_;
  if (inFlight_ > maxInFlight_) maxInFlight_ = inFlight_;
  c.waitingGate = !c.reply.gate.empty() && !openGates_.count(c.reply.gate);
  c.part = 0;
  c.sent = 0;
  c.due = Clock::now() + std::chrono::milliseconds(c.reply.pauseMs);
  return true;
}

void HttpTestServer::serve() {
  std::list<Connection> connections;
  std::vector<pollfd> watches;
  std::vector<Connection*> owners;
  char chunk[4096];

  auto finish = [this](Connection& c) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      endAnswer(c);
    }
    if (c.ssl) {
      if (!c.handshaking) SSL_shutdown(c.ssl);
      ERR_clear_error();
      SSL_free(c.ssl);
      c.ssl = nullptr;
    }
    ::close(c.fd);
    c.fd = -1;
  };

  for (;;) {
    bool stop;
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop = stopping_;
      for (Connection& c : connections)
        if (c.waitingGate && openGates_.count(c.reply.gate)) {
          c.waitingGate = false;
          c.due = Clock::now() + std::chrono::milliseconds(c.reply.pauseMs);
        }
    }
    if (stop) break;

    // Send what is due; find the nearest time something becomes due.
    Clock::time_point now = Clock::now();
    int timeoutMs = -1;
    for (Connection& c : connections) {
      if (c.fd < 0 || !c.requestDone || c.waitingGate) continue;
      while (c.part < c.reply.parts.size() && c.due <= now) {
        const std::string& part = c.reply.parts[c.part];
        if (c.sent < part.size()) {
          long n = transmit(c, part.data() + c.sent, part.size() - c.sent);
          if (n < 0) {
            if (n == -1) break;
            finish(c);
            break;
          }
          c.sent += static_cast<size_t>(n);
          if (c.sent < part.size()) break;
        }
        ++c.part;
        c.sent = 0;
        c.due = now + std::chrono::milliseconds(c.reply.pauseMs);
      }
      if (c.fd < 0) continue;
      if (c.part >= c.reply.parts.size()) {
        if (c.reply.opensTunnel && !c.tunnelled) {
          // The tunnel is open: TLS from here on, then the request from inside it.
          std::lock_guard<std::mutex> hold(lock_);
          endAnswer(c);
          c.tunnelled = true;
          c.requestDone = false;
          c.in.clear();
          c.reply = Reply();
          if (tls_) startTls(c);
          continue;
        }
        if (!c.reply.keepOpen) {
          finish(c);
          continue;
        }
        {
          std::lock_guard<std::mutex> hold(lock_);
          endAnswer(c);
        }
      } else if (c.due > now) {
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(c.due - now).count();
        if (timeoutMs < 0 || wait < timeoutMs) timeoutMs = static_cast<int>(wait);
      }
    }
    connections.remove_if([](const Connection& c) { return c.fd < 0; });

    watches.clear();
    owners.clear();
    watches.push_back({listenFd_, POLLIN, 0});
    watches.push_back({wakeRead_, POLLIN, 0});
    for (Connection& c : connections) {
      short events = POLLIN;
      // A part that is due but still unsent found the socket full: wait until it drains.
      if ((c.requestDone && !c.waitingGate && c.part < c.reply.parts.size() && c.due <= now) ||
          c.wantWrite)
        events |= POLLOUT;
      watches.push_back({c.fd, events, 0});
      owners.push_back(&c);
    }
    if (::poll(watches.data(), watches.size(), timeoutMs) < 0 && errno != EINTR) break;

    if (watches[1].revents & POLLIN)
      while (::read(wakeRead_, chunk, sizeof chunk) > 0) {
      }
    if (watches[0].revents & POLLIN) {
      for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        connections.emplace_back();
        connections.back().fd = fd;
        std::lock_guard<std::mutex> hold(lock_);
        if (tls_ && !proxyMode_) startTls(connections.back());
      }
    }
    for (size_t i = 2; i < watches.size(); ++i) {
      Connection& c = *owners[i - 2];
      if (!(watches[i].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR))) continue;
      // TLS may hold decrypted bytes that the socket no longer shows: read until it waits.
      for (;;) {
        long n = receive(c, chunk, sizeof chunk);
        if (n == -1) break;
        if (n <= 0) {
          finish(c);  // the client closed (or failed): nothing more to say to it
          break;
        }
        if (c.requestDone) continue;  // anything after the head is ignored
        c.in.append(chunk, static_cast<size_t>(n));
        bool eager;
        {
          std::lock_guard<std::mutex> hold(lock_);
          eager = eager_;
        }
        if (eager || HeadEnd(c.in) != std::string::npos) {
          {
            std::lock_guard<std::mutex> hold(lock_);
            beginReply(c);
          }
          arrived_.notify_all();
        }
        if (!c.ssl) break;
      }
    }
    connections.remove_if([](const Connection& c) { return c.fd < 0; });
  }
  for (Connection& c : connections)
    if (c.fd >= 0) finish(c);
}
