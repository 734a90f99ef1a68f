#include "check/probe.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "check/clean_run_state.h"
#include "tree/settings.h"

namespace {

constexpr int32_t kTextLimit = 1023;  // every formatted text is at most this long
constexpr int32_t kReplyLimit = SOCKET_BUFFER_SIZE - 1;

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    unsigned char x = static_cast<unsigned char>(*text), y = static_cast<unsigned char>(*prefix);
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// Writes one numbered line to the log. A text cut at the length limit keeps its line end,
// so that the next line does not run on from it.
void LogLine(const CheckJob* job, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogLine(const CheckJob* job, const char* format, ...) {
  char text[kTextLimit + 1];
  int prefix = std::snprintf(text, sizeof text, "%ld: ", static_cast<long>(job->sequence));
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text + prefix, sizeof text - static_cast<size_t>(prefix), format, args);
  va_end(args);
  if (n >= 0 && prefix + n > kTextLimit) std::memcpy(text + kTextLimit - 2, "\r\n", 3);
  AppendLog(job->window, IDC_LOG, text);
}

// Leading decimal digits as a 32-bit number (wrapping as the unsigned port value does).
int32_t LeadingNumber(const char* text) {
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text)
    value = value * 10 + static_cast<uint32_t>(*text - '0');
  return static_cast<int32_t>(value);
}

// The status after the first space: optional blanks and sign, then digits; 0 when none.
// Out-of-range values saturate instead of wrapping into another meaning.
int32_t StatusNumber(const char* line) {
  const char* space = std::strchr(line, ' ');
  if (!space) return 0;
  const char* p = space + 1;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) value = INT32_MAX;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

// Asks the proxy for a tunnel to host:port and reads its answer up to the end of the
// headers; true when the tunnel is open (a 2xx answer). Anything else is logged.
bool OpenTunnel(SocketContext& context, const CheckJob* job, const char* host, int32_t port) {
  char* buffer = context.buffer;
  unsigned shortPort = static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFF);
  int length = std::snprintf(buffer, SOCKET_BUFFER_SIZE,
                             "CONNECT %s:%u HTTP/1.0\r\nHost: %s:%u\r\n"
                             "User-Agent: Quillfen/1.1\r\n\r\n",
                             host, shortPort, host, shortPort);
  if (length < 0 || length >= SOCKET_BUFFER_SIZE) {
    LogLine(job, "Host name too long to ask the proxy for\r\n");
    return false;
  }
  LogLine(job, "Opening a tunnel to %s:%u...\r\n", host, shortPort);
  if (context.Send(buffer, length, 0) == -1) {
    LogLine(job, "Error sending data (%ld)\r\n", static_cast<long>(context.lastError));
    return false;
  }
  std::string statusLine;
  int32_t filled = 0, lines = 0, headerBytes = 0;
  for (;;) {
    int32_t n = context.Receive(buffer + filled, kReplyLimit - filled, 0);
    if (n <= 0) {
      if (n < 0 && context.lastError == NET_ETIMEDOUT)
        LogLine(job, "No answer from the proxy (timed out)\r\n");
      else if (n < 0)
        LogLine(job, "No answer from the proxy (%ld)\r\n", static_cast<long>(context.lastError));
      else
        LogLine(job, "No valid answer from the proxy!\r\n");
      return false;
    }
    filled += n;
    for (;;) {
      char* lineFeed = static_cast<char*>(std::memchr(buffer, '\n', static_cast<size_t>(filled)));
      if (!lineFeed) break;
      int32_t i = static_cast<int32_t>(lineFeed - buffer);
      int32_t lineLength = i > 0 && buffer[i - 1] == '\r' ? i - 1 : i;
      ++lines;
      headerBytes += i + 1;
      if (lines == 1) {
        statusLine.assign(buffer, static_cast<size_t>(lineLength));
        int32_t status = StatusNumber(statusLine.c_str());
        if (!StartsWithNoCase(statusLine.c_str(), "HTTP") || status < 200 || status > 299) {
          if (StartsWithNoCase(statusLine.c_str(), "HTTP"))
            LogLine(job, "The proxy refused the tunnel: %s\r\n", statusLine.c_str());
          else
            LogLine(job, "No valid answer from the proxy!\r\n");
          if (status == 407)
            LogLine(job, "The proxy asks for a password, which this program does not support\r\n");
          return false;
        }
      } else if (lineLength == 0) {
        return true;  // the headers ended: what follows is the server's
      }
      std::memmove(buffer, lineFeed + 1, static_cast<size_t>(filled - i - 1));
      filled -= i + 1;
      if (lines >= PROBE_MAX_HEADER_LINES || headerBytes >= PROBE_MAX_HEADER_BYTES) {
        LogLine(job, "No valid answer from the proxy!\r\n");
        return false;
      }
    }
    if (filled >= kReplyLimit) {
      LogLine(job, "No valid answer from the proxy!\r\n");
      return false;
    }
  }
}

