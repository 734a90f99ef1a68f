#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

namespace {

// The hook is copied out under the lock, so a look-up never holds it while resolving.
std::mutex resolverLock;
std::shared_ptr<const NetResolver> resolverHook;

int32_t SystemLookUp(const char* name, NetHostEntry& entry) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  int result = getaddrinfo(name, nullptr, &hints, &found);
  if (result != 0) return NetErrorFromLookup(result, errno);
  entry.name = found && found->ai_canonname ? found->ai_canonname : name;
  for (addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family != AF_INET || !a->ai_addr) continue;
    uint32_t address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    bool known = false;
    for (uint32_t seen : entry.addresses) known = known || seen == address;
    if (!known) entry.addresses.push_back(address);
  }
  freeaddrinfo(found);
  return entry.addresses.empty() ? NET_NO_DATA : 0;
}

bool EqualsAsciiNoCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

}  // namespace

int32_t NetErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return 0;
    case EINTR:
      return NET_EINTR;
    case EBADF:
      return NET_EBADF;
    case EACCES:
    case EPERM:
      return NET_EACCES;
    case EFAULT:
      return NET_EFAULT;
    case EINVAL:
      return NET_EINVAL;
    case EMFILE:
    case ENFILE:
      return NET_EMFILE;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN:
      return NET_EWOULDBLOCK;
    case EINPROGRESS:
      return NET_EINPROGRESS;
    case EALREADY:
      return NET_EALREADY;
    case ENOTSOCK:
      return NET_ENOTSOCK;
    case EMSGSIZE:
      return NET_EMSGSIZE;
    case EPROTONOSUPPORT:
      return NET_EPROTONOSUPPORT;
    case EOPNOTSUPP:
      return NET_EOPNOTSUPP;
    case EAFNOSUPPORT:
      return NET_EAFNOSUPPORT;
    case EADDRINUSE:
      return NET_EADDRINUSE;
    case EADDRNOTAVAIL:
      return NET_EADDRNOTAVAIL;
    case ENETDOWN:
      return NET_ENETDOWN;
    case ENETUNREACH:
      return NET_ENETUNREACH;
    case ENETRESET:
      return NET_ENETRESET;
    case ECONNABORTED:
      return NET_ECONNABORTED;
    case ECONNRESET:
    case EPIPE:
      return NET_ECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return NET_ENOBUFS;
    case EISCONN:
      return NET_EISCONN;
    case ENOTCONN:
      return NET_ENOTCONN;
    case ESHUTDOWN:
      return NET_ESHUTDOWN;
    case ETIMEDOUT:
      return NET_ETIMEDOUT;
    case ECONNREFUSED:
      return NET_ECONNREFUSED;
    case EHOSTDOWN:
      return NET_EHOSTDOWN;
    case EHOSTUNREACH:
      return NET_EHOSTUNREACH;
    default:
      return NET_EINVAL;
  }
}

int32_t NetErrorFromLookup(int lookupError, int errnoValue) {
  switch (lookupError) {
    case 0:
      return 0;
    case EAI_NONAME:
      return NET_HOST_NOT_FOUND;
    case EAI_AGAIN:
      return NET_TRY_AGAIN;
    case EAI_FAIL:
      return NET_NO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return NET_NO_DATA;
    case EAI_MEMORY:
      return NET_ENOBUFS;
    case EAI_FAMILY:
      return NET_EAFNOSUPPORT;
    case EAI_SYSTEM: {
      int32_t mapped = NetErrorFromErrno(errnoValue);
      return mapped ? mapped : NET_NO_RECOVERY;
    }
    default:
      return NET_NO_RECOVERY;
  }
}

void SetNetResolver(NetResolver resolver) {
  std::shared_ptr<const NetResolver> hook;
  if (resolver) hook = std::make_shared<const NetResolver>(std::move(resolver));
  std::lock_guard<std::mutex> hold(resolverLock);
  resolverHook = std::move(hook);
}

NetResolver NetResolverFromTable(std::vector<NetHostRule> rules) {
  auto table = std::make_shared<const std::vector<NetHostRule>>(std::move(rules));
  return [table](const char* name, NetHostEntry& entry) -> int32_t {
    for (const NetHostRule& rule : *table) {
      if (!EqualsAsciiNoCase(rule.name, name)) continue;
      if (rule.error) return rule.error;
      entry.name = rule.canonicalName.empty() ? rule.name : rule.canonicalName;
      for (const std::string& text : rule.addresses) {
        in_addr address{};
        if (inet_pton(AF_INET, text.c_str(), &address) == 1)
          entry.addresses.push_back(address.s_addr);
      }
      return entry.addresses.empty() ? NET_NO_DATA : 0;
    }
    return NET_HOST_NOT_FOUND;
  };
}

