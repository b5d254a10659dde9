// Transfers over HTTPS and over kept connections, against the local server: whose
// certificates a session trusts, how many connections a series of requests opens, and
// that a transfer on a kept connection is as separate from the one before as on a new one.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <stdlib.h>

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

// Environment variables as a test wants them (unset when without a value), for the life
// of the object; the old values come back after. Made before the transfers that read them.
class ScopedVariables {
 public:
  using Value = std::optional<std::string>;
  ScopedVariables(std::initializer_list<std::pair<const char*, Value>> variables) {
    for (const auto& [name, value] : variables) {
      const char* old = std::getenv(name);
      m_saved.emplace_back(name, old ? Value(old) : std::nullopt);
      Put(name, value);
    }
  }
  ~ScopedVariables() {
    for (const auto& [name, value] : m_saved) Put(name, value);
  }
  ScopedVariables(const ScopedVariables&) = delete;
  ScopedVariables& operator=(const ScopedVariables&) = delete;

 private:
  static void Put(const char* name, const Value& value) {
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  std::vector<std::pair<const char*, Value>> m_saved;
};

ScopedVariables::Value None() { return std::nullopt; }

class HttpsTest : public ::testing::Test {
 protected:
  HttpsTest() { server.Serve("/page", "secure page"); }

  TransferOutcome Fetch(Session& session) {
    return FetchPageText(session, server.WideUrl("/page"), *page);
  }

  ScopedVariables noVariables{{"CURL_CA_BUNDLE", None()}, {"SSL_CERT_FILE", None()}};
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
  EXPECT_EQ(outcome.result, TransferResult::kRefused);
  EXPECT_FALSE(outcome.MayPass()) << "trying again would not help";
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
  server.Serve("/p.jpg", test::Jpeg("picture over https"), "image/jpeg");
  const PictureOutcome picture =
      FetchPictureFile(session, server.WideUrl("/p.jpg"), dir.Wide("p.jpg"));
  EXPECT_EQ(picture.result, PictureResult::kStored);
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "p.jpg"), test::Jpeg("picture over https"));

  // Another session trusts only its own.
  Cancellation otherCancel;
  Session other(otherCancel);
  EXPECT_FALSE(Fetch(other).Ok());
}

TEST_F(HttpsTest, CertificateFileComesFromTheEnvironmentAsCurlReadsIt) {
  const std::string right = identity.CertificateFile().string();
  const std::string wrong = stranger.CertificateFile().string();
  {
    ScopedVariables env{{"CURL_CA_BUNDLE", None()}, {"SSL_CERT_FILE", right}};
    Session session(cancel);
    EXPECT_EQ(session.CertificateFile(), right);
    EXPECT_TRUE(Fetch(session).Ok());
  }
  {
    // CURL_CA_BUNDLE comes first.
    ScopedVariables env{{"CURL_CA_BUNDLE", right}, {"SSL_CERT_FILE", wrong}};
    Session session(cancel);
    EXPECT_TRUE(Fetch(session).Ok());
  }
  {
    ScopedVariables env{{"CURL_CA_BUNDLE", wrong}, {"SSL_CERT_FILE", right}};
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

// A site whose connections stay open, over HTTP and over HTTPS.
class KeptConnectionTest : public ::testing::TestWithParam<bool> {
 protected:
  KeptConnectionTest() {
    session.SetCertificateFile(identity.CertificateFile().string());
    server.Handle("/page", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("page " + req.get_param_value("n"), "text/html");
    });
  }
  bool Page(int n) {
    return FetchPage(session, server.WideUrl("/page?n=" + std::to_string(n)), *page) == 1 &&
           PageText(*page) == "page " + std::to_string(n);
  }
  PictureResult Picture(const std::string& path, const std::string& name) {
    return FetchPictureFile(session, server.WideUrl(path), dir.Wide(name)).result;
  }

  TlsIdentity identity;
  TestServer server{ServerOptions{GetParam() ? &identity : nullptr, true}};
  Cancellation cancel;
  Session session{cancel};
  std::unique_ptr<PageBuffer> page = std::make_unique<PageBuffer>();
  TempDir dir;
};

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, KeptConnectionTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Https" : "Http";
                         });

TEST_P(KeptConnectionTest, PagesAndPicturesOfOneThreadGoOverOneConnection) {
  for (int n = 1; n <= 5; ++n) {
    const std::string path = "/pic/" + std::to_string(n) + ".jpg";
    server.Serve(path, test::DistinctBytes("\xFF\xD8\xFFPIC", path), "image/jpeg");
    ASSERT_TRUE(Page(n));
    ASSERT_EQ(Picture(path, std::to_string(n) + ".jpg"), PictureResult::kStored);
    EXPECT_EQ(test::ReadFileBytes(dir.Path() / (std::to_string(n) + ".jpg")),
              test::DistinctBytes("\xFF\xD8\xFFPIC", path));
  }
  EXPECT_EQ(server.TotalHits(), 10);
  EXPECT_EQ(server.Connections(), 1);
}