struct UriParts {
  bool hasScheme = false, hasAuthority = false, hasQuery = false, hasFragment = false;
  std::string scheme, authority, path, query, fragment;
};

UriParts SplitUri(const std::string& text) {
  UriParts u;
  size_t pos = 0;
  size_t colon = text.find(':');
  if (colon != std::string::npos && colon > 0 &&
      ((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'))) {
    bool valid = true;
    for (size_t i = 1; i < colon && valid; ++i) {
      char c = text[i];
      valid = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '-' || c == '.';
    }
    if (valid) {
      u.hasScheme = true;
      u.scheme = text.substr(0, colon);
      pos = colon + 1;
    }
  }
  if (text.compare(pos, 2, "//") == 0) {
    size_t end = text.find_first_of("/?#", pos + 2);
    if (end == std::string::npos) end = text.size();
    u.hasAuthority = true;
    u.authority = text.substr(pos + 2, end - pos - 2);
    pos = end;
  }
  size_t end = text.find_first_of("?#", pos);
  if (end == std::string::npos) end = text.size();
  u.path = text.substr(pos, end - pos);
  pos = end;
  if (pos < text.size() && text[pos] == '?') {
    end = text.find('#', pos);
    if (end == std::string::npos) end = text.size();
    u.hasQuery = true;
    u.query = text.substr(pos + 1, end - pos - 1);
    pos = end;
  }
  if (pos < text.size() && text[pos] == '#') {
    u.hasFragment = true;
    u.fragment = text.substr(pos + 1);
  }
  return u;
}

std::string RemoveDotSegments(const std::string& path) {
  bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> kept;
  bool trailingSlash = false;
  size_t start = absolute ? 1 : 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(start, end - start);
    bool last = end == path.size();
    if (segment == "." || segment == "..") {
      if (segment == ".." && !kept.empty()) kept.pop_back();
      trailingSlash = last;
    } else {
      kept.push_back(std::move(segment));
      trailingSlash = false;
    }
    start = end + 1;
  }
  std::string out = absolute ? "/" : "";
  for (size_t k = 0; k < kept.size(); ++k) {
    if (k) out += '/';
    out += kept[k];
  }
  if (trailingSlash && !kept.empty()) out += '/';
  return out;
}

std::string MergePaths(const UriParts& base, const std::string& path) {
  if (base.hasAuthority && base.path.empty()) return "/" + path;
  size_t slash = base.path.rfind('/');
  if (slash == std::string::npos) return path;
  return base.path.substr(0, slash + 1) + path;
}

std::string JoinUri(const UriParts& u) {
  std::string out;
  if (u.hasScheme) out += u.scheme + ":";
  if (u.hasAuthority) out += "//" + u.authority;
  out += u.path;
  if (u.hasQuery) out += "?" + u.query;
  if (u.hasFragment) out += "#" + u.fragment;
  return out;
}

}  // namespace

