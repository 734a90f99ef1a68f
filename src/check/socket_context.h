// SocketContext: one worker thread's connection to the network for the length of one link:
// the probe's work buffer, at most one TCP socket, the result of the last look-up and the
// Winsock error number of the last failed call. A context belongs to the thread that made
// it; any number of contexts may exist on different threads at once.
#pragma once

#include <cstdint>

#include "platform/net.h"

constexpr int32_t SOCKET_BUFFER_SIZE = 4096;

struct SocketContext {
  char* buffer;           // SOCKET_BUFFER_SIZE bytes, null when it could not be allocated
  int32_t startupResult;  // 0: the socket service is ready
  int32_t lastError;      // Winsock number after the last failed call; 0 at first
  NetSocket socket;       // NET_NO_SOCKET when none is open
  // The last successful look-up, or null after a failed look-up or socket creation. It
  // points into this context (lookup), so threads never share it.
  const NetHostEntry* hostEntry;
  NetHostEntry lookup;

  SocketContext();
  ~SocketContext();
  SocketContext(const SocketContext&) = delete;
  SocketContext& operator=(const SocketContext&) = delete;

  bool Resolve(const char* name);
  bool OpenSocket(const char* name);
  // A fresh look-up and a fresh socket each time; the socket is closed again on failure.
  // Only the low 16 bits of the port count.
  bool Connect(const char* name, int32_t port);
  void SetReceiveTimeout(int32_t milliseconds);  // 0: no limit; nothing without a socket
  // The count of the underlying call: positive, 0 (peer closed, receive only) or -1. With
  // no socket open: -1 and lastError unchanged.
  int32_t Receive(char* data, int32_t length, int32_t flags);
  int32_t Send(const char* data, int32_t length, int32_t flags);
  void CloseSocket();
};
