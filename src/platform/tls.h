// TLS client connections over a connected non-blocking socket. Nothing here waits: every
// call either makes progress or says what the socket must become ready for, so that the
// caller bounds each wait by its own time-out and deadline.
//
// All connections of a run share one client set-up: TLS 1.2 or newer, the certificate
// chain verified against the system's trust store as the TLS library finds it (so
// SSL_CERT_FILE and SSL_CERT_DIR are honoured), and a cache of sessions per host and port,
// so that a second connection to the same host resumes the session instead of paying for a
// full handshake. TlsStartRun drops that set-up; the next connection makes a fresh one.
// Every function may be called from any thread; one connection is used by one thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net.h"

struct TlsConnection;

// What a step of a connection came to.
enum class TlsStep {
  Done,       // the handshake is complete, or data was read or written
  WantRead,   // wait until the socket can be read, then call again
  WantWrite,  // wait until the socket can be written, then call again
  Closed,     // the peer closed the connection (reads: the end of the data)
  Failed,     // see TlsFailure
};

// Why a handshake failed, as far as it matters to the one who asked.
enum class TlsFailureKind {
  None,
  Certificate,  // the chain or the name did not verify; the reason says why
  NotTls,       // the server answered something that is not TLS (plain HTTP, say)
  Closed,       // the server closed or reset the connection during the handshake
  NoAgreement,  // no protocol version or cipher acceptable to both sides
  Other,        // anything else; the reason says what the library reported
  NoMemory,
};

struct TlsFailure {
  TlsFailureKind kind = TlsFailureKind::None;
  std::string reason;  // words from the library, for the log (ASCII)
  int32_t error = 0;   // a Winsock number when the socket itself failed
};

// Forgets the shared set-up and its sessions: the next connection reads the trust store
// afresh and resumes nothing from before.
void TlsStartRun();

// Begins a client connection on socket for host (a name or a dotted address) and port.
// The name goes out as Server Name Indication (not for an address), and the certificate
// must name the host (or the address). resume: offer the host's last session, if any.
// Null when the set-up failed (failure says why).
TlsConnection* TlsOpen(NetSocket socket, const char* host, uint16_t port, bool resume,
                       TlsFailure* failure);
// One step of the handshake.
TlsStep TlsHandshake(TlsConnection* connection, TlsFailure* failure);
// Reads up to length bytes into *count (Done), or says what to wait for.
TlsStep TlsRead(TlsConnection* connection, char* data, int32_t length, int32_t* count,
                TlsFailure* failure);
// Writes up to length bytes, *count of them written (Done), or says what to wait for.
TlsStep TlsWrite(TlsConnection* connection, const char* data, int32_t length, int32_t* count,
                 TlsFailure* failure);
// Whether the handshake resumed an earlier session.
bool TlsResumed(const TlsConnection* connection);
// Sends the closing notice if the socket has room for it (never waits) and frees the
// connection; the socket stays open for its owner to close.
void TlsClose(TlsConnection* connection);
