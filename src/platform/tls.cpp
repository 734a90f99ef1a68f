#include "platform/tls.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

// The set-up every connection of a run shares, with the sessions it may resume.
struct TlsClient {
  SSL_CTX* context = nullptr;
  std::mutex lock;
  std::map<std::string, SSL_SESSION*> sessions;  // one reference each, by "host:port"

  ~TlsClient() {
    for (auto& [key, session] : sessions) SSL_SESSION_free(session);
    SSL_CTX_free(context);
  }
};

std::mutex currentLock;
std::shared_ptr<TlsClient> current;

}  // namespace

struct TlsConnection {
  SSL* ssl = nullptr;
  std::shared_ptr<TlsClient> client;
  std::string key;
  bool failed = false;  // after a fatal error no closing notice may be sent
};

namespace {

// Keeps the newest session of each host. With TLS 1.3 sessions arrive after the handshake,
// while the reply is read, which is why they are caught here and not taken at its end.
int KeepSession(SSL* ssl, SSL_SESSION* session) {
  auto* connection = static_cast<TlsConnection*>(SSL_get_app_data(ssl));
  if (!connection || !connection->client) return 0;
  TlsClient& client = *connection->client;
  std::lock_guard<std::mutex> hold(client.lock);
  SSL_SESSION*& kept = client.sessions[connection->key];
  if (kept) SSL_SESSION_free(kept);
  kept = session;
  return 1;  // the reference passed to us is kept
}

std::shared_ptr<TlsClient> MakeClient() {
  auto client = std::make_shared<TlsClient>();
  client->context = SSL_CTX_new(TLS_client_method());
  if (!client->context) return nullptr;
  SSL_CTX* context = client->context;
  if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) return nullptr;
  // The system's trust store, or the one SSL_CERT_FILE / SSL_CERT_DIR name instead. A store
  // that can not be read leaves nothing trusted: every certificate then fails to verify,
  // which is reported per link, never passed over.
  SSL_CTX_set_default_verify_paths(context);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  // Only the head of a reply is read, and many servers close without the closing notice.
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context, KeepSession);
  return client;
}

std::shared_ptr<TlsClient> CurrentClient() {
  std::lock_guard<std::mutex> hold(currentLock);
  if (!current) current = MakeClient();
  return current;
}

std::string LastLibraryReason(unsigned long code) {
  const char* text = code ? ERR_reason_error_string(code) : nullptr;
  return text ? text : "unknown failure";
}

TlsFailureKind KindOfLibraryError(unsigned long code) {
  if (ERR_GET_LIB(code) != ERR_LIB_SSL) return TlsFailureKind::Other;
  switch (ERR_GET_REASON(code)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_UNKNOWN_PROTOCOL:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_BAD_PACKET_LENGTH:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_UNEXPECTED_MESSAGE:
    case SSL_R_LENGTH_TOO_SHORT:
    case SSL_R_WRONG_SSL_VERSION:
      return TlsFailureKind::NotTls;
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_UNSUPPORTED_SSL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_NO_SUITABLE_GROUPS:
    case SSL_R_NO_SUITABLE_KEY_SHARE:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
    case SSL_R_NO_SUITABLE_DIGEST_ALGORITHM:
      return TlsFailureKind::NoAgreement;
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
      return TlsFailureKind::Closed;
    default:
      return TlsFailureKind::Other;
  }
}

// Turns the result of an SSL call into a step; the error queue is left empty.
TlsStep StepOf(TlsConnection* connection, int result, bool handshaking, TlsFailure* failure) {
  int systemError = errno;
  int error = SSL_get_error(connection->ssl, result);
  unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  TlsFailure found;
  switch (error) {
    case SSL_ERROR_WANT_READ:
      return TlsStep::WantRead;
    case SSL_ERROR_WANT_WRITE:
      return TlsStep::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
      if (!handshaking) return TlsStep::Closed;
      found.kind = TlsFailureKind::Closed;
      break;
    case SSL_ERROR_SYSCALL:
      if (code == 0 && systemError == 0) {  // the peer closed without a word
        if (!handshaking) return TlsStep::Closed;
        found.kind = TlsFailureKind::Closed;
      } else if (code == 0) {
        found.kind = TlsFailureKind::Closed;
        found.error = NetErrorFromErrno(systemError);
        found.reason = "the connection failed";
      } else {
        found.kind = KindOfLibraryError(code);
        found.reason = LastLibraryReason(code);
      }
      break;
    default:
      if (handshaking && SSL_get_verify_result(connection->ssl) != X509_V_OK) {
        found.kind = TlsFailureKind::Certificate;
        const char* reason = X509_verify_cert_error_string(SSL_get_verify_result(connection->ssl));
        found.reason = reason ? reason : "the certificate could not be verified";
      } else {
        found.kind = KindOfLibraryError(code);
        found.reason = LastLibraryReason(code);
        if (!handshaking && found.kind == TlsFailureKind::Closed) return TlsStep::Closed;
      }
      break;
  }
  if (!found.error) found.error = NET_ECONNABORTED;
  connection->failed = true;
  if (failure) *failure = std::move(found);
  return TlsStep::Failed;
}

}  // namespace

