#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
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

}  // namespace

struct HttpTestServer::Connection {
  int fd = -1;
  std::string in;
  bool requestDone = false;
  bool answering = false;  // counted in inFlight_
  bool waitingGate = false;
  Reply reply;
  size_t part = 0;
  size_t sent = 0;
  Clock::time_point due;
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
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpTestServer::setReply(const std::string& target, Reply reply) {
  std::lock_guard<std::mutex> hold(lock_);
  replies_[target] = std::move(reply);
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
  if (proxyMode_ && request.target.compare(0, 7, "http://") != 0)
    c.reply = Reply::Status("HTTP/1.0 400 Bad Request");
  else
    c.reply = found != replies_.end() ? found->second : defaultReply_;
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
    if (c.answering) {
      std::lock_guard<std::mutex> hold(lock_);
      --inFlight_;
      c.answering = false;
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
          ssize_t n = ::send(c.fd, part.data() + c.sent, part.size() - c.sent, MSG_NOSIGNAL);
          if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
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
        if (!c.reply.keepOpen) {
          finish(c);
          continue;
        }
        if (c.answering) {
          std::lock_guard<std::mutex> hold(lock_);
          --inFlight_;
          c.answering = false;
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
      if (c.requestDone && !c.waitingGate && c.part < c.reply.parts.size() && c.due <= now)
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
      }
    }
    for (size_t i = 2; i < watches.size(); ++i) {
      Connection& c = *owners[i - 2];
      if (!(watches[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (n <= 0) {
        finish(c);  // the client closed (or failed): nothing more to say to it
        continue;
      }
      if (c.requestDone) continue;  // anything after the head is ignored
      c.in.append(chunk, static_cast<size_t>(n));
      if (HeadEnd(c.in) != std::string::npos) {
        {
          std::lock_guard<std::mutex> hold(lock_);
          beginReply(c);
        }
        arrived_.notify_all();
      }
    }
    connections.remove_if([](const Connection& c) { return c.fd < 0; });
  }
  for (Connection& c : connections)
    if (c.fd >= 0) finish(c);
}
