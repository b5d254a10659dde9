// pageloom-cli and the download record, run as a process against the local EH site: what
// ended complete is skipped on the next run wherever its folder went, with --queue's record
// or a --download-archive file, until --force or --forget; what ended incomplete is not.
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/fixed_text.h"
#include "store/download_record.h"
#include "support/dmzj_site.h"
#include "support/eh_site.h"
#include "support/program_run.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

namespace fs = std::filesystem;

class CliRecordTest : public ::testing::Test {
 protected:
  CliRecordTest() {
    SiteNames names = dmzj.Names();
    EhSite::Apply(names);
    WriteFileBytes(home.Path() / "sites",
                   "eh-host-marker=" + ToUtf8(names.ehHostMarker) + "\neh-mirror-marker=" +
                       ToUtf8(names.ehMirrorMarker) + "\ndmzj-host=" + ToUtf8(names.dmzjHost) +
                       "\ndmzj-site-root=" + names.dmzjSiteRoot +
                       "\ndmzj-picture-host=" + ToUtf8(names.dmzjPictureHost) + "\n");
    for (const auto& [name, title] : std::map<std::string, std::string>{
             {"101", "Rec One"}, {"102", "Rec Two"}, {"103", "Rec Three"}}) {
      EhGalleryPlan plan{title + " Page 1", false, {}};
      for (int i = 1; i <= 2; ++i)  // 102's second picture is missing at first
        plan.pictures.push_back(
            {"/eh/pic/" + name + "/" + std::to_string(i) + ".jpg", name != "102" || i != 2});
      eh.AddGallery(name, plan);
    }
  }

  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--save", save.Str()});
    last = std::make_unique<ProgramRun>(
        PAGELOOM_CLI_PATH, args,
        std::map<std::string, std::string>{{"HOME", home.Str()},
                                           {"XDG_DATA_HOME", home.Str("data")},
                                           {"PAGELOOM_SITES_FILE", home.Str("sites")},
                                           {"PAGELOOM_RETRY_PAUSES_MS", "1,1"}});
    return last->Wait().value_or(-1);
  }
  std::string Url(const std::string& name) const {
    return eh.Url(EhSite::GalleryPath(name, false));
  }
  int PictureHits(const std::string& name) const { return eh.Hits("/eh/pic/" + name + "/1.jpg"); }
  fs::path QueueRecord() const {
    return home.Path() / "data" / "pageLoom" / "cli" / "record.sqlite";
  }

  // Chapter `number` of 连载漫画 at /c/<number>.shtml, one picture, linking `next`.
  void Chapter(int number, const std::string& next) {
    dmzj.AddChapter("/c/" + std::to_string(number) + ".shtml",
                    DmzjChapterPlan{"连载漫画",
                                    "第" + std::to_string(number) + "话",
                                    "1",
                                    next,
                                    {"c/" + std::to_string(number) + "/p1.png"}});
  }
  int ChapterHits(int number) const {
    return dmzj.PictureHits("c/" + std::to_string(number) + "/p1.png");
  }

  TestServer server;
  EhSite eh{server};
  DmzjSite dmzj{server};
  TempDir save;
  TempDir home;
  std::unique_ptr<ProgramRun> last;
};

TEST_F(CliRecordTest, WhatEndedCompleteIsSkippedWhereverItWentUntilForcedOrForgotten) {
  // The queue's record: the complete gallery is recorded, the incomplete one is not.
  EXPECT_EQ(Run({"--queue", Url("101"), Url("102")}), 1) << last->Err();
  {
    const std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(QueueRecord());
    ASSERT_TRUE(record);
    const std::optional<RecordEntry> entry = record->Find("EH", "101");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->title, "Rec One");
    EXPECT_EQ(entry->place, (save.Path() / "Rec One/").string());
    EXPECT_FALSE(record->Find("EH", "102"));
  }
  // Moved away, its task gone from the queue: still known. The other one goes on.
  fs::rename(save.Path() / "Rec One", home.Path() / "Rec One");
  eh.SetPicture("102", 2, {"/eh/pic/102/2.jpg"});
  ASSERT_EQ(Run({"--queue", "--json", Url("101")}), 0) << last->Err();  // 102 is queued
  EXPECT_EQ(PictureHits("101"), 1);
  EXPECT_FALSE(fs::exists(save.Path() / "Rec One"));
  const std::string date = RecordDate(std::time(nullptr));
  EXPECT_NE(last->Out().find(R"({"event":"skipped","address":")" + Url("101") +
                             R"(","title":"Rec One","downloaded":")" + date + "\"}"),
            std::string::npos)
      << last->Out();
  EXPECT_NE(last->Out().find(R"("finished":1,"incomplete":0,"skipped":1,)"), std::string::npos)
      << last->Out();

  // Without --queue or an archive nothing is recorded or heeded.
  ASSERT_EQ(Run({Url("101")}), 0);
  EXPECT_EQ(PictureHits("101"), 2);

  // An archive file: recorded on the first run, skipped with a line on the second, fetched
  // with --force, and again once forgotten.
  const std::string archive = home.Str("archive.sqlite");
  fs::remove_all(save.Path() / "Rec One");
  ASSERT_EQ(Run({"--download-archive", archive, Url("101")}), 0);
  EXPECT_EQ(PictureHits("101"), 3);
  ASSERT_EQ(Run({"--download-archive", archive, Url("101")}), 0) << last->Err();
  EXPECT_EQ(PictureHits("101"), 3);
  EXPECT_NE(last->Out().find("already downloaded: Rec One (" + date + ")\n"), std::string::npos)
      << last->Out();
  EXPECT_NE(last->Out().find("0 tasks, 0 finished, 1 skipped (downloaded before)."),
            std::string::npos)
      << last->Out();
  fs::remove_all(save.Path() / "Rec One");
  ASSERT_EQ(Run({"--download-archive", archive, "--force", Url("101")}), 0);
  EXPECT_EQ(PictureHits("101"), 4);

  EXPECT_EQ(Run({"--download-archive", archive, "--forget", "EH:999"}), 1);
  ASSERT_EQ(Run({"--download-archive", archive, "--forget", "EH:101"}), 0) << last->Err();
  EXPECT_EQ(last->Out(), "forgot 1 entry\n");
  fs::remove_all(save.Path() / "Rec One");
  ASSERT_EQ(Run({"--download-archive", archive, Url("101")}), 0);
  EXPECT_EQ(PictureHits("101"), 5);
  ASSERT_EQ(Run({"--queue", "--forget", "101"}), 0) << last->Err();
  EXPECT_FALSE(DownloadRecord::Open(QueueRecord())->Find("EH", "101"));
}