std::string ResolveReference(const std::string& base, const std::string& reference) {
  UriParts b = SplitUri(base);
  UriParts r = SplitUri(reference);
  UriParts t;
  if (r.hasScheme) {
    t = r;
    t.path = RemoveDotSegments(r.path);
  } else {
    if (r.hasAuthority) {
      t.hasAuthority = true;
      t.authority = r.authority;
      t.path = RemoveDotSegments(r.path);
      t.hasQuery = r.hasQuery;
      t.query = r.query;
    } else {
      if (r.path.empty()) {
        t.path = b.path;
        t.hasQuery = r.hasQuery || b.hasQuery;
        t.query = r.hasQuery ? r.query : b.query;
      } else {
        t.path = RemoveDotSegments(r.path[0] == '/' ? r.path : MergePaths(b, r.path));
        t.hasQuery = r.hasQuery;
        t.query = r.query;
      }
      t.hasAuthority = b.hasAuthority;
      t.authority = b.authority;
    }
    t.hasScheme = b.hasScheme;
    t.scheme = b.scheme;
  }
  t.hasFragment = r.hasFragment;
  t.fragment = r.fragment;
  return JoinUri(t);
}

bool IsWebAddress(const std::string& address) {
  size_t afterScheme;
  if (StartsWithNoCase(address.c_str(), "http://"))
    afterScheme = 7;
  else if (StartsWithNoCase(address.c_str(), "https://"))
    afterScheme = 8;
  else
    return false;
  return !AddressHost(address, afterScheme).empty();
}

std::string AddressHost(const std::string& address, size_t from) {
  size_t end = address.find_first_of("/?#", from);
  if (end == std::string::npos) end = address.size();
  std::string host = address.substr(from, end - from);
  size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  // The port goes; a bracketed address keeps its colons.
  size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) host.erase(colon);
  return host;
}

