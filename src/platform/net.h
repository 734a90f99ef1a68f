// The network service: IPv4 TCP sockets and host-name look-ups. Every failure is reported
// as a Winsock error number (the numbers the log shows and the probe acts on), whatever
// the system underneath. Any thread may call these functions; nothing here keeps state
// between calls except the resolver hook, which tests replace before any look-up runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Winsock error numbers.
constexpr int32_t NET_EINTR = 10004;
constexpr int32_t NET_EBADF = 10009;
constexpr int32_t NET_EACCES = 10013;
constexpr int32_t NET_EFAULT = 10014;
constexpr int32_t NET_EINVAL = 10022;
constexpr int32_t NET_EMFILE = 10024;
constexpr int32_t NET_EWOULDBLOCK = 10035;
constexpr int32_t NET_EINPROGRESS = 10036;
constexpr int32_t NET_EALREADY = 10037;
constexpr int32_t NET_ENOTSOCK = 10038;
constexpr int32_t NET_EMSGSIZE = 10040;
constexpr int32_t NET_EPROTONOSUPPORT = 10043;
constexpr int32_t NET_EOPNOTSUPP = 10045;
constexpr int32_t NET_EAFNOSUPPORT = 10047;
constexpr int32_t NET_EADDRINUSE = 10048;
constexpr int32_t NET_EADDRNOTAVAIL = 10049;
constexpr int32_t NET_ENETDOWN = 10050;
constexpr int32_t NET_ENETUNREACH = 10051;
constexpr int32_t NET_ENETRESET = 10052;
constexpr int32_t NET_ECONNABORTED = 10053;
constexpr int32_t NET_ECONNRESET = 10054;
constexpr int32_t NET_ENOBUFS = 10055;
constexpr int32_t NET_EISCONN = 10056;
constexpr int32_t NET_ENOTCONN = 10057;
constexpr int32_t NET_ESHUTDOWN = 10058;
constexpr int32_t NET_ETIMEDOUT = 10060;
constexpr int32_t NET_ECONNREFUSED = 10061;
constexpr int32_t NET_EHOSTDOWN = 10064;
constexpr int32_t NET_EHOSTUNREACH = 10065;
constexpr int32_t NET_HOST_NOT_FOUND = 11001;
constexpr int32_t NET_TRY_AGAIN = 11002;
constexpr int32_t NET_NO_RECOVERY = 11003;
constexpr int32_t NET_NO_DATA = 11004;

// Flags of NetReceive and NetSend, with their Winsock values.
constexpr int32_t NET_MSG_OOB = 1;
constexpr int32_t NET_MSG_PEEK = 2;

using NetSocket = intptr_t;
constexpr NetSocket NET_NO_SOCKET = -1;

// What a look-up found: the official (canonical) name and the IPv4 addresses, each in
// network byte order. Owned by whoever asked, so look-ups on different threads never share
// storage.
struct NetHostEntry {
  std::string name;
  std::vector<uint32_t> addresses;
};

// The system's Winsock number for an errno value.
int32_t NetErrorFromErrno(int error);
// The Winsock number for a getaddrinfo result (EAI_...); errnoValue is used for EAI_SYSTEM.
int32_t NetErrorFromLookup(int lookupError, int errnoValue);

// A look-up function: fills entry and returns 0, or returns a Winsock error number.
using NetResolver = std::function<int32_t(const char* name, NetHostEntry& entry)>;

// Replaces the system's resolver for the whole process (null restores it). Set while no
// look-up runs (tests set it before starting workers).
void SetNetResolver(NetResolver resolver);

// One line of a resolver table: a name (matched ignoring ASCII case), and either the
// addresses it gives (dotted text) with its canonical name, or the error it fails with.
struct NetHostRule {
  std::string name;
  std::vector<std::string> addresses;
  std::string canonicalName;  // empty: the name itself
  int32_t error = 0;          // non-zero: the look-up fails with this number
};
// A resolver that answers from a table; a name not in it is not found (11001).
NetResolver NetResolverFromTable(std::vector<NetHostRule> rules);

// Looks a name up. A dotted IPv4 address gives itself at once (no reverse look-up); an
// empty name is not found. 0 on success, otherwise a Winsock error number.
int32_t NetLookUp(const char* name, NetHostEntry& entry);

// Counted start-up and shut-down of the socket service; 0 when ready.
int32_t NetStartup();
void NetCleanup();

// IPv4 TCP operations on non-blocking sockets: nothing here waits longer than it is told.
// Each returns -1 (or false) on failure with the Winsock number in *error.
NetSocket NetOpenTcpSocket(int32_t* error);
// address in network byte order. Waits at most timeoutMs for the connection (0: as long as
// the system lets it try); a connection not made by then fails with 10060.
bool NetConnect(NetSocket socket, uint32_t address, uint16_t port, int32_t timeoutMs,
                int32_t* error);
// Waits until the socket can be read (or written, forWriting) or has failed, at most
// timeoutMs (negative: no limit). 1 when ready, 0 when the time ran out, -1 on failure.
int32_t NetWait(NetSocket socket, bool forWriting, int32_t timeoutMs, int32_t* error);
// Byte count, 0 when the peer closed, -1 on failure; nothing to read yet gives 10035.
int32_t NetReceive(NetSocket socket, char* buffer, int32_t length, int32_t flags, int32_t* error);
// Byte count (possibly short), -1 on failure; no room to send yet gives 10035.
int32_t NetSend(NetSocket socket, const char* data, int32_t length, int32_t flags, int32_t* error);
void NetClose(NetSocket socket);
