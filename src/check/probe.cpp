#include "check/probe.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

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
  size_t end = address.find_first_of("/?#", afterScheme);
  if (end == std::string::npos) end = address.size();
  std::string host = address.substr(afterScheme, end - afterScheme);
  size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  // The port goes; a bracketed address keeps its colons.
  size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) host.erase(colon);
  return !host.empty();
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

void ProbeLink(SocketContext& context, CheckJob* job) {
  if (!job || !job->entry || !context.buffer) return;
  LinkEntry* entry = job->entry;
  const bool useProxy = (settings->flags & FLAG_USE_PROXY) != 0;

  // Taking the address apart. The fragment (after the last '#') never goes to a server.
  TextString address;
  int32_t hash = entry->url.findLastChar('#');
  if (!address.assign(entry->url.c_str(), hash == TEXT_NONE ? entry->url.length : hash)) return;
  // Secure links differ only in the connection: the same request, the same reading.
  bool secure;
  if (StartsWithNoCase(address.c_str(), "http://"))
    secure = false;
  else if (StartsWithNoCase(address.c_str(), "https://"))
    secure = true;
  else
    return;
  const int32_t defaultPort = secure ? 443 : 80;

  // The authority ends at the first '/' or '?': a query straight after the host
  // ("http://host?x") belongs to the target, not to the host name. User information
  // ("user:password@") is not part of the host either.
  const char* afterScheme = address.c_str() + (secure ? 8 : 7);
  size_t authorityLength = std::strcspn(afterScheme, "/?");
  const char* rest = afterScheme + authorityLength;
  const char* hostStart = afterScheme;
  for (const char* p = afterScheme; p < rest; ++p)
    if (*p == '@') hostStart = p + 1;
  TextString host;
  host.assign(hostStart, static_cast<int32_t>(rest - hostStart));
  int32_t port = defaultPort;
  int32_t colon = host.findChar(':');
  if (colon != TEXT_NONE) {
    port = LeadingNumber(host.c_str() + colon + 1);
    host.assign(host.c_str(), colon);
  }

  int32_t status = 0;
  const char* contactHost = host.c_str();
  int32_t contactPort = port;
  TextString target;
  if (useProxy) {
    LogLine(job, "Checking host %s...\r\n", host.c_str());
    SetThreadStatus(job, "Checking host name");
    if (!context.Resolve(host.c_str()) && context.lastError == NET_HOST_NOT_FOUND) {
      LogLine(job, "Host not found - %s\r\n", host.c_str());
      status = CHECK_INVALID_HOST;
    }
    contactHost = settings->proxyHost;
    contactPort = static_cast<int32_t>(settings->proxyPort);
  }
  // A plain request through the proxy names the whole address; through a tunnel the
  // request is the one the server itself would get.
  if (useProxy && !secure) {
    target.assign(address.c_str());
  } else if (*rest == '/') {
    target.assign(rest);
  } else {
    target.assign("/");
    target.append(rest);
  }

  // The time-out bounds connecting, each wait for the server and (as twice the time-out
  // plus a little) the whole exchange.
  uint32_t seconds = settings->timeout;
  if (seconds > INT32_MAX / 1000) seconds = INT32_MAX / 1000;
  context.SetTimeout(static_cast<int32_t>(seconds * 1000));

  bool connected = false;
  if (status == 0) {
    LogLine(job, "Connecting to %s:%ld...\r\n", contactHost, static_cast<long>(contactPort));
    SetThreadStatus(job, "Contacting host");
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
        if (!useProxy) status = CHECK_INVALID_HOST;
      } else {
        LogLine(job, "Unable to contact host (%ld)\r\n", static_cast<long>(error));
      }
      if (error == NET_ENETDOWN || error == NET_NO_RECOVERY) return;
      break;
    }
    if (!connected && status != CHECK_INVALID_HOST) {
      if (useProxy) LogLine(job, "Unable to contact proxy server!\r\n");
      return;
    }
  }

  if (connected && secure) {
    if (useProxy && !OpenTunnel(context, job, host.c_str(), port)) {
      context.CloseSocket();
      return;
    }
    if (!context.StartSecure(host.c_str(), port)) {
      const TlsFailure& failure = context.secureFailure;
      switch (failure.kind) {
        case TlsFailureKind::Certificate:
          LogLine(job, "Certificate problem - %s\r\n", failure.reason.c_str());
          status = CHECK_CERTIFICATE;
          connected = false;
          break;
        case TlsFailureKind::None:  // a wait for the server that ran out, or failed
          if (context.lastError == NET_ETIMEDOUT)
            LogLine(job, "Valid HTTP response not received (timed out)\r\n");
          else
            LogLine(job, "Secure connection failed (%ld)\r\n",
                    static_cast<long>(context.lastError));
          return;
        case TlsFailureKind::NotTls:
          LogLine(job,
                  "Secure connection failed - the server does not speak TLS on this port "
                  "(plain HTTP?)\r\n");
          return;
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
          return;
        case TlsFailureKind::NoAgreement:
          LogLine(job,
                  "Secure connection failed - no protocol version or cipher that both sides "
                  "accept (%s)\r\n",
                  failure.reason.c_str());
          return;
        default:
          LogLine(job, "Secure connection failed - %s\r\n", failure.reason.c_str());
          return;
      }
    }
  }

  char location[PROBE_MAX_LOCATION + 1];
  int32_t locationLength = 0;
  bool locationRefused = false;
  bool receiveFailed = false;
  char* buffer = context.buffer;

  if (connected) {
    LogLine(job, "Retrieving information for %s...\r\n", target.c_str());
    SetThreadStatus(job, "Waiting for reply");

    // The request. It is never cut: a cut target would check another address.
    const bool plainProxy = useProxy && !secure;  // a tunnel carries the server's own request
    TextString hostLine;
    if (!plainProxy) {
      hostLine.assign(host.c_str());
      uint16_t shortPort = static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFF);
      if (shortPort != defaultPort) {
        char portText[16];
        std::snprintf(portText, sizeof portText, ":%u", static_cast<unsigned>(shortPort));
        hostLine.append(portText);
      }
    }
    static const char kMethod[] = "HEAD ";
    static const char kVersion[] = " HTTP/1.0\r\nUser-Agent: Quillfen/1.1\r\n";
    size_t size = sizeof kMethod - 1 + static_cast<size_t>(target.length) + sizeof kVersion - 1 +
                  (plainProxy ? 0 : 8 + static_cast<size_t>(hostLine.length)) + 2;
    char* request = size < static_cast<size_t>(SOCKET_BUFFER_SIZE)
                        ? buffer
                        : static_cast<char*>(std::malloc(size + 1));
    int32_t sent = -1;
    if (request) {
      size_t n = 0;
      auto put = [&](const char* text, size_t length) {
        std::memcpy(request + n, text, length);
        n += length;
      };
      put(kMethod, sizeof kMethod - 1);
      put(target.c_str(), static_cast<size_t>(target.length));
      put(kVersion, sizeof kVersion - 1);
      if (!plainProxy) {
        put("Host: ", 6);
        put(hostLine.c_str(), static_cast<size_t>(hostLine.length));
        put("\r\n", 2);
      }
      put("\r\n", 2);
      sent = context.Send(request, static_cast<int32_t>(n), 0);
      if (request != buffer) std::free(request);
    } else {
      context.lastError = NET_ENOBUFS;
    }
    if (sent == -1) {
      LogLine(job, "Error sending data (%ld)\r\n", static_cast<long>(context.lastError));
      context.CloseSocket();
      return;
    }

    // The reply, up to the status line and, for 301, the Location header.
    int32_t filled = 0;
    int32_t lines = 0;
    int32_t headerBytes = 0;
    bool inLocation = false;  // a Location value longer than the buffer is being collected
    bool done = false;
    while (!done) {
      int32_t n = context.Receive(buffer + filled, kReplyLimit - filled, 0);
      if (n <= 0) {
        receiveFailed = n < 0;
        break;
      }
      filled += n;
      buffer[filled] = 0;
      for (;;) {
        char* lineFeed = static_cast<char*>(std::memchr(buffer, '\n', static_cast<size_t>(filled)));
        if (!lineFeed) break;
        int32_t i = static_cast<int32_t>(lineFeed - buffer);
        *lineFeed = 0;
        int32_t lineLength = i;
        if (i > 0 && buffer[i - 1] == '\r') buffer[--lineLength] = 0;
        ++lines;
        headerBytes += i + 1;
        if (inLocation) {
          int32_t piece = static_cast<int32_t>(std::strlen(buffer));
          if (locationLength + piece > PROBE_MAX_LOCATION) {
            locationRefused = true;
          } else {
            std::memcpy(location + locationLength, buffer, static_cast<size_t>(piece));
            locationLength += piece;
          }
          done = true;
          break;
        }
        if (lineLength == 0) {  // the empty line that ends the headers
          done = true;
          break;
        }
        if (status == 0 && StartsWithNoCase(buffer, "HTTP")) {
          LogLine(job, "%s\r\n", buffer);
          status = StatusNumber(buffer);
          if (status != CHECK_MOVED) {
            done = true;
            break;
          }
        } else if (StartsWithNoCase(buffer, "Location: ")) {
          int32_t piece = static_cast<int32_t>(std::strlen(buffer + 10));
          if (piece > PROBE_MAX_LOCATION) {
            locationRefused = true;
          } else {
            std::memcpy(location, buffer + 10, static_cast<size_t>(piece));
            locationLength = piece;
          }
          done = true;
          break;
        }
        std::memmove(buffer, lineFeed + 1, static_cast<size_t>(filled - i - 1) + 1);
        filled -= i + 1;
        if (lines >= PROBE_MAX_HEADER_LINES || headerBytes >= PROBE_MAX_HEADER_BYTES) {
          done = true;
          break;
        }
      }
      if (done || filled < kReplyLimit) continue;
      // A full buffer without a line end: only a long Location value goes on.
      if (inLocation || (status == CHECK_MOVED && StartsWithNoCase(buffer, "Location: "))) {
        const char* value = inLocation ? buffer : buffer + 10;
        int32_t piece = static_cast<int32_t>(std::strlen(value));
        headerBytes += filled;
        if (locationLength + piece > PROBE_MAX_LOCATION || headerBytes >= PROBE_MAX_HEADER_BYTES) {
          locationRefused = true;
          break;
        }
        std::memcpy(location + locationLength, value, static_cast<size_t>(piece));
        locationLength += piece;
        inLocation = true;
        filled = 0;
        continue;
      }
      break;
    }
    if (inLocation && !done) locationRefused = true;  // the value never ended
  }
  location[locationLength] = 0;

  // Recording.
  if (status <= 0) {
    if (receiveFailed && context.lastError == NET_ETIMEDOUT)
      LogLine(job, "Valid HTTP response not received (timed out)\r\n");
    else if (receiveFailed)
      LogLine(job, "Valid HTTP response not received (%ld)\r\n",
              static_cast<long>(context.lastError));
    else
      LogLine(job, "Valid HTTP response not received!\r\n");
  } else {
    if (status == CHECK_FORBIDDEN && !(settings->flags & FLAG_FORBIDDEN_AS_NOT_FOUND))
      status = CHECK_NONE;
    if (status == CHECK_MOVED) {
      // Only a safe, absolute address may replace the link in the user's files.
      std::string value(location, static_cast<size_t>(locationLength));
      size_t first = value.find_first_not_of(" \t\r");
      size_t last = value.find_last_not_of(" \t\r");
      value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
      std::string resolved;
      if (locationRefused) {
        LogLine(job, "New address refused (longer than %ld characters)\r\n",
                static_cast<long>(PROBE_MAX_LOCATION));
      } else if (!value.empty()) {
        resolved = EncodeUnsafeUrlBytes(ResolveReference(address.c_str(), value));
        if (!IsWebAddress(resolved)) {
          LogLine(job, "New address refused (not a web address) - %s\r\n",
                  EncodeUnsafeUrlBytes(value).c_str());
          resolved.clear();
        }
      }
      entry->newUrl.assign(resolved.c_str());
    }
    entry->lastVisit = static_cast<TimeValue>(std::time(nullptr));
    entry->checkResult.store(status, std::memory_order_release);
    const char* prefix = status == CHECK_MOVED          ? "Moved: "
                         : status == CHECK_FORBIDDEN    ? "Forbidden: "
                         : status == CHECK_NOT_FOUND    ? "Not found: "
                         : status == CHECK_INVALID_HOST ? "Invalid host: "
                         : status == CHECK_CERTIFICATE  ? "Certificate: "
                                                        : nullptr;
    if (prefix) {
      // One append per line, never cut, so problem lines of different workers never mix.
      std::string line = std::string(prefix) + entry->url.c_str() + "\r\n";
      AppendLog(job->window, IDC_PROBLEMS, line.c_str());
    }
  }
  context.CloseSocket();
}
