// What the pages tell about a gallery or chapter, and the files that carry it: the EH
// gallery page's fields and the DMZJ chapter number, ComicInfo.xml read back as XML,
// info.json read back, and picture sizes from their headers.
#include <QString>
#include <QXmlStreamReader>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/plain_text.h"
#include "library/comic_info.h"
#include "library/picture_header.h"
#include "sites/dmzj/dmzj_metadata.h"
#include "sites/eh/eh_metadata.h"
#include "support/eh_site.h"
#include "support/test_server.h"

namespace pageloom {
namespace {

using test::EhGalleryDetails;
using test::EhSite;

EhGalleryDetails FullDetails() {
  EhGalleryDetails d;
  d.title = "[Circle &amp; Co] Title &lt;One&gt; &quot;Q&quot; &#39;s";
  d.original = "[サークル] 中文 &amp; 日本語";
  d.category = "Doujinshi";
  d.uploader = "someone &amp; friend";
  d.posted = "2021-03-04 05:06";
  d.language = "Japanese &nbsp;<span class=\"halp\" title=\"x\">TR</span>";
  d.length = "24 pages";
  d.tags = {{"artist", {"some artist", "other"}},
            {"group", {"the circle"}},
            {"female", {"glasses", "big breasts"}},
            {"misc", {"full color"}}};
  return d;
}

TEST(EhGalleryMetadata, ReadsEveryFieldAsPlainText) {
  const ComicMetadata m = ReadEHGalleryMetadata(EhSite::DetailsMarkup(FullDetails()));
  EXPECT_EQ(m.title, "[Circle & Co] Title <One> \"Q\" 's");
  EXPECT_EQ(m.originalTitle, "[サークル] 中文 & 日本語");
  EXPECT_EQ(m.category, "Doujinshi");
  EXPECT_EQ(m.uploader, "someone & friend");
  EXPECT_EQ(m.posted, "2021-03-04 05:06");
  EXPECT_EQ(m.language, "Japanese");
  EXPECT_EQ(m.length, 24);
  const std::vector<MetadataTag> tags{{"artist", "some artist"}, {"artist", "other"},
                                      {"group", "the circle"},   {"female", "glasses"},
                                      {"female", "big breasts"}, {"misc", "full color"}};
  EXPECT_EQ(m.tags, tags);
}

TEST(EhGalleryMetadata, AFieldThePageLacksIsLeftOutAndTheRestRead) {
  EhGalleryDetails d = FullDetails();
  d.original.clear();
  d.uploader.clear();
  d.length.clear();
  d.tags.clear();
  const ComicMetadata m = ReadEHGalleryMetadata(EhSite::DetailsMarkup(d));
  EXPECT_EQ(m.title, "[Circle & Co] Title <One> \"Q\" 's");
  EXPECT_EQ(m.originalTitle, "");
  EXPECT_EQ(m.uploader, "");
  EXPECT_EQ(m.length, 0);
  EXPECT_TRUE(m.tags.empty());
  EXPECT_EQ(m.language, "Japanese");

  // Pages cut anywhere, and pages of another shape, give what they hold and no more.
  const std::string page = EhSite::DetailsMarkup(FullDetails());
  for (std::size_t cut = 0; cut < page.size(); cut += 7) {
    const ComicMetadata part = ReadEHGalleryMetadata(std::string_view(page).substr(0, cut));
    EXPECT_LE(part.tags.size(), 6u);
  }
  EXPECT_EQ(ReadEHGalleryMetadata("<h1 id=\"gn\">unclosed").title, "");
  EXPECT_EQ(PlainText("a &#0; b &#x110000; c &#1;\x01 \xff"),
            "a \xEF\xBF\xBD b \xEF\xBF\xBD c "
            "\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD");
}

TEST(DmzjChapterMetadata, NumberComesFromTheChapterName) {
  EXPECT_EQ(ChapterNumber("第01话"), "1");
  EXPECT_EQ(ChapterNumber("第12.5话"), "12.5");
  EXPECT_EQ(ChapterNumber("Ch 3"), "3");
  EXPECT_EQ(ChapterNumber("Chapter 007.5 end"), "7.5");
  EXPECT_EQ(ChapterNumber("2019年 第0话"), "0");
  EXPECT_EQ(ChapterNumber("番外篇"), "");
  const ComicMetadata m = DmzjChapterMetadata("漫画", "第3话", "http://h/dmzj/comic/33.shtml");
  EXPECT_EQ(m.series, "漫画");
  EXPECT_EQ(m.title, "第3话");
  EXPECT_EQ(m.number, "3");
  EXPECT_EQ(m.seriesWeb, "http://h/dmzj/comic/");
}

// The children of the root and the Page elements' attributes, as read back.
struct ReadBack {
  std::vector<std::pair<QString, QString>> elements;
  std::vector<QXmlStreamAttributes> pages;
  QString rootNamespaces;
  bool wellFormed = false;
};

ReadBack ParseComicInfo(const std::string& xml) {
  ReadBack out;
  QXmlStreamReader reader(QByteArray::fromStdString(xml));
  int depth = 0;
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isStartElement()) {
      ++depth;
      if (depth == 1) {
        for (const auto& ns : reader.namespaceDeclarations())
          out.rootNamespaces += ns.prefix().toString() + "=" + ns.namespaceUri().toString() + ";";
      } else if (depth == 2 && reader.name() != u"Pages") {
        const QString name = reader.name().toString();
        out.elements.emplace_back(name, reader.readElementText());
        --depth;
      } else if (depth == 2) {
        out.elements.emplace_back("Pages", QString());
      } else if (depth == 3) {
        out.pages.push_back(reader.attributes());
      }
    } else if (reader.isEndElement()) {
      --depth;
    }
  }
  out.wellFormed = !reader.hasError();
  return out;
}

