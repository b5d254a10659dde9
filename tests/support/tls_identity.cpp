#include "support/tls_identity.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace pageloom::test {

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct ExtFree {
  void operator()(X509_EXTENSION* ext) const { X509_EXTENSION_free(ext); }
};
struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("throw-away certificate: ") + what);
}

void AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtFree> ext(
      X509V3_EXT_conf_nid(nullptr, &ctx, nid, const_cast<char*>(value)));
  Require(ext != nullptr && X509_add_ext(cert, ext.get(), -1) == 1, "extension");
}

std::unique_ptr<X509, CertFree> SelfSigned(EVP_PKEY* key) {
  std::unique_ptr<X509, CertFree> cert(X509_new());
  Require(cert != nullptr, "no certificate");
  X509* c = cert.get();
  Require(X509_set_version(c, 2) == 1, "version");
  Require(ASN1_INTEGER_set(X509_get_serialNumber(c), 1) == 1, "serial");
  Require(X509_gmtime_adj(X509_getm_notBefore(c), -3600) != nullptr, "not before");
  Require(X509_gmtime_adj(X509_getm_notAfter(c), 7 * 24 * 3600) != nullptr, "not after");
  X509_NAME* name = X509_get_subject_name(c);
  Require(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                                     0) == 1,
          "name");
  Require(X509_set_issuer_name(c, name) == 1, "issuer");
  Require(X509_set_pubkey(c, key) == 1, "public key");
  AddExtension(c, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(c, NID_key_usage, "critical,digitalSignature,keyCertSign");
  AddExtension(c, NID_ext_key_usage, "serverAuth");
  AddExtension(c, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  AddExtension(c, NID_subject_key_identifier, "hash");
  Require(X509_sign(c, key, EVP_sha256()) > 0, "signature");
  return cert;
}

std::unique_ptr<std::FILE, FileClose> OpenForWriting(const std::filesystem::path& path) {
  std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
  Require(file != nullptr, "file");
  return file;
}

}  // namespace

TlsIdentity::TlsIdentity()
    : m_certificate(m_dir.Path() / "certificate.pem"), m_key(m_dir.Path() / "key.pem") {
  std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "no key");
  const auto cert = SelfSigned(key.get());
  {
    auto file = OpenForWriting(m_certificate);
    Require(PEM_write_X509(file.get(), cert.get()) == 1, "writing the certificate");
  }
  auto file = OpenForWriting(m_key);
  Require(PEM_write_PrivateKey(file.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "writing the key");
}

}  // namespace pageloom::test
