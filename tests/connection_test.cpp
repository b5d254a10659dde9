// Transfers over HTTPS and over kept connections, against the local server: whose
// certificates a session trusts, and how many connections a series of requests opens.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/page_fetch.h"
#include "net/picture.h"
#include "net/session.h"
#include "support/test_server.h"
#include "support/tls_identity.h"

namespace pageloom {
namespace {

using test::ServerOptions;
using test::TempDir;
using test::TestServer;
using test::TlsIdentity;

std::string PageText(const PageBuffer& page) { return std::string(page.data()); }

// The certificate variables as a test wants them (unset when not given), for the life of
// the object; the old values come back after. Made before the transfers that read them.
class CertificateEnvironment {
 public:
  CertificateEnvironment(std::optional<std::string> bundle, std::optional<std::string> file) {
    Set("CURL_CA_BUNDLE", bundle);
    Set("SSL_CERT_FILE", file);
  }
  ~CertificateEnvironment() {
    for (const auto& [name, value] : m_saved) Put(name, value);
  }
  CertificateEnvironment(const CertificateEnvironment&) = delete;
  CertificateEnvironment& operator=(const CertificateEnvironment&) = delete;

 private:
  void Set(const char* name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name);
    m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    Put(name, value);
  }
  static void Put(const char* name, const std::optional<std::string>& value) {
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  std::vector<std::pair<const char*, std::optional<std::string>>> m_saved;
};

class HttpsTest : public ::testing::Test {
 protected:
  HttpsTest() { server.Serve("/page", "secure page"); }

  TransferOutcome Fetch(Session& session) {
    return FetchPageText(session, server.WideUrl("/page"), *page);
  }

  CertificateEnvironment noVariables{std::nullopt, std::nullopt};
  TlsIdentity identity;
  TlsIdentity stranger;  // another site's certificate
  TestServer server{ServerOptions{&identity}};
  std::unique_ptr<PageBuffer> page = std::make_unique<PageBuffer>();
  Cancellation cancel;
};

TEST_F(HttpsTest, CertificateOutsideTheTrustedOnesIsRefused) {
  ASSERT_EQ(server.Url("/").rfind("https://", 0), 0u);
  Session session(cancel);
  const TransferOutcome outcome = Fetch(session);
  EXPECT_EQ(outcome.result, TransferResult::kFailed);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ((*page)[0], 0);
  EXPECT_EQ(server.TotalHits(), 0);

  session.SetCertificateFile(stranger.CertificateFile().string());
  EXPECT_FALSE(Fetch(session).Ok());

  session.SetCertificateFile(identity.CertificateFile().string());
  EXPECT_TRUE(Fetch(session).Ok());
  EXPECT_EQ(PageText(*page), "secure page");

  // Pictures go the same way.
  TempDir dir;
  server.Serve("/p.jpg", "picture over https", "image/jpeg");
  const PictureOutcome picture =
      FetchPictureFile(session, server.WideUrl("/p.jpg"), dir.Wide("p.jpg"));
  EXPECT_EQ(picture.result, PictureResult::kStored);
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "p.jpg"), "picture over https");

  // Another session trusts only its own.
  Cancellation otherCancel;
  Session other(otherCancel);
  EXPECT_FALSE(Fetch(other).Ok());
}

TEST_F(HttpsTest, CertificateFileComesFromTheEnvironmentAsCurlReadsIt) {
  const std::string right = identity.CertificateFile().string();
  const std::string wrong = stranger.CertificateFile().string();
  {
    CertificateEnvironment env(std::nullopt, right);
    Session session(cancel);
    EXPECT_EQ(session.CertificateFile(), right);
    EXPECT_TRUE(Fetch(session).Ok());
  }
  {
    // CURL_CA_BUNDLE comes first.
    CertificateEnvironment env(right, wrong);
    Session session(cancel);
    EXPECT_TRUE(Fetch(session).Ok());
  }
  {
    CertificateEnvironment env(wrong, right);
    Session session(cancel);
    EXPECT_FALSE(Fetch(session).Ok());
    // What the session is told later counts.
    session.SetCertificateFile(right);
    EXPECT_TRUE(Fetch(session).Ok());
  }
  Session plain(cancel);
  EXPECT_EQ(plain.CertificateFile(), "");
  EXPECT_FALSE(Fetch(plain).Ok());
}

}  // namespace
}  // namespace pageloom
