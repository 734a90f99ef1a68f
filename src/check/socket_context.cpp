#include "check/socket_context.h"

#include <algorithm>
#include <cstdlib>

SocketTuning socketTuning;

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
  hasDeadline_ = timeoutMs_ > 0;
  if (hasDeadline_) {
    int64_t total = 2 * static_cast<int64_t>(timeoutMs_) + socketTuning.deadlineSlackMs;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(total);
  }
  int32_t error = 0;
  uint16_t shortPort = static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFF);
  if (!NetConnect(socket, hostEntry->addresses.front(), shortPort, timeoutMs_, &error)) {
    lastError = error;
    CloseSocket();
    return false;
  }
  return true;
}

void SocketContext::SetTimeout(int32_t milliseconds) { timeoutMs_ = std::max(milliseconds, 0); }

bool SocketContext::Wait(bool forWriting) {
  int64_t wait = timeoutMs_ > 0 ? timeoutMs_ : -1;
  if (hasDeadline_) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) {
      lastError = NET_ETIMEDOUT;
      return false;
    }
    if (wait < 0 || left < wait) wait = left;
  }
  int32_t error = 0;
  int32_t ready = NetWait(socket, forWriting, static_cast<int32_t>(wait), &error);
  if (ready > 0) return true;
  lastError = ready == 0 ? NET_ETIMEDOUT : error;
  return false;
}

int32_t SocketContext::Receive(char* data, int32_t length, int32_t flags) {
  if (socket == NET_NO_SOCKET) return -1;
  for (;;) {
    int32_t error = 0;
    int32_t n = 0;
    bool writable = false;
    if (tls_) {
      TlsFailure failure;
      switch (TlsRead(tls_, data, length, &n, &failure)) {
        case TlsStep::Done:
          return n;
        case TlsStep::Closed:
          return 0;
        case TlsStep::WantRead:
          break;
        case TlsStep::WantWrite:
          writable = true;
          break;
        case TlsStep::Failed:
          lastError = failure.error;
          return -1;
      }
    } else {
      n = NetReceive(socket, data, length, flags, &error);
      if (n >= 0) return n;
      if (error != NET_EWOULDBLOCK) {
        lastError = error;
        return -1;
      }
    }
    if (!Wait(writable)) return -1;
  }
}

int32_t SocketContext::Send(const char* data, int32_t length, int32_t flags) {
  if (socket == NET_NO_SOCKET) return -1;
  int32_t done = 0;
  while (done < length) {
    int32_t error = 0;
    int32_t n = 0;
    bool writable = true;
    if (tls_) {
      TlsFailure failure;
      switch (TlsWrite(tls_, data + done, length - done, &n, &failure)) {
        case TlsStep::Done:
          done += n;
          continue;
        case TlsStep::WantRead:
          writable = false;
          break;
        case TlsStep::WantWrite:
          break;
        case TlsStep::Closed:
        case TlsStep::Failed:
          lastError = failure.error ? failure.error : NET_ECONNRESET;
          return -1;
      }
    } else {
      n = NetSend(socket, data + done, length - done, flags, &error);
      if (n >= 0) {
        done += n;
        continue;
      }
      if (error != NET_EWOULDBLOCK) {
        lastError = error;
        return -1;
      }
    }
    if (!Wait(writable)) return -1;
  }
  return done;
}

void SocketContext::CloseSocket() {
  if (socket == NET_NO_SOCKET) return;
  TlsClose(tls_);
  tls_ = nullptr;
  NetClose(socket);
  socket = NET_NO_SOCKET;
}

bool SocketContext::StartSecure(const char* host, int32_t port) {
  secureFailure = TlsFailure();
  if (socket == NET_NO_SOCKET) return false;
  uint16_t shortPort = static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFF);
  TlsClose(tls_);
  tls_ = TlsOpen(socket, host, shortPort, socketTuning.resumeSessions, &secureFailure);
  if (!tls_) {
    lastError = secureFailure.error;
    CloseSocket();
    return false;
  }
  for (;;) {
    TlsStep step = TlsHandshake(tls_, &secureFailure);
    if (step == TlsStep::Done) return true;
    if (step == TlsStep::Failed || step == TlsStep::Closed) {
      if (secureFailure.kind == TlsFailureKind::None) secureFailure.kind = TlsFailureKind::Closed;
      lastError = secureFailure.error ? secureFailure.error : NET_ECONNRESET;
      break;
    }
    if (!Wait(step == TlsStep::WantWrite)) break;  // lastError says why
  }
  CloseSocket();
  return false;
}

bool SocketContext::SecureResumed() const { return TlsResumed(tls_); }

void SocketContext::StartRun() { TlsStartRun(); }
