// The download record's key and file: one gallery under every form of its address, one
// chapter by its number, entries that outlive the program, and a lookup that gives nothing
// for what was never recorded.
#include <gtest/gtest.h>

#include "engine/site_adapter.h"
#include "sites/sites.h"
#include "store/download_record.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

const SiteAdapter& Adapter(const std::vector<std::unique_ptr<SiteAdapter>>& adapters,
                           std::u16string_view name) {
  for (const auto& adapter : adapters)
    if (adapter->Name() == name) return *adapter;
  throw std::logic_error("no such site");
}

TEST(DownloadRecordTest, OneGalleryOrChapterHasOneIdentityWhateverItsAddress) {
  const auto adapters = MakeSiteAdapters(DefaultSiteNames());
  const SiteAdapter& eh = Adapter(adapters, u"EH");
  for (const std::u16string address :
       {u"https://e-hentai.org/g/123456/abcdef0123/", u"https://e-hentai.org/g/123456/ffff0000aa",
        u"http://lofi.e-hentai.org/g/123456/abcdef0123/?p=2",
        u"https://e-hentai.org/g/123456/abcdef0123/?nw=always#top",
        u"https://e-hentai.org/s/0a1b2c3d4e/123456-7",
        u"https://lofi.e-hentai.org/s/0a1b2c3d4e/123456-12"})
    EXPECT_EQ(eh.Identity(address), std::u16string(u"123456")) << ToUtf8(address);
  for (const std::u16string address : {u"https://e-hentai.org/", u"https://e-hentai.org/g/abc/x/",
                                       u"https://e-hentai.org/g//x/", u"https://e-hentai.org/s/x"})
    EXPECT_EQ(eh.Identity(address), std::nullopt) << ToUtf8(address);

  const SiteAdapter& dmzj = Adapter(adapters, u"DMZJ");
  EXPECT_EQ(dmzj.Identity(u"https://manhua.dmzj.com/somecomic/12345.shtml"),
            std::u16string(u"12345"));
  EXPECT_EQ(dmzj.Identity(u"http://manhua.dmzj.com/other2/12345.shtml?from=list#p3"),
            std::u16string(u"12345"));
  EXPECT_EQ(dmzj.Identity(u"https://manhua.dmzj.com/comic42/"), std::nullopt) << "a series";
}

TEST(DownloadRecordTest, EntriesLastAreRenewedAndForgotten) {
  TempDir dir;
  const auto file = dir.Path() / "sub" / "record.sqlite";
  {
    std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(file);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Find("EH", "1"), std::nullopt);
    ASSERT_TRUE(record->Add({"EH", "1", "标题 'quoted'", "/x/a.cbz", 100}));
    ASSERT_TRUE(record->Add({"DMZJ", "1", "漫画 第1话", "/x/漫画/第1话/", 200}));
    ASSERT_TRUE(record->Add({"EH", "1", "Renamed", "/y/Renamed/", 300}));
  }
  std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(file);
  ASSERT_TRUE(record);
  const std::optional<RecordEntry> eh = record->Find("EH", "1");
  ASSERT_TRUE(eh);
  EXPECT_EQ(eh->title, "Renamed");
  EXPECT_EQ(eh->place, "/y/Renamed/");
  EXPECT_EQ(eh->when, 300);
  EXPECT_EQ(record->Count(), 2);
  EXPECT_EQ(record->Forget("EH", "1"), 1);
  EXPECT_EQ(record->Find("EH", "1"), std::nullopt);
  ASSERT_TRUE(record->Find("DMZJ", "1"));
  EXPECT_EQ(record->Forget("", "1"), 1) << "a bare number forgets it on any site";
  EXPECT_EQ(record->Count(), 0);

  // A file that is no record is said, not taken.
  WriteFileBytes(dir.Path() / "junk", std::string(4096, 'x'));
  std::string reason;
  EXPECT_FALSE(DownloadRecord::Open(dir.Path() / "junk", &reason));
  EXPECT_FALSE(reason.empty());
}

}  // namespace
}  // namespace pageloom::test
