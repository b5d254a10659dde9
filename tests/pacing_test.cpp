// Polite pacing: the setting read, requests to one host kept apart by it (with its random
// part), Pause holding a request that waits for its turn, closing ending the wait at
// once, and the window's setting kept for the next run.
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "net/pacer.h"
#include "net/page_fetch.h"
#include "net/session.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(PacingSetting, SecondsOrARangeOfThemAndNothingElse) {
  EXPECT_EQ(ParsePacing("2"), (Pacing{2000ms, 2000ms}));
  EXPECT_EQ(ParsePacing("2-5"), (Pacing{2000ms, 5000ms}));
  EXPECT_EQ(ParsePacing("0.25-1.5"), (Pacing{250ms, 1500ms}));
  EXPECT_TRUE(ParsePacing("0")->Off());
  EXPECT_EQ(ParsePacing("3600"), (Pacing{3600000ms, 3600000ms}));
  for (const char* bad : {"", "-1", "5-2", "abc", "1.2345", "3601", "2-", "-", "1e3", " 2", "2.",
                          "99999999999999999999"})
    EXPECT_EQ(ParsePacing(bad), std::nullopt) << bad;
  for (const char* text : {"2", "2-5", "0.25-1.5"}) EXPECT_EQ(PacingText(*ParsePacing(text)), text);
  EXPECT_EQ(HostOf("https://user@e-hentai.org:443/g/1/?x"), "e-hentai.org:443");
}

// The times at which the server saw requests.
struct Arrivals {
  void Serve(test::TestServer& server, const std::string& path, std::string body) {
    server.Handle(path, [this, body](const httplib::Request&, httplib::Response& res) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        times.push_back(Clock::now());
      }
      res.set_content(body, "text/html");
    });
  }
  std::vector<milliseconds> Gaps() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<milliseconds> gaps;
    for (std::size_t i = 1; i < times.size(); ++i)
      gaps.push_back(std::chrono::duration_cast<milliseconds>(times[i] - times[i - 1]));
    return gaps;
  }
  std::mutex mutex;
  std::vector<Clock::time_point> times;
};

TEST(Pacing, RequestsToOneHostComeApartFromEveryThread) {
  test::TestServer server;
  Arrivals arrivals;
  arrivals.Serve(server, "/p", "page");
  Cancellation cancel;
  Session session(cancel);
  session.SetPacing(Pacing{200ms, 400ms});
  // Two threads at once, as a worker and the page it reads ahead.
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      auto page = std::make_unique<PageBuffer>();
      for (int i = 0; i < 3; ++i) EXPECT_EQ(FetchPage(session, server.WideUrl("/p"), *page), 1);
    });
  for (std::thread& thread : threads) thread.join();
  const std::vector<milliseconds> gaps = arrivals.Gaps();
  ASSERT_EQ(gaps.size(), 5u);
  // The server sees arrivals: a request's own set-up time (longer under a sanitizer on a
  // loaded machine) moves them a little against the moments the pacer let them go.
  for (const milliseconds gap : gaps) EXPECT_GE(gap, 150ms);
  EXPECT_LT(*std::min_element(gaps.begin(), gaps.end()), 400ms + 400ms);

  // Off again: no pause.
  session.SetPacing(Pacing{});
  const auto start = Clock::now();
  auto page = std::make_unique<PageBuffer>();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(FetchPage(session, server.WideUrl("/p"), *page), 1);
  EXPECT_LT(Clock::now() - start, 400ms) << "three requests paced would take 400 ms at least";
}

class PacedGallery : public ::testing::Test {
 protected:
  PacedGallery() {
    window.SetSaveFolderText(dir.Wide());
    site.AddGallery("p", {"Paced", false, {{"/eh/pic/p/1.jpg"}, {"/eh/pic/p/2.jpg"}}});
  }
  ~PacedGallery() override {
    if (controller) controller->Shutdown();
  }
  void Make(Pacing pacing, std::filesystem::path dataFolder = {}) {
    ControllerSettings settings = test::TestSettings(site.Names());
    settings.pacing = pacing;
    settings.dataFolder = std::move(dataFolder);
    controller = std::make_unique<TaskController>(window, settings);
  }
  void AddAndStart() {
    window.SetAddressText(site.Address(test::EhSite::GalleryPath("p", false)));
    controller->AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(test::WaitForAdds(controller->Adding(), 10s));
    controller->Start();
  }

  test::TestServer server;
  test::EhSite site{server};
  test::TempDir dir;
  test::FakeWindow window;
  std::unique_ptr<TaskController> controller;
};

TEST_F(PacedGallery, PauseHoldsTheRequestWaitingForItsTurnAndClosingEndsTheWait) {
  Make(Pacing{600ms, 600ms});
  window.SetAddressText(site.Address(test::EhSite::GalleryPath("p", false)));
  controller->AddAddresses(window.AddressText(),
                           window.Options());  // the gallery page and the first picture page, paced
  ASSERT_TRUE(test::WaitForAdds(controller->Adding(), 10s));
  controller->Start();
  controller->Pause();  // while the step waits for its turn
  const int held = server.TotalHits();
  std::this_thread::sleep_for(1000ms);
  EXPECT_EQ(server.TotalHits(), held) << "nothing is sent while paused";
  // An address added meanwhile is read all the same.
  site.AddGallery("r", {"Added", false, {{"/eh/pic/r/1.jpg"}}});
  window.SetAddressText(site.Address(test::EhSite::GalleryPath("r", false)));
  controller->AddAddresses(window.AddressText(), window.Options());
  ASSERT_TRUE(test::WaitForAdds(controller->Adding(), 10s));
  EXPECT_EQ(window.RowCount(), 2);
  controller->Continue();
  ASSERT_TRUE(window.WaitFor([](const test::FakeWindow& w) {
    const auto row = w.TaskRow(0);
    return row && (*row)[3] == u"已完成";
  }));

  // A long wait ends at once when the window closes.
  controller->SetPacing(Pacing{60s, 60s});
  site.AddGallery("q", {"Long", false, {{"/eh/pic/q/1.jpg"}}});
  window.SetAddressText(site.Address(test::EhSite::GalleryPath("q", false)));
  controller->AddAddresses(window.AddressText(), window.Options());
  std::this_thread::sleep_for(100ms);
  const auto start = Clock::now();
  controller->Shutdown();
  EXPECT_LT(Clock::now() - start, 1s);
}

TEST_F(PacedGallery, TheWindowsSettingIsKeptForTheNextRun) {
  test::TempDir data;
  Make(Pacing{}, data.Path());
  EXPECT_TRUE(controller->GetPacing().Off());
  EXPECT_TRUE(controller->SetPacing(Pacing{1500ms, 2500ms}));
  controller.reset();
  Make(Pacing{}, data.Path());
  EXPECT_EQ(controller->GetPacing(), (Pacing{1500ms, 2500ms}));
  EXPECT_TRUE(controller->SetPacing(Pacing{}));
  controller.reset();
  Make(Pacing{}, data.Path());
  EXPECT_TRUE(controller->GetPacing().Off());
}

}  // namespace
}  // namespace pageloom