TEST(ComicInfoFile, ElementsInSchemaOrderWithTheGalleryValues) {
  ComicMetadata m = ReadEHGalleryMetadata(EhSite::DetailsMarkup(FullDetails()));
  m.title += std::string("\x01\x0b tail");  // characters XML cannot carry
  m.web = "http://h/eh/g/1/x/?a=1&b=2";
  const std::vector<PictureFile> pictures{{"001.jpg", 4000, PictureSize{850, 1200}},
                                          {"002.png", 5, std::nullopt}};
  const ReadBack back = ParseComicInfo(ComicInfoXml(m, pictures));
  ASSERT_TRUE(back.wellFormed);
  EXPECT_EQ(back.rootNamespaces,
            "xsd=http://www.w3.org/2001/XMLSchema;xsi=http://www.w3.org/2001/XMLSchema-instance;");
  const std::vector<std::pair<QString, QString>> expected{
      {"Title", "[Circle & Co] Title <One> \"Q\" 's tail"},
      {"Summary", "[サークル] 中文 & 日本語"},
      {"Year", "2021"},
      {"Month", "3"},
      {"Day", "4"},
      {"Writer", "some artist, other"},
      {"Publisher", "the circle"},
      {"Genre", "Doujinshi"},
      {"Tags", "female:glasses, female:big breasts, misc:full color"},
      {"Web", "http://h/eh/g/1/x/?a=1&b=2"},
      {"PageCount", "2"},
      {"LanguageISO", "ja"},
      {"Pages", ""}};
  EXPECT_EQ(back.elements, expected);
  ASSERT_EQ(back.pages.size(), 2u);
  EXPECT_EQ(back.pages[0].value("Image"), u"0");
  EXPECT_EQ(back.pages[0].value("ImageSize"), u"4000");
  EXPECT_EQ(back.pages[0].value("ImageWidth"), u"850");
  EXPECT_EQ(back.pages[0].value("ImageHeight"), u"1200");
  EXPECT_EQ(back.pages[1].value("Image"), u"1");
  EXPECT_FALSE(back.pages[1].hasAttribute("ImageWidth"));

  // A chapter: title, series and number, in that order.
  const ReadBack chapter = ParseComicInfo(
      ComicInfoXml(DmzjChapterMetadata("漫画", "第12.5话", "http://h/c/1.shtml"), {}));
  ASSERT_GE(chapter.elements.size(), 3u);
  EXPECT_EQ(chapter.elements[0], (std::pair<QString, QString>{"Title", "第12.5话"}));
  EXPECT_EQ(chapter.elements[1], (std::pair<QString, QString>{"Series", "漫画"}));
  EXPECT_EQ(chapter.elements[2], (std::pair<QString, QString>{"Number", "12.5"}));
}

