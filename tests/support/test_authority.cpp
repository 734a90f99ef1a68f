#include "support/test_authority.h"

#include <arpa/inet.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::shared_ptr<EVP_PKEY> NewKey() {
  // P-256: quick to make and to use, so that benchmarks measure the program, not the key.
  return std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (!extension) std::abort();
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

std::shared_ptr<X509> Make(const std::string& commonName, EVP_PKEY* key, X509* issuer,
                           EVP_PKEY* issuerKey, long fromSeconds, long toSeconds, bool authority,
                           const std::vector<std::string>& names) {
  static long serial = 1;
  std::shared_ptr<X509> certificate(X509_new(), X509_free);
  X509* c = certificate.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial++);
  X509_gmtime_adj(X509_getm_notBefore(c), fromSeconds);
  X509_gmtime_adj(X509_getm_notAfter(c), toSeconds);
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("Quillfen tests"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509* signer = issuer ? issuer : c;
  X509_set_issuer_name(c, X509_get_subject_name(signer));
  AddExtension(c, signer, NID_basic_constraints, authority ? "critical,CA:TRUE" : "CA:FALSE");
  AddExtension(c, signer, NID_subject_key_identifier, "hash");
  if (authority) {
    AddExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(c, signer, NID_authority_key_identifier, "keyid");
    AddExtension(c, signer, NID_ext_key_usage, "serverAuth");
    std::string alternatives;
    for (const std::string& n : names) {
      in_addr address{};
      if (!alternatives.empty()) alternatives += ",";
      alternatives += (inet_pton(AF_INET, n.c_str(), &address) == 1 ? "IP:" : "DNS:") + n;
    }
    if (!alternatives.empty()) AddExtension(c, signer, NID_subject_alt_name, alternatives);
  }
  if (X509_sign(c, issuerKey ? issuerKey : key, EVP_sha256()) == 0) std::abort();
  return certificate;
}

}  // namespace

TestAuthority& TestAuthority::Shared() {
  static TestAuthority authority;
  return authority;
}

TestAuthority::TestAuthority() {
  self_.key = NewKey();
  self_.certificate = Make("Quillfen test authority", self_.key.get(), nullptr, nullptr, -86400,
                           10L * 365 * 86400, true, {});
  namespace fs = std::filesystem;
  fs::path folder =
      fs::temp_directory_path() / ("quillfen-test-authority-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  folder_ = folder.string();
  file_ = (folder / "authority.pem").string();
  FILE* out = std::fopen(file_.c_str(), "w");
  if (!out || PEM_write_X509(out, self_.certificate.get()) != 1) std::abort();
  std::fclose(out);
  ::setenv("SSL_CERT_FILE", file_.c_str(), 1);
  ::setenv("SSL_CERT_DIR", (folder / "none").string().c_str(), 1);
}

TestAuthority::~TestAuthority() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

TlsIdentity TestAuthority::issue(const std::vector<std::string>& names, CertificateKind kind,
                                 const std::string& commonName) const {
  TlsIdentity identity;
  identity.key = NewKey();
  long from = -86400, to = 365L * 86400;
  if (kind == CertificateKind::Expired) from = -3 * 86400, to = -86400;
  if (kind == CertificateKind::NotYetValid) from = 86400, to = 2 * 86400;
  std::string name = commonName.empty() && !names.empty() ? names.front() : commonName;
  bool own = kind == CertificateKind::SelfSigned;
  identity.certificate = Make(name, identity.key.get(), own ? nullptr : self_.certificate.get(),
                              own ? nullptr : self_.key.get(), from, to, false, names);
  return identity;
}
