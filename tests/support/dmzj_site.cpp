#include "support/dmzj_site.h"

#include <cstdint>
#include <map>

namespace pageloom::test {

namespace {

bool IsWordByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The unpacker's own code for word number `n` in radix 62.
std::string WordCode(std::size_t n) {
  std::string high = n < 62 ? std::string() : WordCode(n / 62);
  const std::size_t d = n % 62;
  char digit = 0;
  if (d > 35) {
    digit = static_cast<char>(d + 29);  // 'A'..'Z'
  } else if (d > 9) {
    digit = static_cast<char>('a' + d - 10);
  } else {
    digit = static_cast<char>('0' + d);
  }
  return high + digit;
}

// `text` as the inside of a single-quoted JavaScript string.
std::string SingleQuoted(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out;
}

constexpr const char* kUnpacker =
    "function(p,a,c,k,e,d){e=function(c){return(c<a?'':e(parseInt(c/a)))+((c=c%a)>35?"
    "String.fromCharCode(c+29):c.toString(36))};if(!''.replace(/^/,String)){while(c--){"
    "d[e(c)]=k[c]||e(c)}k=[function(e){return d[e]}];e=function(){return'\\\\w+'};c=1};"
    "while(c--){if(k[c]){p=p.replace(new RegExp('\\\\b'+e(c)+'\\\\b','g'),k[c])}}return p}";

}  // namespace

std::string PackedExpression(std::string_view source) {
  std::map<std::string, std::size_t, std::less<>> index;
  std::vector<std::string> words;
  std::string packed;
  for (std::size_t i = 0; i < source.size();) {
    if (!IsWordByte(source[i])) {
      packed += source[i++];
      continue;
    }
    std::size_t end = i;
    while (end < source.size() && IsWordByte(source[end])) ++end;
    const std::string word(source.substr(i, end - i));
    auto found = index.find(word);
    if (found == index.end()) {
      found = index.emplace(word, words.size()).first;
      words.push_back(word);
    }
    packed += WordCode(found->second);
    i = end;
  }
  std::string list;
  for (std::size_t i = 0; i < words.size(); ++i) list += (i ? "|" : "") + words[i];
  return std::string("(") + kUnpacker + "('" + SingleQuoted(packed) + "',62," +
         std::to_string(words.size()) + ",'" + list + "'.split('|'),0,{}))";
}

std::string PackScript(std::string_view source) { return "eval" + PackedExpression(source); }

std::string PicturesSource(const std::vector<std::string>& paths) {
  std::string out = "var pages=[";
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i) out += ',';
    out += '"';
    for (const char c : paths[i]) {
      if (c == '/') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out + "];";
}

DmzjSite::DmzjSite(TestServer& server) : m_server(server) {}

SiteNames DmzjSite::Names() const {
  return SiteNames{u"/no-eh-site/", u"/no-eh-mirror/", u"/dmzj/", m_server.Url("/dmzj"),
                   m_server.WideUrl("/dmzjpic/")};
}

std::string DmzjSite::ChapterPage(const DmzjChapterPlan& plan) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
      "<title>" +
      plan.comicName + " " + plan.chapterName +
      "</title>\n"
      "<script type=\"text/javascript\">\n"
      "var g_comic_name = \"" +
      plan.comicName +
      "\";\n"
      "var g_chapter_name = \"" +
      plan.chapterName +
      "\";\n"
      "var g_comic_id = 1033;\n"
      "var g_max_pic_count = " +
      plan.countText +
      ";\n"
      "</script>\n</head><body>\n<div class=\"display_middle\">\n";
  if (!plan.nextLink.empty()) {
    page += "<a id=\"next_chapter\" href=\"" + plan.nextLink +
            "\" class=\"btm_chapter_btn\">下一话</a>\n";
  }
  page += "</div>\n<script type=\"text/javascript\">\n" +
          PackScript(PicturesSource(plan.pictures)) + "\n</script>\n</body></html>\n";
  return page;
}

std::string DmzjSite::SeriesPage(const std::string& firstLink) {
  return "<html><head><meta charset=\"utf-8\"><title>series</title></head><body>\n"
         "<div class=\"anim_intro\"><a href=\"/other.shtml\">not this</a></div>\n"
         "<div class=\"cartoon_online_border\">\n<ul>\n"
         "<li><a title=\"first\" href=\"" +
         firstLink +
         "\">第1话</a></li>\n"
         "<li><a title=\"second\" href=\"/never/used.shtml\">第2话</a></li>\n"
         "</ul></div></body></html>\n";
}

namespace {

// The site lives below "/dmzj" on the test server: its links that start at the host's
// root carry that folder, as a site's own links do.
std::string OnSite(const std::string& link) {
  return !link.empty() && link[0] == '/' && link.compare(0, 2, "//") != 0 ? "/dmzj" + link : link;
}

}  // namespace

void DmzjSite::AddChapter(const std::string& path, const DmzjChapterPlan& plan) {
  DmzjChapterPlan onSite = plan;
  onSite.nextLink = OnSite(plan.nextLink);
  AddPage(path, ChapterPage(onSite));
  for (const std::string& picture : plan.pictures) AddPicture(picture);
}

void DmzjSite::AddSeries(const std::string& path, const std::string& firstLink) {
  AddPage(path, SeriesPage(OnSite(firstLink)));
}

void DmzjSite::AddPage(const std::string& path, std::string body) {
  m_server.Serve("/dmzj" + path, std::move(body), "text/html; charset=utf-8");
}

void DmzjSite::AddPicture(const std::string& picturePath) {
  m_server.Serve("/dmzjpic/" + picturePath, PictureBytes(picturePath), "image/jpeg");
}

std::string DmzjSite::PictureBytes(const std::string& picturePath) {
  // A GIF's bytes for a ".gif" name: the site's small limit picture is one.
  const bool gif =
      picturePath.size() >= 4 && picturePath.compare(picturePath.size() - 4, 4, ".gif") == 0;
  return DistinctBytes(gif ? "GIF89a" : "\xFF\xD8\xFF\xE0", picturePath);
}

std::u16string DmzjSite::Address(const std::string& path) const {
  return m_server.WideUrl("/dmzj" + path);
}

std::string DmzjSite::SiteRoot() const { return m_server.Url("/dmzj"); }

int DmzjSite::Hits(const std::string& path) const { return m_server.Hits("/dmzj" + path); }

int DmzjSite::PictureHits(const std::string& picturePath) const {
  return m_server.Hits("/dmzjpic/" + picturePath);
}

}  // namespace pageloom::test