std::string EncodeUnsafeUrlBytes(const std::string& address) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(address.size());
  for (unsigned char c : address) {
    if (c < 0x20 || c == 0x7F || c == ' ' || c == '"' || c == '<' || c == '>') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

namespace {

constexpr int32_t kMaxRedirects = 5;
constexpr int64_t kLongestRetryWait = 60;  // seconds

enum class HopEnd { Answer, HostNotFound, Certificate, NoAnswer };

// What one request (one method, one address) brought back.
struct HopReply {
  HopEnd end = HopEnd::NoAnswer;
  int32_t status = 0;
  bool contacted = false;  // a connection was made, to the server or to the proxy
  bool hasLocation = false;
  bool locationRefused = false;  // longer than PROBE_MAX_LOCATION
  std::string location;
  bool challenge = false;  // the reply names itself a bot check
  int64_t retryAfter = -1;  // seconds the server asks to wait; -1 when it did not ask
  bool blocked = false;
};

// An address taken apart for one request.
struct HopTarget {
  bool secure = false;
  std::string host;
  int32_t port = 0;
  std::string rest;  // what follows the authority: path and query, maybe empty
};

bool SplitHopTarget(const std::string& address, HopTarget& t) {
  if (StartsWithNoCase(address.c_str(), "http://"))
    t.secure = false;
  else if (StartsWithNoCase(address.c_str(), "https://"))
    t.secure = true;
  else
    return false;
  // The authority ends at the first '/' or '?': a query straight after the host
  // ("http://host?x") belongs to the target, not to the host name. User information
  // ("user:password@") is not part of the host either.
  size_t start = t.secure ? 8 : 7;
  size_t end = address.find_first_of("/?", start);
  if (end == std::string::npos) end = address.size();
  size_t at = address.rfind('@', end == 0 ? 0 : end - 1);
  size_t hostStart = at != std::string::npos && at >= start ? at + 1 : start;
  t.host = address.substr(hostStart, end - hostStart);
  t.rest = address.substr(end);
  t.port = t.secure ? 443 : 80;
  size_t colon = t.host.find(':');
  if (colon != std::string::npos) {
    t.port = LeadingNumber(t.host.c_str() + colon + 1);
    t.host.erase(colon);
  }
  return true;
}

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A Retry-After value: whole seconds, or an HTTP date (RFC 1123 form) counted from now.
// -1 when it is neither; a date in the past is 0.
int64_t RetryAfterSeconds(const std::string& value) {
  std::string text = Trimmed(value);
  if (text.empty()) return -1;
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    if (text.size() > 12) return INT64_MAX;
    return std::strtoll(text.c_str(), nullptr, 10);
  }
  std::tm parts{};
  const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S", &parts);
  if (!end) return -1;
  while (*end == ' ') ++end;
  if (!StartsWithNoCase(end, "GMT")) return -1;
  int64_t when = static_cast<int64_t>(timegm(&parts));
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  return when > now ? when - now : 0;
}

bool IsRedirect(int32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}
bool IsPermanentRedirect(int32_t status) { return status == 301 || status == 308; }

// The headers the verdict may depend on; for any other status the status line is enough.
bool WantsHeaders(int32_t status) {
  return IsRedirect(status) || status == 403 || status == 429 || status == 503;
}

// Logs why the secure connection could not be made; a certificate problem is an answer.
HopEnd ReportSecureFailure(const SocketContext& context, const CheckJob* job) {
  const TlsFailure& failure = context.secureFailure;
  switch (failure.kind) {
    case TlsFailureKind::Certificate:
      LogLine(job, "Certificate problem - %s\r\n", failure.reason.c_str());
      return HopEnd::Certificate;
    case TlsFailureKind::None:  // a wait for the server that ran out, or failed
      if (context.lastError == NET_ETIMEDOUT)
        LogLine(job, "Valid HTTP response not received (timed out)\r\n");
      else
        LogLine(job, "Secure connection failed (%ld)\r\n", static_cast<long>(context.lastError));
      break;
    case TlsFailureKind::NotTls:
      LogLine(job,
              "Secure connection failed - the server does not speak TLS on this port "
              "(plain HTTP?)\r\n");
      break;
    case TlsFailureKind::Closed:
      if (failure.error && failure.error != NET_ECONNABORTED)
        LogLine(job,
                "Secure connection failed - the server closed the connection during the "
                "handshake (%ld)\r\n",
                static_cast<long>(failure.error));
      else
        LogLine(job,
                "Secure connection failed - the server closed the connection during the "
                "handshake\r\n");
      break;
    case TlsFailureKind::NoAgreement:
      LogLine(job,
              "Secure connection failed - no protocol version or cipher that both sides "
              "accept (%s)\r\n",
              failure.reason.c_str());
      break;
    default:
      LogLine(job, "Secure connection failed - %s\r\n", failure.reason.c_str());
      break;
  }
  return HopEnd::NoAnswer;
}

// Reads the reply up to the end of its headers (or only its status line when nothing else
// matters), within the header limits.
void ReadReply(SocketContext& context, const CheckJob* job, HopReply& reply) {
  char* buffer = context.buffer;
  std::string pending;
  int32_t lines = 0, headerBytes = 0;
  bool receiveFailed = false;
  bool done = false;
  while (!done) {
    int32_t n = context.Receive(buffer, kReplyLimit, 0);
    if (n <= 0) {
      receiveFailed = n < 0;
      break;
    }
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (;;) {
      size_t lineFeed = pending.find('\n', start);
      if (lineFeed == std::string::npos) break;
      size_t lineEnd = lineFeed > start && pending[lineFeed - 1] == '\r' ? lineFeed - 1 : lineFeed;
      std::string line = pending.substr(start, lineEnd - start);
      // The line ends at its first zero byte, as a C string does.
      line.resize(std::strlen(line.c_str()));
      headerBytes += static_cast<int32_t>(lineFeed + 1 - start);
      start = lineFeed + 1;
      ++lines;
      if (line.empty()) {  // the empty line that ends the headers
        done = true;
        break;
      }
      if (reply.status == 0 && StartsWithNoCase(line.c_str(), "HTTP")) {
        LogLine(job, "%s\r\n", line.c_str());
        reply.status = StatusNumber(line.c_str());
        if (!WantsHeaders(reply.status)) {
          done = true;
          break;
        }
      } else if (StartsWithNoCase(line.c_str(), "Location: ")) {
        if (reply.status == 0) {  // a reply must begin with its status
          done = true;
          break;
        }
        if (line.size() - 10 > static_cast<size_t>(PROBE_MAX_LOCATION)) {
          reply.locationRefused = true;
        } else {
          reply.location = line.substr(10);
          reply.hasLocation = true;
        }
      } else if (reply.status != 0 && StartsWithNoCase(line.c_str(), "Retry-After:")) {
        reply.retryAfter = RetryAfterSeconds(line.substr(12));
      } else if (reply.status != 0 && StartsWithNoCase(line.c_str(), "cf-mitigated:")) {
        std::string value = Trimmed(line.substr(13));
        reply.challenge = value.size() == 9 && StartsWithNoCase(value.c_str(), "challenge");
      }
      if (lines >= PROBE_MAX_HEADER_LINES || headerBytes >= PROBE_MAX_HEADER_BYTES) {
        done = true;
        break;
      }
    }
    pending.erase(0, start);
    if (done) break;
    // A line longer than the buffer: only a Location value may go on, up to its limit.
    if (pending.size() >= static_cast<size_t>(kReplyLimit)) {
      bool location = reply.status != 0 && StartsWithNoCase(pending.c_str(), "Location: ");
      if (!location) break;
      if (pending.size() > 10 + static_cast<size_t>(PROBE_MAX_LOCATION) + 1 ||
          headerBytes + static_cast<int64_t>(pending.size()) >= PROBE_MAX_HEADER_BYTES) {
        reply.locationRefused = true;
        break;
      }
    }
  }
  if (reply.status > 0) {
    reply.end = HopEnd::Answer;
    return;
  }
  reply.status = 0;
  if (receiveFailed && context.lastError == NET_ETIMEDOUT)
    LogLine(job, "Valid HTTP response not received (timed out)\r\n");
  else if (receiveFailed)
    LogLine(job, "Valid HTTP response not received (%ld)\r\n", static_cast<long>(context.lastError));
  else
    LogLine(job, "Valid HTTP response not received!\r\n");
}

// One request for one address with one method, directly or through the proxy, under the
// time-out and retry rules.
HopReply Exchange(SocketContext& context, const CheckJob* job, const std::string& address,
                  const char* method) {
  HopReply reply;
  HopTarget t;
  if (!SplitHopTarget(address, t)) return reply;
  const bool useProxy = (settings->flags & FLAG_USE_PROXY) != 0;
  const int32_t defaultPort = t.secure ? 443 : 80;

  const char* contactHost = t.host.c_str();
  int32_t contactPort = t.port;
  if (useProxy) {
    LogLine(job, "Checking host %s...\r\n", t.host.c_str());
    SetThreadStatus(job, "Checking host name");
    if (!context.Resolve(t.host.c_str()) && context.lastError == NET_HOST_NOT_FOUND) {
      LogLine(job, "Host not found - %s\r\n", t.host.c_str());
      reply.end = HopEnd::HostNotFound;
      return reply;
    }
    contactHost = settings->proxyHost;
    contactPort = static_cast<int32_t>(settings->proxyPort);
  }
  // A plain request through the proxy names the whole address; through a tunnel the
  // request is the one the server itself would get.
  const bool plainProxy = useProxy && !t.secure;
  std::string target = plainProxy || (!t.rest.empty() && t.rest[0] == '/') ? std::string()
                                                                          : std::string("/");
  target += plainProxy ? address : t.rest;

  // The time-out bounds connecting, each wait for the server and (as twice the time-out
  // plus a little) the whole exchange.
  uint32_t seconds = settings->timeout;
  if (seconds > INT32_MAX / 1000) seconds = INT32_MAX / 1000;
  context.SetTimeout(static_cast<int32_t>(seconds * 1000));

  LogLine(job, "Connecting to %s:%ld...\r\n", contactHost, static_cast<long>(contactPort));
  SetThreadStatus(job, "Contacting host");
  bool connected = false;
  const int64_t attempts = static_cast<int64_t>(settings->retries) + 1;
  for (int64_t attempt = 0; attempt < attempts; ++attempt) {
    if (context.Connect(contactHost, contactPort)) {
      connected = true;
      break;
    }
    int32_t error = context.lastError;
    if ((error == NET_TRY_AGAIN || error == NET_ENOBUFS) && attempt != attempts - 1) {
      LogLine(job, "Unable to contact host, trying again...\r\n");
      continue;
    }
    if (error == NET_HOST_NOT_FOUND) {
      LogLine(job, "Host not found - %s\r\n", contactHost);
      // A proxy that can not be found says nothing about the link: only the link's own
      // host marks it as invalid.
      if (!useProxy) {
        reply.end = HopEnd::HostNotFound;
        return reply;
      }
    } else {
      LogLine(job, "Unable to contact host (%ld)\r\n", static_cast<long>(error));
    }
    if (error == NET_ENETDOWN || error == NET_NO_RECOVERY) return reply;
    break;
  }
  if (!connected) {
    if (useProxy) LogLine(job, "Unable to contact proxy server!\r\n");
    return reply;
  }
  reply.contacted = true;

  if (t.secure) {
    if (useProxy && !OpenTunnel(context, job, t.host.c_str(), t.port)) {
      context.CloseSocket();
      return reply;
    }
    if (!context.StartSecure(t.host.c_str(), t.port)) {
      reply.end = ReportSecureFailure(context, job);
      return reply;
    }
  }

  LogLine(job, "Retrieving information for %s...\r\n", target.c_str());
  SetThreadStatus(job, "Waiting for reply");
  // The request. It is never cut: a cut target would check another address.
  std::string request = std::string(method) + " " + target +
                        " HTTP/1.0\r\nUser-Agent: Quillfen/1.1\r\n";
  if (!plainProxy) {
    // Appended piece by piece: GCC 12 at -O3 takes a literal put in front of a string for an
    // overlapping copy.
    request += "Host: ";
    request += t.host;
    uint16_t shortPort = static_cast<uint16_t>(static_cast<uint32_t>(t.port) & 0xFFFF);
    if (shortPort != defaultPort) {
      request += ':';
      request += std::to_string(shortPort);
    }
    request += "\r\n";
  }
  request += "\r\n";
  if (context.Send(request.data(), static_cast<int32_t>(request.size()), 0) == -1) {
    LogLine(job, "Error sending data (%ld)\r\n", static_cast<long>(context.lastError));
    context.CloseSocket();
    return reply;
  }
  // A GET reply's body is never read: the connection closes after the headers.
  ReadReply(context, job, reply);
  context.CloseSocket();
  return reply;
}

// Waits out a server's Retry-After; false when the run was aborted meanwhile.
bool WaitAsAsked(int64_t seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (abortRequested.load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !abortRequested.load();
}

// One address asked under every rule that may change its answer: a Retry-After of up to a
// minute is waited out once for the whole link (waited tells whether that wait was made),
// and an answer that would condemn the link (or a server that does not take HEAD) is asked
// once more with GET, whose answer then decides.
HopReply Ask(SocketContext& context, const CheckJob* job, const std::string& address,
             bool& waited) {
  const bool forbiddenCounts = (settings->flags & FLAG_FORBIDDEN_AS_NOT_FOUND) != 0;
  const char* method = "HEAD";
  bool askedWithGet = false;
  for (;;) {
    HopReply reply = Exchange(context, job, address, method);
    if (reply.end != HopEnd::Answer) return reply;
    const int32_t s = reply.status;
    if ((s == 429 || s == 503) && reply.retryAfter >= 0) {
      if (reply.retryAfter > kLongestRetryWait) {
        LogLine(job, "The server asks to wait %lld seconds: not waiting that long\r\n",
                static_cast<long long>(reply.retryAfter));
        reply.blocked = true;
        return reply;
      }
      if (!waited) {
        waited = true;
        LogLine(job, "The server is busy: waiting %lld second%s as it asks...\r\n",
                static_cast<long long>(reply.retryAfter), reply.retryAfter == 1 ? "" : "s");
        SetThreadStatus(job, "Waiting as the server asks");
        if (!WaitAsAsked(reply.retryAfter)) {
          reply.end = HopEnd::NoAnswer;
          return reply;
        }
        continue;
      }
    }
    bool condemns = s == CHECK_NOT_FOUND || s == CHECK_GONE ||
                    (s == CHECK_FORBIDDEN && forbiddenCounts && !reply.challenge);
    if (!askedWithGet && (condemns || s == 405 || s == 501)) {
      askedWithGet = true;
      method = "GET";
      if (s == 405 || s == 501)
        LogLine(job, "HEAD refused, asking with GET...\r\n");
      else
        LogLine(job, "Asking once more with GET before calling it broken...\r\n");
      continue;
    }
    reply.blocked = s == 401 || s == 429 || s == 999 ||
                    (s == CHECK_FORBIDDEN && (!forbiddenCounts || reply.challenge)) ||
                    (s == 503 && reply.challenge);
    return reply;
  }
}

// The address a redirect leads to, or empty (with a log line) when it can not be followed.
std::string NextAddress(const CheckJob* job, const std::string& current, const HopReply& reply) {
  if (reply.locationRefused) {
    LogLine(job, "Redirect not followed: the new address is longer than %ld characters\r\n",
            static_cast<long>(PROBE_MAX_LOCATION));
    return std::string();
  }
  std::string value = Trimmed(reply.location);
  if (!reply.hasLocation || value.empty()) {
    LogLine(job, "Redirect not followed: the server gave no new address\r\n");
    return std::string();
  }
  std::string resolved = EncodeUnsafeUrlBytes(ResolveReference(current, value));
  // Only a web address is followed, and only such an address may replace a link.
  if (!IsWebAddress(resolved)) {
    LogLine(job, "Redirect not followed: not a web address - %s\r\n",
            EncodeUnsafeUrlBytes(value).c_str());
    return std::string();
  }
  return resolved;
}

// An address as it is asked for: the fragment never goes to a server.
std::string WithoutFragment(const std::string& address) {
  return address.substr(0, address.find('#'));
}

}  // namespace

ProbeContact ProbeLink(SocketContext& context, CheckJob* job) {
  if (!job || !job->entry || !context.buffer) return ProbeContact::NotTried;
  LinkEntry* entry = job->entry;

  // The fragment (after the last '#') never goes to a server.
  std::string address(entry->url.c_str(), static_cast<size_t>(entry->url.length));
  size_t hash = address.rfind('#');
  if (hash != std::string::npos) address.erase(hash);
  HopTarget first;
  if (!SplitHopTarget(address, first)) return ProbeContact::NotTried;
  entry->probed = true;

  // Each hop of a redirect chain is a request of its own under the same rules; the verdict
  // comes from the whole chain.
  bool contacted = false;
  int32_t firstStatus = 0;
  bool firstPermanent = false;
  bool permanentSoFar = true;  // every hop up to here was a permanent redirect
  std::string newAddress;
  std::vector<std::string> visited{address};
  std::string current = address;
  int32_t verdict = CHECK_NONE;
  bool waited = false;  // a link waits for a busy server once at most
  for (int32_t hop = 0;; ++hop) {
    HopReply reply = Ask(context, job, current, waited);
    contacted = contacted || reply.contacted;
    if (reply.end == HopEnd::HostNotFound) {
      verdict = CHECK_INVALID_HOST;
      break;
    }
    if (reply.end == HopEnd::Certificate) {
      // Wherever in the chain: the link leads to a page whose server did not verify.
      verdict = CHECK_CERTIFICATE;
      break;
    }
    if (reply.end != HopEnd::Answer) {
      if (hop == 0) return contacted ? ProbeContact::Answered : ProbeContact::NoServer;
      // A later hop that does not answer says nothing against the first answer.
      LogLine(job, "The redirect's target did not answer\r\n");
      verdict = firstPermanent ? CHECK_MOVED : firstStatus;
      break;
    }
    const int32_t s = reply.status;
    if (hop == 0) {
      firstStatus = s;
      firstPermanent = IsPermanentRedirect(s);
    }
    if (IsRedirect(s) && !reply.blocked) {
      if (!IsPermanentRedirect(s)) permanentSoFar = false;
      std::string next = NextAddress(job, current, reply);
      bool follow = !next.empty();
      if (follow && hop == kMaxRedirects) {
        LogLine(job, "Redirect not followed: more than %ld redirects\r\n",
                static_cast<long>(kMaxRedirects));
        follow = false;
      }
      if (follow) {
        std::string asked = WithoutFragment(next);
        for (const std::string& seen : visited)
          if (seen == asked) {
            LogLine(job, "Redirect not followed: it leads in a circle back to %s\r\n",
                    next.c_str());
            follow = false;
            break;
          }
      }
      if (!follow) {
        verdict = firstPermanent ? CHECK_REDIRECT_UNFOLLOWED : firstStatus;
        break;
      }
      // The new address keeps the Location's fragment; the request goes without it.
      if (permanentSoFar) newAddress = next;
      next = WithoutFragment(next);
      visited.push_back(next);
      LogLine(job, "Following the redirect to %s...\r\n", next.c_str());
      current = next;
      continue;
    }
    // The end of the chain.
    if (s == CHECK_NOT_FOUND || s == CHECK_GONE) {
      verdict = s;  // a moved page whose target is gone is not worth updating
    } else if (hop > 0) {
      verdict = firstPermanent ? CHECK_MOVED : firstStatus;
    } else if (reply.blocked) {
      verdict = CHECK_BLOCKED_BASE + s;
    } else if (s == CHECK_FORBIDDEN) {
      verdict = CHECK_FORBIDDEN;  // the option is set: otherwise it was blocked
    } else {
      verdict = s;
    }
    break;
  }

  if (verdict == CHECK_MOVED) entry->newUrl.assign(newAddress.c_str());
  if (IsBlockedResult(verdict))
    LogLine(job, "The server refused an automated check (%ld): the link is left as it is\r\n",
            static_cast<long>(verdict - CHECK_BLOCKED_BASE));
  entry->lastVisit = static_cast<TimeValue>(std::time(nullptr));
  entry->checkResult.store(verdict, std::memory_order_release);
  const char* prefix = verdict == CHECK_MOVED          ? "Moved: "
                       : verdict == CHECK_FORBIDDEN    ? "Forbidden: "
                       : verdict == CHECK_NOT_FOUND    ? "Not found: "
                       : verdict == CHECK_GONE         ? "Gone: "
                       : verdict == CHECK_INVALID_HOST ? "Invalid host: "
                       : verdict == CHECK_CERTIFICATE  ? "Certificate: "
                                                       : nullptr;
  if (prefix) {
    // One append per line, never cut, so problem lines of different workers never mix.
    std::string line = std::string(prefix) + entry->url.c_str() + "\r\n";
    AppendLog(job->window, IDC_PROBLEMS, line.c_str());
  }
  return contacted ? ProbeContact::Answered : ProbeContact::NoServer;
}
