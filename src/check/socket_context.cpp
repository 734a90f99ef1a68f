#include "check/socket_context.h"

#include <cstdlib>

SocketContext::SocketContext()
    : buffer(static_cast<char*>(std::malloc(SOCKET_BUFFER_SIZE))),
      startupResult(NetStartup()),
      lastError(0),
      socket(NET_NO_SOCKET),
      hostEntry(nullptr) {}

SocketContext::~SocketContext() {
  CloseSocket();
  std::free(buffer);
  buffer = nullptr;
  NetCleanup();
}

bool SocketContext::Resolve(const char* name) {
  if (startupResult != 0) return false;
  int32_t result = NetLookUp(name, lookup);
  if (result == 0) {
    hostEntry = &lookup;
    return true;
  }
  hostEntry = nullptr;
  lastError = result;
  return false;
}

bool SocketContext::OpenSocket(const char* name) {
  if (!Resolve(name)) return false;
  // A socket left open by an earlier call is not leaked.
  CloseSocket();
  int32_t error = 0;
  socket = NetOpenTcpSocket(&error);
  if (socket == NET_NO_SOCKET) {
    hostEntry = nullptr;
    lastError = error;
    return false;
  }
  return true;
}

bool SocketContext::Connect(const char* name, int32_t port) {
  if (!OpenSocket(name)) return false;
  int32_t error = 0;
  uint16_t shortPort = static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFF);
  if (!NetConnect(socket, hostEntry->addresses.front(), shortPort, &error)) {
    lastError = error;
    CloseSocket();
    return false;
  }
  return true;
}

void SocketContext::SetReceiveTimeout(int32_t milliseconds) {
  if (socket == NET_NO_SOCKET) return;
  NetSetReceiveTimeout(socket, milliseconds < 0 ? 0u : static_cast<uint32_t>(milliseconds));
}

int32_t SocketContext::Receive(char* data, int32_t length, int32_t flags) {
  if (socket == NET_NO_SOCKET) return -1;
  int32_t error = 0;
  int32_t n = NetReceive(socket, data, length, flags, &error);
  if (n < 0) lastError = error;
  return n;
}

int32_t SocketContext::Send(const char* data, int32_t length, int32_t flags) {
  if (socket == NET_NO_SOCKET) return -1;
  int32_t error = 0;
  int32_t n = NetSend(socket, data, length, flags, &error);
  if (n < 0) lastError = error;
  return n;
}

void SocketContext::CloseSocket() {
  if (socket == NET_NO_SOCKET) return;
  NetClose(socket);
  socket = NET_NO_SOCKET;
}