int32_t NetLookUp(const char* name, NetHostEntry& entry) {
  entry.name.clear();
  entry.addresses.clear();
  if (!name || !*name) return NET_HOST_NOT_FOUND;
  // A dotted address stands for itself: a reverse look-up would make an address without a
  // reverse name look like a host that does not exist. inet_aton accepts the same short
  // forms ("10.1") as the classic inet_addr.
  in_addr dotted{};
  if (inet_aton(name, &dotted) != 0) {
    entry.name = name;
    entry.addresses.push_back(dotted.s_addr);
    return 0;
  }
  std::shared_ptr<const NetResolver> hook;
  {
    std::lock_guard<std::mutex> hold(resolverLock);
    hook = resolverHook;
  }
  int32_t result = hook ? (*hook)(name, entry) : SystemLookUp(name, entry);
  if (result == 0 && entry.addresses.empty()) result = NET_NO_DATA;
  if (result != 0) {
    entry.name.clear();
    entry.addresses.clear();
  }
  return result;
}

int32_t NetStartup() { return 0; }

void NetCleanup() {}

NetSocket NetOpenTcpSocket(int32_t* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = NetErrorFromErrno(errno);
    return NET_NO_SOCKET;
  }
  // Small writes go out at once: after a resumed TLS handshake the request follows the
  // handshake's last message, and holding it back until that message is acknowledged costs
  // the peer's delayed acknowledgement (up to 40 ms) on every link.
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

int32_t NetWait(NetSocket socket, bool forWriting, int32_t timeoutMs, int32_t* error) {
  pollfd watch{static_cast<int>(socket), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int ready = ::poll(&watch, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (ready > 0) return 1;
    if (ready == 0) return 0;
    if (errno != EINTR) {
      if (error) *error = NetErrorFromErrno(errno);
      return -1;
    }
    if (timeoutMs >= 0) {
      // An interrupted wait goes on for the rest of its time only.
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      timeoutMs = left.count() > 0 ? static_cast<int32_t>(left.count()) : 0;
    }
  }
}

bool NetConnect(NetSocket socket, uint32_t address, uint16_t port, int32_t timeoutMs,
                int32_t* error) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = address;
  int fd = static_cast<int>(socket);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return true;
  int failure = errno;
  if (failure == EINPROGRESS || failure == EINTR) {
    // The connection is being made in the background: wait for its outcome, no longer
    // than allowed. A listener whose queue is full never answers, and the system's own
    // limit is minutes.
    int32_t waitError = 0;
    int32_t ready = NetWait(socket, true, timeoutMs > 0 ? timeoutMs : -1, &waitError);
    if (ready == 0) {
      if (error) *error = NET_ETIMEDOUT;
      return false;
    }
    if (ready < 0) {
      if (error) *error = waitError;
      return false;
    }
    socklen_t size = sizeof failure;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0) failure = errno;
    if (failure == 0) return true;
  }
  if (error) *error = NetErrorFromErrno(failure);
  return false;
}

static int SystemFlags(int32_t flags) {
  int result = 0;
  if (flags & NET_MSG_OOB) result |= MSG_OOB;
  if (flags & NET_MSG_PEEK) result |= MSG_PEEK;
  return result;
}

int32_t NetReceive(NetSocket socket, char* buffer, int32_t length, int32_t flags, int32_t* error) {
  if (length < 0) length = 0;
  ssize_t n;
  do n = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(length), SystemFlags(flags));
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (error) *error = NetErrorFromErrno(errno);
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t NetSend(NetSocket socket, const char* data, int32_t length, int32_t flags, int32_t* error) {
  if (length < 0) length = 0;
  ssize_t n;
  // MSG_NOSIGNAL: a peer that has gone gives an error, not a signal that ends the program.
  do
    n = ::send(static_cast<int>(socket), data, static_cast<size_t>(length),
               SystemFlags(flags) | MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (error) *error = NetErrorFromErrno(errno);
    return -1;
  }
  return static_cast<int32_t>(n);
}

void NetClose(NetSocket socket) {
  if (socket != NET_NO_SOCKET) ::close(static_cast<int>(socket));
}
