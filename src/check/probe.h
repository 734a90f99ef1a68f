// The HTTP probe of one link: a HEAD request, directly or through the proxy, and the reading
// of the reply's status line and the headers the verdict depends on. A redirect is followed
// through up to five hops, each a request of its own under the same rules; an answer that
// would condemn the link (or a server that does not take HEAD) is asked again with GET; a
// Retry-After of up to a minute is waited out once. The verdict comes from the whole chain.
// ProbeLink runs on a worker thread, any number at once, each with its own SocketContext
// and its own entry. ResolveReference and EncodeUnsafeUrlBytes keep no state (any thread).
#pragma once

#include <cstdint>
#include <string>

#include "check/socket_context.h"
#include "tree/link_tree.h"
#include "ui/progress.h"

// Headers are read up to these limits (then reading stops as for a full buffer), so a
// server can not hold a worker with endless header lines.
constexpr int32_t PROBE_MAX_HEADER_BYTES = 64 * 1024;
constexpr int32_t PROBE_MAX_HEADER_LINES = 200;
// A Location value longer than this is refused: the new address stays empty.
constexpr int32_t PROBE_MAX_LOCATION = 8 * 1024;

// Whether a probe reached any server: a run in which no probe did is taken for a computer
// without a network, not for a file of dead links.
enum class ProbeContact {
  NotTried,  // not a web address: nothing was asked
  NoServer,  // every look-up or connection failed
  Answered,  // a connection was made (to a server or to the proxy)
};

// Checks the job's link and records the outcome in its entry, the log and the problems log.
// A wait the server asks for ends at once when abortRequested is set.
ProbeContact ProbeLink(SocketContext& context, CheckJob* job);

// Resolves a reference (absolute or relative) against an absolute base address by the
// rules of RFC 3986; the base's fragment is ignored.
std::string ResolveReference(const std::string& base, const std::string& reference);

// True for an absolute "http://" or "https://" address (scheme in any letter case) with a
// host; only such an address may replace a link in the user's files.
bool IsWebAddress(const std::string& address);

// The host an address names, as written: from `from` (just past "scheme://") up to the first
// '/', '?' or '#', without user information and without a port (a bracketed address keeps
// its colons). Any thread.
std::string AddressHost(const std::string& address, size_t from);

// Percent-encodes control characters, space, '"', '<' and '>', so that the address can be
// written into a bookmark file without breaking its lines or attributes.
std::string EncodeUnsafeUrlBytes(const std::string& address);