void TlsStartRun() {
  std::shared_ptr<TlsClient> old;
  std::lock_guard<std::mutex> hold(currentLock);
  old = std::move(current);  // connections still open keep theirs alive
}

TlsConnection* TlsOpen(NetSocket socket, const char* host, uint16_t port, bool resume,
                       TlsFailure* failure) {
  auto fail = [failure](TlsFailureKind kind, const char* reason) -> TlsConnection* {
    if (failure) {
      failure->kind = kind;
      failure->reason = reason;
      failure->error = kind == TlsFailureKind::NoMemory ? NET_ENOBUFS : NET_EINVAL;
    }
    ERR_clear_error();
    return nullptr;
  };
  std::unique_ptr<TlsConnection> connection(new (std::nothrow) TlsConnection);
  if (!connection) return fail(TlsFailureKind::NoMemory, "out of memory");
  connection->client = CurrentClient();
  if (!connection->client) return fail(TlsFailureKind::Other, "the secure set-up failed");
  SSL* ssl = SSL_new(connection->client->context);
  if (!ssl) return fail(TlsFailureKind::NoMemory, "out of memory");
  connection->ssl = ssl;
  SSL_set_app_data(ssl, connection.get());
  if (SSL_set_fd(ssl, static_cast<int>(socket)) != 1)
    return fail(TlsFailureKind::Other, "the socket could not be used");

  std::string name = host ? host : "";
  while (!name.empty() && name.back() == '.') name.pop_back();  // "host." is the same host
  in_addr address{};
  if (inet_aton(name.c_str(), &address) != 0) {
    // An address is checked against the certificate's addresses and is never sent as a
    // server name. Short forms ("127.1") are written out first.
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, dotted, sizeof dotted);
    if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), dotted) != 1)
      return fail(TlsFailureKind::Other, "the address could not be checked");
    name = dotted;
  } else {
    if (name.empty() || SSL_set_tlsext_host_name(ssl, name.c_str()) != 1 ||
        SSL_set1_host(ssl, name.c_str()) != 1)
      return fail(TlsFailureKind::Other, "the host name could not be used");
  }
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  connection->key = name + ":" + std::to_string(port);
  if (resume) {
    TlsClient& client = *connection->client;
    std::lock_guard<std::mutex> hold(client.lock);
    auto found = client.sessions.find(connection->key);
    if (found != client.sessions.end()) SSL_set_session(ssl, found->second);
  }
  SSL_set_connect_state(ssl);
  ERR_clear_error();
  return connection.release();
}

TlsStep TlsHandshake(TlsConnection* connection, TlsFailure* failure) {
  ERR_clear_error();
  errno = 0;
  int result = SSL_do_handshake(connection->ssl);
  if (result == 1) return TlsStep::Done;
  return StepOf(connection, result, true, failure);
}

TlsStep TlsRead(TlsConnection* connection, char* data, int32_t length, int32_t* count,
                TlsFailure* failure) {
  *count = 0;
  if (length <= 0) return TlsStep::Done;
  ERR_clear_error();
  errno = 0;
  size_t read = 0;
  int result = SSL_read_ex(connection->ssl, data, static_cast<size_t>(length), &read);
  if (result == 1) {
    *count = static_cast<int32_t>(read);
    return TlsStep::Done;
  }
  return StepOf(connection, result, false, failure);
}

TlsStep TlsWrite(TlsConnection* connection, const char* data, int32_t length, int32_t* count,
                 TlsFailure* failure) {
  *count = 0;
  if (length <= 0) return TlsStep::Done;
  ERR_clear_error();
  errno = 0;
  size_t written = 0;
  int result = SSL_write_ex(connection->ssl, data, static_cast<size_t>(length), &written);
  if (result == 1) {
    *count = static_cast<int32_t>(written);
    return TlsStep::Done;
  }
  return StepOf(connection, result, false, failure);
}

bool TlsResumed(const TlsConnection* connection) {
  return connection && SSL_session_reused(connection->ssl) == 1;
}

void TlsClose(TlsConnection* connection) {
  if (!connection) return;
  if (connection->ssl) {
    if (!connection->failed && SSL_is_init_finished(connection->ssl)) SSL_shutdown(connection->ssl);
    ERR_clear_error();
    SSL_free(connection->ssl);
  }
  delete connection;
}
