// A third site, made here and nowhere else: its adapter and its task type registered with
// the real ones, its pages on the local server. Added, downloaded by its own worker, kept in
// the lasting queue under its name and read back as its own task.
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "engine/picture_download.h"
#include "engine/retry.h"
#include "net/page_fetch.h"
#include "support/fake_window.h"
#include "support/scripted_comic.h"
#include "support/test_server.h"
#include "support/test_settings.h"

namespace pageloom::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kToyKind = 3;

// A toy page: "title=..." on its first line, then one picture address a line.
struct ToyPage {
  std::string title;
  std::vector<std::string> pictures;
};

ToyPage ReadToyPage(const PageBuffer& page) {
  ToyPage parsed;
  std::istringstream lines(std::string(page.data()));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("title=", 0) == 0)
      parsed.title = line.substr(6);
    else if (!line.empty())
      parsed.pictures.push_back(line);
  }
  return parsed;
}

// A toy book: its page lists its pictures; one picture a step.
class ToyBook : public Task {
 public:
  ToyBook() { SetSiteKind(kToyKind); }
  int DownloadNext(StepContext& context) override {
    if (m_state == STATE_FINISHED) return 0;
    if (m_state == STATE_PREPARING || m_pictureUrls.empty()) {
      (void)FetchPageRetrying(context.session, GetStartUrl(), context.page, context.retry);
      m_pictureUrls.clear();
      for (const std::string& picture : ReadToyPage(context.page).pictures)
        m_pictureUrls.push_back(FromUtf8(picture));
      m_pictureUrls.erase(
          m_pictureUrls.begin(),
          std::next(m_pictureUrls.begin(), std::min<long>(m_fileNumber, m_pictureUrls.size())));
    }
    m_state = STATE_DOWNLOADING;
    if (m_pictureUrls.empty()) return EndWalk();
    const std::u16string url = m_pictureUrls.front();
    m_pictureUrls.pop_front();
    const std::u16string name = PictureFileName(url);
    FailureReason failure;
    const int stored =
        DownloadPicture(context.session, url, name, FolderBuffer(*this).Units(), context.ui,
                        context.retry, context.pictureProgress, &failure);
    if (stored == kPictureStop) return 0;
    if (stored == kPictureFailed) AddMissing(MissingPicture{url, {}, name, failure});
    return 1;
  }

 protected:
  bool CountAnnounced() const override { return true; }
};

class ToyAdapter : public SiteAdapter {
 public:
  int Kind() const override { return kToyKind; }
  std::u16string Name() const override { return u"TOY"; }
  bool Recognises(std::u16string_view address) const override {
    return address.find(u"/toy/") != std::u16string_view::npos;
  }
  std::optional<std::u16string> FirstPage(std::u16string_view address, PageReader&) const override {
    return std::u16string(address);
  }
  PageReading ReadPage(std::u16string_view address, PageReader& reader) const override {
    PageReading reading;
    const TransferOutcome fetched =
        FetchPageRetrying(reader.session, address, reader.page, reader.retry);
    const ToyPage page = ReadToyPage(reader.page);
    if (page.title.empty()) {
      reading.failure = ReasonOfPage(fetched);
      return reading;
    }
    reading.task =
        TaskDraft{std::u16string(address), page.title, static_cast<int>(page.pictures.size())};
    return reading;
  }
  std::shared_ptr<Task> NewTask() const override { return std::make_shared<ToyBook>(); }
};

// Only pictures are stored: the toy pictures begin as a PNG does.
const std::string kPngHead = "\x89PNG\r\n\x1A\n";

class ToySiteTest : public ::testing::Test {
 protected:
  ToySiteTest() {
    window.SetSaveFolderText(save.Wide());
    std::string page = "title=Toy Book\n";
    for (const char* name : {"a.png", "b.png", "c.png"}) {
      const std::string path = std::string("/toy/pic/") + name;
      server.Serve(path, kPngHead + "picture " + path, "image/png");
      page += server.Url(path) + "\n";
    }
    server.Serve("/toy/book", page, "text/plain");
  }
  std::unique_ptr<TaskController> Open(FakeWindow& on) {
    ControllerSettings settings = TestSettings({});
    settings.dataFolder = data.Path();
    settings.registry = [](const SiteNames& names) {
      std::vector<std::unique_ptr<SiteAdapter>> sites = MakeSiteAdapters(names);
      sites.push_back(std::make_unique<ToyAdapter>());
      return sites;
    };
    return std::make_unique<TaskController>(on, settings);
  }

  TestServer server;
  TempDir save;
  TempDir data;
  FakeWindow window;
};

TEST_F(ToySiteTest, AThirdSiteDownloadsThroughItsOwnWorkerAndComesBackFromTheQueue) {
  {
    auto controller = Open(window);
    window.SetAddressText(FromUtf8(server.Url("/toy/book")));
    controller->AddAddresses(window.AddressText(), window.Options());
    ASSERT_TRUE(WaitForAdds(controller->Adding(), 10s));
    ASSERT_EQ(window.RowCount(), 1);
    EXPECT_EQ(window.RowAt(0),
              (FakeWindow::Row{u"0", save.Wide() + u"/Toy Book/", u"0/3", u"准备中"}));
    controller->Start();
    ASSERT_TRUE(window.WaitFor([](const FakeWindow& w) { return w.RowAt(0)[3] == u"已完成"; }));
    EXPECT_EQ(window.RowAt(0)[2], u"3/3");
    EXPECT_TRUE(WaitUntil([&] { return !controller->Workers().Running(kToyKind); }, 10s));
    EXPECT_FALSE(controller->Workers().Running(SITE_EH)) << "the other sites' workers had nothing";
  }
  for (const auto& [file, picture] :
       {std::pair{"001.png", "a"}, std::pair{"002.png", "b"}, std::pair{"003.png", "c"}})
    EXPECT_EQ(ReadFileBytes(save.Path() / "Toy Book" / file),
              kPngHead + "picture /toy/pic/" + picture + ".png");

  FakeWindow again;
  auto controller = Open(again);
  const auto task = controller->Tasks().Find(0);
  ASSERT_TRUE(task);
  EXPECT_NE(dynamic_cast<ToyBook*>(task.get()), nullptr) << "read back as the toy site's task";
  EXPECT_EQ(task->GetSiteName(), u"TOY");
  EXPECT_EQ(again.RowAt(0),
            (FakeWindow::Row{u"0", save.Wide() + u"/Toy Book/", u"3/3", u"已完成"}));
}

}  // namespace
}  // namespace pageloom::test
