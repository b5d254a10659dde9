// Page fetch against the local server: bodies, limits, failures, time-outs, cookies,
// redirects, address encoding and aborting from another thread.
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/fixed_text.h"
#include "net/page_fetch.h"
#include "net/session.h"
#include "support/test_server.h"

namespace pageloom {
namespace {

using test::TestServer;
using Clock = std::chrono::steady_clock;

std::string PageText(const PageBuffer& page) { return std::string(page.data()); }

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    page = std::make_unique<PageBuffer>();
    Scribble();
  }
  // Old text that a fetch must not leave visible.
  void Scribble() {
    std::memset(page->data(), 'o', page->size() - 1);
    (*page)[page->size() - 1] = 0;
  }

  static NetTimeouts Short() {
    NetTimeouts t;
    t.connectSeconds = 2;
    t.lowSpeedSeconds = 1;
    return t;
  }

  TestServer server;
  std::unique_ptr<PageBuffer> page;
  Cancellation cancel;
  std::unique_ptr<Session> session = OpenInternet(cancel, Short());
};

TEST_F(FetchTest, PageBodyBecomesTextWithAgentName) {
  server.Serve("/page.html", "<html><title>t</title>\xB1\xEA</html>");
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/page.html"), *page), 1);
  EXPECT_EQ(PageText(*page), "<html><title>t</title>\xB1\xEA</html>");
  EXPECT_EQ(server.LastHeader("User-Agent"), "pageLoom");
}

TEST_F(FetchTest, EmptyBodyAndErrorPagesAreRead) {
  server.Serve("/empty", "");
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/empty"), *page), 1);
  EXPECT_EQ((*page)[0], 0);

  Scribble();
  server.Serve("/gone", "<p>no such gallery</p>", "text/html", 404);
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/gone"), *page), 1);
  EXPECT_EQ(PageText(*page), "<p>no such gallery</p>");

  server.Serve("/oops", "server trouble", "text/plain", 500);
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/oops"), *page), 1);
  EXPECT_EQ(PageText(*page), "server trouble");
}

TEST_F(FetchTest, LongBodiesAreCutAtTheLastByteOfTheBuffer) {
  const std::size_t limit = kPageBufferSize - 1;
  for (std::size_t size : {limit - 1, limit, limit + 1, std::size_t{300000}}) {
    SCOPED_TRACE(size);
    std::string body(size, 'a');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + i % 26);
    server.Serve("/long", body);
    Scribble();
    ASSERT_EQ(FetchPage(*session, server.WideUrl("/long"), *page), 1);
    const std::size_t kept = std::min(size, limit);
    EXPECT_EQ(std::memcmp(page->data(), body.data(), kept), 0);
    EXPECT_EQ((*page)[kept], 0);
    EXPECT_EQ(std::strlen(page->data()), kept);
  }
}

TEST_F(FetchTest, BrokenTransferLeavesNoText) {
  server.ServeBroken("/cut", std::string(5000, 'x'), 20000);
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/cut"), *page), 0);
  EXPECT_EQ((*page)[0], 0);

  Scribble();
  server.ServeBroken("/cut-chunked", std::string(5000, 'y'), 0, true);
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/cut-chunked"), *page), 0);
  EXPECT_EQ((*page)[0], 0);
}

TEST_F(FetchTest, StallingServerIsGivenUpAfterTheLowSpeedTime) {
  server.Stall("/silent");
  server.Stall("/trickle", "<html>partial");
  for (const char* path : {"/silent", "/trickle"}) {
    SCOPED_TRACE(path);
    Scribble();
    const auto start = Clock::now();
    EXPECT_EQ(FetchPage(*session, server.WideUrl(path), *page), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ((*page)[0], 0);
  }
}

TEST_F(FetchTest, SlowButSteadyServerIsNotGivenUp) {
  // A byte every 250 ms, 2.5 s in all: slower than the whole limit (2 s), never idle for
  // it, with room for a loaded machine (a sanitizer build beside other builds).
  NetTimeouts limits = Short();
  limits.lowSpeedSeconds = 2;
  session->SetTimeouts(limits);
  server.Handle("/slow", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/html", [](std::size_t offset, httplib::DataSink& sink) {
      if (offset >= 10) {
        sink.done();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      return sink.write("abcdefghij" + offset, 1);
    });
  });
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/slow"), *page), 1);
  EXPECT_EQ(PageText(*page), "abcdefghij");
}

