// A minimal client of a browser's remote debugging protocol over loopback, for the tests that
// drive a real browser: a WebSocket (RFC 6455) text connection carrying JSON commands. Only
// what those tests need: unfragmented text frames out (masked, as a client must), text,
// continuation, ping and close frames in. Test thread only.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

class DevToolsClient {
 public:
  DevToolsClient() = default;
  ~DevToolsClient();
  DevToolsClient(const DevToolsClient&) = delete;
  DevToolsClient& operator=(const DevToolsClient&) = delete;

  // Connects to ws://127.0.0.1:port<path>. False (with error()) when the connection or the
  // handshake fails within timeoutMs.
  bool connect(int port, const std::string& path, int timeoutMs);

  // Sends a command and returns its answer (the message with the same "id"), passing over
  // events; a null value when the connection fails or timeoutMs pass.
  nlohmann::json call(const std::string& method, nlohmann::json params = nlohmann::json::object(),
                      const std::string& sessionId = {}, int timeoutMs = 10000);

  const std::string& error() const { return error_; }

 private:
  bool sendText(const std::string& text);
  bool receiveMessage(std::string& message, int timeoutMs);
  bool readExact(void* buffer, size_t size, int timeoutMs);
  int fd_ = -1;
  int nextId_ = 1;
  std::string error_;
  std::string pending_;  // bytes read past the handshake
};
