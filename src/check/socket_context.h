// SocketContext: one worker thread's connection to the network for the length of one link:
// the probe's work buffer, at most one TCP socket, the result of the last look-up and the
// Winsock error number of the last failed call. A context belongs to the thread that made
// it; any number of contexts may exist on different threads at once.
//
// Time: SetTimeout bounds connecting and every single wait for the server. Besides, the
// whole exchange of one connection (connecting, sending, reading) ends at a deadline of
// twice the time-out plus five seconds after connecting began, so a server that trickles
// one byte just within each time-out can not hold a worker longer. Past the deadline every
// call fails with 10060, as a time-out does. A time-out of 0 means no limit at all.
//
// A connection made secure (StartSecure) carries TLS from then on: Send and Receive encrypt
// and decrypt, and every wait of the handshake is bounded like any other.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/net.h"
#include "platform/tls.h"

constexpr int32_t SOCKET_BUFFER_SIZE = 4096;

// Knobs for tests only; the program never changes them. Set them while no check runs.
struct SocketTuning {
  int32_t deadlineSlackMs = 5000;  // added to twice the time-out for the deadline
  bool resumeSessions = true;      // false: every secure connection makes a full handshake
};
extern SocketTuning socketTuning;

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
  // Only the low 16 bits of the port count. Starts the deadline of the exchange.
  bool Connect(const char* name, int32_t port);
  // Milliseconds for connecting and for each wait; 0: no limit. Takes effect from the next
  // Connect on (the deadline) and at once (each wait).
  void SetTimeout(int32_t milliseconds);
  // The count received: positive, 0 (peer closed) or -1 (failure, 10060 on a time-out).
  // With no socket open: -1 and lastError unchanged.
  int32_t Receive(char* data, int32_t length, int32_t flags);
  // Sends all of data (waiting for room as needed): length, or -1 on failure.
  int32_t Send(const char* data, int32_t length, int32_t flags);
  void CloseSocket();

  // Runs the TLS handshake on the open connection for host and port (the link's own, also
  // when the connection is a tunnel through a proxy). False on failure, with the socket
  // closed and secureFailure saying why; a wait that ran out leaves lastError 10060.
  bool StartSecure(const char* host, int32_t port);
  bool SecureResumed() const;  // the handshake resumed an earlier session of the host
  TlsFailure secureFailure;

  // Forgets the secure sessions and trust store read so far; called as a check run begins.
  static void StartRun();

 private:
  // Waits until the socket is ready within the time-out and the deadline; false with
  // lastError set when it is not.
  bool Wait(bool forWriting);

  TlsConnection* tls_ = nullptr;
  int32_t timeoutMs_ = 0;
  bool hasDeadline_ = false;
  std::chrono::steady_clock::time_point deadline_;
};
