// A throw-away TLS identity for local servers: a fresh key and a self-signed certificate
// for 127.0.0.1 and localhost, made when the object is made and written as PEM files into
// a temporary folder of its own. A client trusts the server by trusting CertificateFile.
#pragma once

#include <filesystem>

#include "support/test_server.h"

namespace pageloom::test {

class TlsIdentity {
 public:
  // Throws std::runtime_error when OpenSSL cannot make the key or the certificate.
  TlsIdentity();
  TlsIdentity(const TlsIdentity&) = delete;
  TlsIdentity& operator=(const TlsIdentity&) = delete;

  const std::filesystem::path& CertificateFile() const { return m_certificate; }
  const std::filesystem::path& KeyFile() const { return m_key; }

 private:
  TempDir m_dir;
  std::filesystem::path m_certificate;
  std::filesystem::path m_key;
};

}  // namespace pageloom::test