TEST(ComicInfoFile, InfoJsonKeepsEveryFieldAndTheFiles) {
  FolderInfo info;
  info.metadata = ReadEHGalleryMetadata(EhSite::DetailsMarkup(FullDetails()));
  info.metadata.web = "http://h/g/1/";
  info.source = "http://h/s/1-1";
  info.complete = false;
  info.missing = {"003.jpg"};
  info.files = {{"001.jpg", 123, std::nullopt}, {"中文.png", 9, std::nullopt}};
  const std::optional<FolderInfo> back = ParseInfoJson(InfoJson(info));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->metadata.title, info.metadata.title);
  EXPECT_EQ(back->metadata.originalTitle, info.metadata.originalTitle);
  EXPECT_EQ(back->metadata.tags, info.metadata.tags);
  EXPECT_EQ(back->metadata.length, 24);
  EXPECT_EQ(back->source, info.source);
  EXPECT_EQ(back->missing, info.missing);
  ASSERT_EQ(back->files.size(), 2u);
  EXPECT_EQ(back->files[1].name, "中文.png");
  EXPECT_EQ(back->files[1].size, 9u);
  EXPECT_FALSE(ParseInfoJson("{\"title\": 1"));
  EXPECT_FALSE(ParseInfoJson("[]"));
}

TEST(PictureHeader, SizesOfEveryKindAndNothingForABrokenOne) {
  test::TempDir dir;
  const auto file = [&dir](const char* name, const std::string& bytes) {
    test::WriteFileBytes(dir.Path() / name, bytes);
    return ReadPictureSize(dir.Path() / name);
  };
  const std::string png =
      std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x03\x52\0\0\x04\xb0", 24);
  const std::string gif = std::string("GIF89a\x20\x03\x58\x02", 10) + std::string(8, '\0');
  // A JPEG with an APP0 segment before its frame header.
  const std::string jpeg =
      std::string("\xFF\xD8\xFF\xE0\x00\x04\x00\x00\xFF\xC0\x00\x11\x08\x04\xB0\x03\x52", 17);
  const std::string webp =
      std::string("RIFF\0\0\0\0WEBPVP8X\x0a\0\0\0\0\0\0\0\x51\x03\0\xaf\x04\0", 30);
  const std::string bmp =
      std::string("BM", 2) + std::string(16, '\0') + std::string("\x52\x03\0\0\x50\xfb\xff\xff", 8);
  for (const auto& [name, bytes, w, h] :
       std::vector<std::tuple<const char*, std::string, int, int>>{{"a.png", png, 850, 1200},
                                                                   {"a.gif", gif, 800, 600},
                                                                   {"a.jpg", jpeg, 850, 1200},
                                                                   {"a.webp", webp, 850, 1200},
                                                                   {"a.bmp", bmp, 850, 1200}}) {
    const std::optional<PictureSize> size = file(name, bytes);
    ASSERT_TRUE(size) << name;
    EXPECT_EQ(size->width, w) << name;
    EXPECT_EQ(size->height, h) << name;
  }
  EXPECT_FALSE(file("cut.jpg", jpeg.substr(0, 12)));
  EXPECT_FALSE(file("zero.png", png.substr(0, 16) + std::string(8, '\0')));
  EXPECT_FALSE(file("text.jpg", "<html>not a picture</html>"));
  EXPECT_FALSE(ReadPictureSize(dir.Path() / "missing.jpg"));
}

}  // namespace
}  // namespace pageloom