TEST_F(CliRecordTest, RecordExistingTakesTheCompleteFoldersAndArchivesOfALibrary) {
  ASSERT_EQ(Run({Url("101"), Url("102")}), 1);
  ASSERT_EQ(Run({"--cbz", Url("103")}), 0);
  ASSERT_TRUE(fs::exists(save.Path() / "Rec Three.cbz"));
  const std::string archive = home.Str("archive.sqlite");
  ASSERT_EQ(Run({"--download-archive", archive, "--record-existing", save.Str()}), 0)
      << last->Err();
  EXPECT_NE(last->Out().find("recorded 2 tasks\n"), std::string::npos) << last->Out();
  EXPECT_NE(last->Out().find("not complete: " + (save.Path() / "Rec Two").string() + " ("),
            std::string::npos)
      << last->Out();
  const int hits = server.TotalHits();
  ASSERT_EQ(Run({"--download-archive", archive, Url("101"), Url("103")}), 0) << last->Err();
  EXPECT_NE(last->Out().find("0 tasks, 0 finished, 2 skipped"), std::string::npos) << last->Out();
  EXPECT_EQ(server.TotalHits(), hits + 2) << "one gallery page each, no picture";
}

TEST_F(CliRecordTest, UpdateFetchesOnlyTheChaptersThatAppearedAndChecksAComicOnceIn10Minutes) {
  Chapter(1, "2.shtml");
  Chapter(2, "");
  ASSERT_EQ(Run({"--queue", "--follow", ToUtf8(dmzj.Address("/c/1.shtml"))}), 0) << last->Err();
  EXPECT_EQ(Run({"--update"}), 0) << last->Err();  // nothing new yet
  EXPECT_EQ(last->Out().find("new chapters"), std::string::npos) << last->Out();

  // The last chapter gains a next link between two checks: a --force check finds it.
  Chapter(2, "3.shtml");
  Chapter(3, "4.shtml");
  Chapter(4, "");
  fs::rename(save.Path() / "连载漫画", home.Path() / "moved");
  ASSERT_EQ(Run({"--update", "--force", "--json"}), 0) << last->Err();
  EXPECT_NE(last->Out().find(R"({"event":"new_chapters","comic":"连载漫画","count":2})"),
            std::string::npos)
      << last->Out();
  EXPECT_EQ(ChapterHits(1) + ChapterHits(2), 2) << "the chapters before are not fetched again";
  EXPECT_EQ(ChapterHits(3) + ChapterHits(4), 2);
  EXPECT_TRUE(fs::exists(save.Path() / "连载漫画" / "第4话" / "001.png"));
  EXPECT_FALSE(fs::exists(save.Path() / "连载漫画" / "第2话"));

  // Checked a moment ago: a note, and not one request.
  Chapter(4, "5.shtml");
  Chapter(5, "");
  const int requests = server.TotalHits();
  EXPECT_EQ(Run({"--update"}), 0);
  EXPECT_EQ(server.TotalHits(), requests);
  EXPECT_NE(last->Err().find("checked less than 10 minutes ago, not checked again (--force "
                             "checks anyway): 连载漫画"),
            std::string::npos)
      << last->Err();

  // A last chapter that cannot be read fails the run; its next check tries again.
  server.Serve("/dmzj/c/4.shtml", "gone", "text/html", 404);
  EXPECT_EQ(Run({"--update", "--force"}), 1) << last->Out() << last->Err();
  Chapter(4, "5.shtml");
  ASSERT_EQ(Run({"--update", "--force"}), 0) << last->Out() << last->Err();
  EXPECT_NE(last->Out().find("连载漫画: 1 new chapters\n"), std::string::npos) << last->Out();
  EXPECT_EQ(ChapterHits(5), 1);
}

}  // namespace
}  // namespace pageloom::test