TEST_F(FetchTest, AddressesThatCannotBeOpenedGiveEmptyText) {
  int closedPort = 0;
  {
    TestServer gone;
    closedPort = gone.Port();
  }
  const std::u16string closed = u"http://127.0.0.1:" + WideNumber(closedPort) + u"/page.html";
  for (const std::u16string& url :
       {closed, std::u16string(u"not an address"), std::u16string(),
        std::u16string(u"file:///etc/hostname"), std::u16string(u"ftp://127.0.0.1/x")}) {
    Scribble();
    EXPECT_EQ(FetchPage(*session, url, *page), 0);
    EXPECT_EQ((*page)[0], 0);
  }
}

TEST_F(FetchTest, RedirectsAreFollowedUpToTen) {
  server.Serve("/end", "arrived");
  server.Redirect("/r0", "/end");
  for (int i = 1; i <= 10; ++i)
    server.Redirect("/r" + std::to_string(i), "/r" + std::to_string(i - 1));
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/r9"), *page), 1);  // ten redirects
  EXPECT_EQ(PageText(*page), "arrived");
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/r10"), *page), 0);  // eleven
  EXPECT_EQ((*page)[0], 0);

  server.Redirect("/to-file", "file:///etc/hostname", 301);
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/to-file"), *page), 0);
}

TEST_F(FetchTest, CookiesOfTheSessionAreSentLater) {
  server.Handle("/login", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "ipb_member=42; Path=/");
    res.set_content("ok", "text/plain");
  });
  server.Serve("/gallery", "g");

  ASSERT_NE(session, nullptr);
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/login"), *page), 1);
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/gallery"), *page), 1);
  EXPECT_EQ(server.LastHeader("Cookie"), "ipb_member=42");

  // Another session (another window) has a store of its own.
  Cancellation otherCancel;
  std::unique_ptr<Session> other = OpenInternet(otherCancel);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(FetchPage(*other, server.WideUrl("/gallery"), *page), 1);
  bool has = true;
  server.LastHeader("Cookie", &has);
  EXPECT_FALSE(has);

  // A new session starts with an empty store.
  EXPECT_EQ(CloseInternet(session), 1);
  EXPECT_EQ(session, nullptr);
  EXPECT_EQ(CloseInternet(session), 0);
  session = OpenInternet(cancel, Short());
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/gallery"), *page), 1);
  server.LastHeader("Cookie", &has);
  EXPECT_FALSE(has);
}

TEST_F(FetchTest, CookieSetOnARedirectIsKeptForItsTarget) {
  server.Handle("/gate", [](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Set-Cookie", "nw=1; Path=/");
    res.set_header("Location", "/inside");
  });
  server.Serve("/inside", "in");
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/gate"), *page), 1);
  EXPECT_EQ(server.LastHeader("Cookie"), "nw=1");
}

TEST_F(FetchTest, AddressIsSentPercentEncoded) {
  server.Serve("/漫画 第1话.html", "chapter");
  const std::u16string url = server.WideUrl("") + u"漫画 第1话.html?x=a b&y=%41";
  EXPECT_EQ(FetchPage(*session, url, *page), 1);
  EXPECT_EQ(PageText(*page), "chapter");
  EXPECT_EQ(server.LastTarget(), "/%E6%BC%AB%E7%94%BB%20%E7%AC%AC1%E8%AF%9D.html?x=a%20b&y=%41");
}

TEST(EncodeUrlTest, EncodesWhatBrowsersEncodeAndKeepsTheRest) {
  EXPECT_EQ(EncodeUrl(u"http://h/a b"), "http://h/a%20b");
  EXPECT_EQ(EncodeUrl(u"http://h/%E5%9B%BE/x%20y"), "http://h/%E5%9B%BE/x%20y");
  EXPECT_EQ(EncodeUrl(u"http://h/p;q?a=1&b=[2]#frag:@!$'()*+,"),
            "http://h/p;q?a=1&b=[2]#frag:@!$'()*+,");
  EXPECT_EQ(EncodeUrl(u"http://h/\"<>`{}"), "http://h/%22%3C%3E%60%7B%7D");
  EXPECT_EQ(EncodeUrl(u"http://h/é"), "http://h/%C3%A9");
  EXPECT_EQ(EncodeUrl(u"http://h/\U0001F600"), "http://h/%F0%9F%98%80");
  EXPECT_EQ(EncodeUrl(u"http://h/a\x7F\x01z"), "http://h/a%7F%01z");
  // A lone surrogate is sent as the replacement character.
  EXPECT_EQ(EncodeUrl(std::u16string(u"http://h/") + char16_t(0xD800)), "http://h/%EF%BF%BD");
  // Around the address and inside it, as a browser reads what was pasted.
  EXPECT_EQ(EncodeUrl(u"  http://h/a\r\n b\t \n"), "http://h/a%20b");
  // The host is left to libcurl's own handling.
  EXPECT_EQ(EncodeUrl(u"http://漫画.cn/页"), "http://漫画.cn/%E9%A1%B5");
  EXPECT_EQ(EncodeUrl(u""), "");
}