TEST_P(KeptConnectionTest, NothingOfOneTransferStaysSetForTheNext) {
  server.Serve("/p.jpg", test::Jpeg("picture"));
  server.Serve("/long", std::string(kPageBufferSize + 5000, 'l'));
  ASSERT_EQ(Picture("/p.jpg", "p.jpg"), PictureResult::kStored);
  ASSERT_TRUE(Page(1));
  // The page goes with the agent name, without the picture's cache headers.
  EXPECT_EQ(server.LastHeader("User-Agent"), "pageLoom");
  bool has = true;
  server.LastHeader("Cache-Control", &has);
  EXPECT_FALSE(has);
  // A page cut at the buffer's end, then a picture: the same agent, the cache headers,
  // and a file of its own bytes only.
  ASSERT_EQ(FetchPage(session, server.WideUrl("/long"), *page), 1);
  ASSERT_EQ(Picture("/p.jpg", "again.jpg"), PictureResult::kStored);
  EXPECT_EQ(server.LastHeader("User-Agent"), "pageLoom");
  EXPECT_EQ(server.LastHeader("Cache-Control"), "no-cache");
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "again.jpg"), test::Jpeg("picture"));
  ASSERT_TRUE(Page(2));
}

TEST_P(KeptConnectionTest, ErrorAnswerToAPictureLeavesTheConnectionUsable) {
  server.Serve("/missing.jpg", "<html>no such picture</html>", "text/html", 404);
  server.Serve("/p.jpg", test::Jpeg("picture"));
  const PictureOutcome missing =
      FetchPictureFile(session, server.WideUrl("/missing.jpg"), dir.Wide("missing.jpg"));
  EXPECT_EQ(missing.result, PictureResult::kFailed);
  EXPECT_EQ(missing.transfer.status, 404);
  EXPECT_EQ(Picture("/p.jpg", "p.jpg"), PictureResult::kStored);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing.jpg"));
  EXPECT_EQ(server.Connections(), 1);
}

TEST_P(KeptConnectionTest, AbortEndsATransferOnAKeptConnectionAndTheNextOneWorks) {
  ASSERT_TRUE(Page(1));
  server.Stall("/hold");
  std::atomic<int> result{-1};
  std::thread t([&] {
    auto own = std::make_unique<PageBuffer>();
    result = FetchPage(session, server.WideUrl("/hold"), *own);
  });
  ASSERT_TRUE(server.WaitForStalled(1));
  cancel.Cancel();
  t.join();
  EXPECT_EQ(result.load(), 0);
  server.ReleaseStalls();
  cancel.Reset();
  EXPECT_TRUE(Page(2));
}

TEST_P(KeptConnectionTest, ThreadsAtOnceGetWhatTheyAskedFor) {
  constexpr int kThreads = 3;
  constexpr int kRounds = 20;
  for (int n = 0; n < kRounds; ++n)
    server.ServeGenerated("/g/" + std::to_string(n), 20000 + n, "image/jpeg");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto own = std::make_unique<PageBuffer>();
      for (int n = 0; n < kRounds; ++n) {
        const std::string i = std::to_string(t * 100 + n);
        if (FetchPage(session, server.WideUrl("/page?n=" + i), *own) != 1 ||
            std::string(own->data()) != "page " + i)
          ++wrong;
        const std::string name = std::to_string(t) + "-" + std::to_string(n);
        if (FetchPictureFile(session, server.WideUrl("/g/" + std::to_string(n)), dir.Wide(name))
                    .result != PictureResult::kStored ||
            test::ReadFileBytes(dir.Path() / name) != TestServer::GeneratedBody(20000 + n))
          ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  // Each thread keeps to its connections: far fewer than one per request.
  EXPECT_LE(server.Connections(), 2 * kThreads);
}

TEST(ProxyTest, ProxyFromTheEnvironmentCarriesPagesAndPicturesOverAKeptConnection) {
  TestServer proxy{ServerOptions{nullptr, true}};  // clears the proxy variables first
  // A proxy is asked for the whole address; this one knows two of them.
  proxy.Serve("http://gallery.invalid/page", "page via the proxy");
  proxy.Serve("http://pictures.invalid/p.jpg", test::Jpeg("picture via the proxy"), "image/jpeg");
  const ScopedVariables env{
      {"http_proxy", proxy.Url("")}, {"no_proxy", None()}, {"NO_PROXY", None()}};
  Cancellation cancel;
  Session session(cancel);
  auto page = std::make_unique<PageBuffer>();
  ASSERT_EQ(FetchPage(session, u"http://gallery.invalid/page", *page), 1);
  EXPECT_EQ(PageText(*page), "page via the proxy");
  TempDir dir;
  EXPECT_EQ(FetchPictureFile(session, u"http://pictures.invalid/p.jpg", dir.Wide("p.jpg")).result,
            PictureResult::kStored);
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "p.jpg"), test::Jpeg("picture via the proxy"));
  EXPECT_EQ(proxy.LastTarget(), "http://pictures.invalid/p.jpg");
  EXPECT_EQ(proxy.Connections(), 1);
}

}  // namespace
}  // namespace pageloom
