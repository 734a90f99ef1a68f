#include "support/devtools_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

DevToolsClient::~DevToolsClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool DevToolsClient::connect(int port, const std::string& path, int timeoutMs) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return error_ = "socket", false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return error_ = "connect", false;
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                        "Sec-WebSocket-Version: 13\r\n\r\n";
  if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size()))
    return error_ = "send", false;
  std::string reply;
  int64_t deadline = NowMs() + timeoutMs;
  while (reply.find("\r\n\r\n") == std::string::npos) {
    char c[4096];
    pollfd p{fd_, POLLIN, 0};
    int left = static_cast<int>(deadline - NowMs());
    if (left <= 0 || ::poll(&p, 1, left) <= 0) return error_ = "handshake time-out", false;
    ssize_t n = ::recv(fd_, c, sizeof c, 0);
    if (n <= 0) return error_ = "handshake closed", false;
    reply.append(c, static_cast<size_t>(n));
  }
  if (reply.rfind("HTTP/1.1 101", 0) != 0) return error_ = "handshake: " + reply, false;
  pending_ = reply.substr(reply.find("\r\n\r\n") + 4);
  return true;
}

bool DevToolsClient::sendText(const std::string& text) {
  std::string frame;
  frame += static_cast<char>(0x81);  // final fragment, text
  size_t n = text.size();
  if (n < 126) {
    frame += static_cast<char>(0x80 | n);
  } else if (n < 65536) {
    frame += static_cast<char>(0x80 | 126);
    frame += static_cast<char>(n >> 8);
    frame += static_cast<char>(n & 0xFF);
  } else {
    frame += static_cast<char>(0x80 | 127);
    for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xFF);
  }
  static std::mt19937 random(12345);
  unsigned char mask[4];
  for (unsigned char& m : mask) m = static_cast<unsigned char>(random());
  frame.append(reinterpret_cast<char*>(mask), 4);
  for (size_t i = 0; i < n; ++i) frame += static_cast<char>(text[i] ^ mask[i % 4]);
  size_t sent = 0;
  while (sent < frame.size()) {
    ssize_t k = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (k <= 0) return error_ = "send", false;
    sent += static_cast<size_t>(k);
  }
  return true;
}

bool DevToolsClient::readExact(void* buffer, size_t size, int timeoutMs) {
  char* out = static_cast<char*>(buffer);
  size_t have = std::min(size, pending_.size());
  std::memcpy(out, pending_.data(), have);
  pending_.erase(0, have);
  int64_t deadline = NowMs() + timeoutMs;
  while (have < size) {
    pollfd p{fd_, POLLIN, 0};
    int left = static_cast<int>(deadline - NowMs());
    if (left <= 0 || ::poll(&p, 1, left) <= 0) return error_ = "time-out", false;
    ssize_t n = ::recv(fd_, out + have, size - have, 0);
    if (n <= 0) return error_ = "closed", false;
    have += static_cast<size_t>(n);
  }
  return true;
}

bool DevToolsClient::receiveMessage(std::string& message, int timeoutMs) {
  message.clear();
  for (;;) {
    unsigned char head[2];
    if (!readExact(head, 2, timeoutMs)) return false;
    uint64_t length = head[1] & 0x7F;
    if (length == 126 || length == 127) {
      unsigned char ext[8];
      size_t count = length == 126 ? 2 : 8;
      if (!readExact(ext, count, timeoutMs)) return false;
      length = 0;
      for (size_t i = 0; i < count; ++i) length = (length << 8) | ext[i];
    }
    if (length > (uint64_t{256} << 20)) return error_ = "frame too large", false;
    std::string payload(static_cast<size_t>(length), '\0');
    if (length && !readExact(payload.data(), payload.size(), timeoutMs)) return false;
    int opcode = head[0] & 0x0F;
    if (opcode == 0x8) return error_ = "closed by the browser", false;
    if (opcode == 0x9 || opcode == 0xA) continue;  // ping, pong: a browser sends none unasked
    message += payload;
    if (head[0] & 0x80) return true;
  }
}

nlohmann::json DevToolsClient::call(const std::string& method, nlohmann::json params,
                                    const std::string& sessionId, int timeoutMs) {
  if (fd_ < 0) return nullptr;
  int id = nextId_++;
  nlohmann::json command = {{"id", id}, {"method", method}, {"params", std::move(params)}};
  if (!sessionId.empty()) command["sessionId"] = sessionId;
  if (!sendText(command.dump())) return nullptr;
  int64_t deadline = NowMs() + timeoutMs;
  std::string message;
  for (;;) {
    int left = static_cast<int>(deadline - NowMs());
    if (left <= 0 || !receiveMessage(message, left)) return nullptr;
    nlohmann::json reply = nlohmann::json::parse(message, nullptr, false);
    if (reply.is_object() && reply.value("id", 0) == id) return reply;
  }
}