TEST(EncodeUrlTest, RandomTextBecomesPlainAsciiThatDecodesBack) {
  std::mt19937 random(20261208);
  const std::u16string units = u"aZ09-._~/?=&# \"<>`{}\x01\x1F\x7F\t\r\né漫\U0001F600";
  for (int round = 0; round < 2000; ++round) {
    std::u16string path;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      if (random() % 8 == 0) {
        const auto unit = static_cast<char16_t>(random() % 0x10000);  // lone surrogates too
        path += unit == u'%' ? u'x' : unit;  // an existing '%' is kept as it is
      } else {
        path += units[random() % units.size()];
      }
    }
    const std::string out = EncodeUrl(u"http://h/" + path);
    ASSERT_EQ(out.compare(0, 9, "http://h/"), 0);
    std::string decoded;
    for (std::size_t i = 9; i < out.size(); ++i) {
      const auto c = static_cast<unsigned char>(out[i]);
      ASSERT_TRUE(c > 0x20 && c < 0x7F && !std::strchr("\"<>`{}", c)) << out;
      if (c == '%') {
        ASSERT_LE(i + 2, out.size() - 1) << out;
        decoded += static_cast<char>(std::stoi(out.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        decoded += static_cast<char>(c);
      }
    }
    // What a browser keeps of the text: no tab or line break, nothing blank at the end.
    std::string expected;
    for (char c : ToUtf8(path))
      if (c != '\t' && c != '\r' && c != '\n') expected += c;
    while (!expected.empty() && static_cast<unsigned char>(expected.back()) <= 0x20)
      expected.pop_back();
    ASSERT_EQ(decoded, expected);
  }
}

TEST_F(FetchTest, AbortEndsAStalledFetchOnAnotherThreadPromptly) {
  NetTimeouts longWait;
  longWait.lowSpeedSeconds = 60;
  session->SetTimeouts(longWait);
  server.Stall("/hold");
  // A second session (another window's) is not touched by this one's switch.
  Cancellation otherCancel;
  Session other(otherCancel, longWait);
  server.Stall("/other");
  std::atomic<int> otherResult{-5};
  std::thread otherThread([&] {
    auto own = std::make_unique<PageBuffer>();
    otherResult = FetchPage(other, server.WideUrl("/other"), *own);
  });
  std::atomic<int> result{-5};
  std::atomic<std::int64_t> endedAt{0};
  auto worker = std::make_unique<PageBuffer>();
  std::thread t([&] {
    result = FetchPage(*session, server.WideUrl("/hold"), *worker);
    endedAt = Clock::now().time_since_epoch().count();
  });
  ASSERT_TRUE(server.WaitForStalled(2));
  const auto abortAt = Clock::now();
  cancel.Cancel();
  t.join();
  const auto latency = Clock::duration(endedAt.load()) - abortAt.time_since_epoch();
  EXPECT_LT(latency, std::chrono::milliseconds(300));
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ((*worker)[0], 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(otherResult.load(), -5) << "the other session's fetch goes on";
  server.ReleaseStalls();
  otherThread.join();

  // While aborted nothing starts; after resuming fetches work again.
  server.Serve("/ok", "fine");
  EXPECT_TRUE(session->Aborted());
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/ok"), *page), 0);
  EXPECT_EQ(server.Hits("/ok"), 0);
  cancel.Reset();
  EXPECT_EQ(FetchPage(*session, server.WideUrl("/ok"), *page), 1);
  EXPECT_EQ(PageText(*page), "fine");
}

TEST_F(FetchTest, ThreadsFetchAtOnceOnOneSession) {
  server.Handle("/n", [](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Set-Cookie", "seen=1; Path=/");
    res.set_content("page " + req.get_param_value("i"), "text/plain");
  });
  constexpr int kThreads = 4;
  constexpr int kFetches = 15;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto own = std::make_unique<PageBuffer>();
      for (int i = 0; i < kFetches; ++i) {
        const std::string n = std::to_string(t * 100 + i);
        if (FetchPage(*session, server.WideUrl("/n?i=" + n), *own) != 1 ||
            std::string(own->data()) != "page " + n)
          ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace pageloom
