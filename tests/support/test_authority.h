// Certificates made at test time. The process's test authority signs them, and the code
// under test trusts it through SSL_CERT_FILE (SSL_CERT_DIR names an empty folder, so that
// nothing else is trusted). Keys live in memory only; the authority's certificate is the
// one file written, into the temporary folder, and removed at exit.
//
//   TestAuthority& authority = TestAuthority::Shared();   // sets SSL_CERT_FILE once
//   HttpTestServer server;
//   server.setTls(authority.issue({"127.0.0.1", "localhost"}));
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

struct TlsIdentity {
  std::shared_ptr<X509> certificate;
  std::shared_ptr<EVP_PKEY> key;
};

enum class CertificateKind {
  Valid,        // signed by the authority, valid from yesterday for a year
  Expired,      // valid for a day that ended yesterday
  NotYetValid,  // valid from tomorrow on
  SelfSigned,   // signs itself: an issuer nobody trusts
};

class TestAuthority {
 public:
  // Made on first use (call it on the test's main thread before any check runs).
  static TestAuthority& Shared();

  // A certificate naming each of names (dotted addresses as addresses, anything else as a
  // host name), with commonName as its subject's name ("" : the first name).
  TlsIdentity issue(const std::vector<std::string>& names,
                    CertificateKind kind = CertificateKind::Valid,
                    const std::string& commonName = "") const;
  const std::string& certificateFile() const { return file_; }

  TestAuthority(const TestAuthority&) = delete;
  TestAuthority& operator=(const TestAuthority&) = delete;
  ~TestAuthority();

 private:
  TestAuthority();
  TlsIdentity self_;
  std::string file_, folder_;
};
