#include "support/eh_site.h"

#include <cstdint>
#include <stdexcept>
#include <utility>

namespace pageloom::test {

namespace {

std::string ContentType(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
  if (ext == ".png") return "image/png";
  if (ext == ".gif") return "image/gif";
  return "image/jpeg";
}

}  // namespace

EhSite::EhSite(TestServer& server) : m_server(server) {}

SiteNames EhSite::Names() const {
  SiteNames names = DefaultSiteNames();
  Apply(names);
  return names;
}

void EhSite::Apply(SiteNames& names) {
  names.ehHostMarker = u"/eh/";
  names.ehMirrorMarker = u"/lofi/";
}

std::string EhSite::MainGalleryPage(const std::string& firstPageUrl, const std::string& details) {
  return "<html><head><title>Gallery - EH</title></head><body>" + details +
         "<div id=\"gdt\">"
         "<div class=\"gdtm\" style=\"height:170px\"><div style=\"margin:1px auto 0\">"
         "<a href=\"" +
         firstPageUrl +
         "\"><img alt=\"01\" title=\"Page 1\" src=\"t1.jpg\"/>"
         "</a></div></div><div class=\"gdtm\"><a href=\"" +
         firstPageUrl + "x\"><img alt=\"02\" src=\"t2.jpg\"/></a></div></div></body></html>";
}

std::string EhSite::DetailsMarkup(const EhGalleryDetails& d) {
  std::string out = "<div class=\"gm\"><div id=\"gleft\"><div id=\"gd1\"></div></div>";
  if (!d.title.empty()) out += "<div id=\"gd2\"><h1 id=\"gn\">" + d.title + "</h1>";
  if (!d.original.empty()) out += "<h1 id=\"gj\">" + d.original + "</h1>";
  out += "</div><div id=\"gmid\"><div id=\"gd3\">";
  if (!d.category.empty())
    out += "<div id=\"gdc\"><div class=\"cs ct2\" onclick=\"document.location='x'\">" + d.category +
           "</div></div>";
  if (!d.uploader.empty())
    out += "<div id=\"gdn\"><a href=\"https://e/uploader/x\">" + d.uploader + "</a></div>";
  out += "<div id=\"gdd\"><table>";
  const auto row = [&out](const char* label, const std::string& value) {
    if (!value.empty())
      out += std::string("<tr><td class=\"gdt1\">") + label + "</td><td class=\"gdt2\">" + value +
             "</td></tr>";
  };
  row("Posted:", d.posted);
  row("Parent:", "None");
  row("Language:", d.language);
  row("Length:", d.length);
  out += "</table></div></div><div id=\"gd4\"><div id=\"taglist\"><table>";
  for (const auto& [space, tags] : d.tags) {
    out += "<tr><td class=\"tc\">" + space + ":</td><td>";
    for (const std::string& tag : tags) {
      std::string key = tag;
      for (char& c : key)
        if (c == ' ') c = '_';
      const std::string id = space == "misc" ? key : space + ":" + key;
      out += "<div id=\"td_" + id + "\" class=\"gt\" style=\"opacity:1.0\"><a id=\"ta_" + id +
             "\" href=\"https://e/tag/x\" class=\"\" onclick=\"return toggle_tagmenu(1,'" + id +
             "',this)\">" + tag + "</a></div>";
    }
    out += "</td></tr>";
  }
  out += "</table></div></div></div></div>";
  return out;
}

std::string EhSite::MirrorGalleryPage(const std::string& firstPageUrl) {
  return "<html><head><title>Gallery - Lofi</title></head><body><div id=\"gh\">"
         "<div class=\"gi\"><a href=\"" +
         firstPageUrl +
         "\"><img src=\"t1.jpg\"/></a></div>"
         "<div class=\"gi\"><a href=\"" +
         firstPageUrl +
         "x\"><img src=\"t2.jpg\"/></a></div>"
         "</div></body></html>";
}

std::string EhSite::PicturePage(const std::string& title, const std::string& nextPageUrl,
                                const std::string& id, const std::string& pictureUrl) {
  return "<html><head><title>" + title +
         "</title></head><body><div id=\"i3\">"
         "<a onclick=\"return load_image(2)\" href=\"" +
         nextPageUrl + "\"><img id=\"" + id + "\" src=\"" + pictureUrl +
         "\" style=\"height:1200px;width:850px\"/></a></div>"
         "</body></html>";
}

std::string EhSite::GalleryPath(const std::string& name, bool mirror) {
  return std::string(mirror ? "/eh/lofi" : "/eh") + "/g-" + name + "/token/";
}

std::string EhSite::PagePath(const std::string& name, bool mirror, int number) {
  return std::string(mirror ? "/eh/lofi" : "/eh") + "/s/" + name + "/" + name + "-" +
         std::to_string(number);
}

std::string EhSite::DownloadPath(const std::string& picturePath, bool mirror) {
  if (!mirror) return picturePath;
  std::string path = picturePath;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0)
    throw std::invalid_argument("mirror picture path without a folder");
  path[slash - 1] = '3';
  return path;
}

std::string EhSite::PictureBytes(const std::string& picturePath) {
  // A GIF's bytes for a ".gif" name: the site's small limit picture is one.
  return DistinctBytes(ContentType(picturePath) == "image/gif" ? "GIF89a" : "\x89PNG\r\n\x1A\n",
                       picturePath);
}

void EhSite::AddGallery(const std::string& name, const EhGalleryPlan& plan) {
  if (plan.pictures.empty()) throw std::invalid_argument("a gallery needs pictures");
  m_galleries[name] = plan;
  const std::string first = Url(PagePath(name, plan.mirror, 1));
  AddPage(GalleryPath(name, plan.mirror),
          plan.mirror ? MirrorGalleryPage(first) : MainGalleryPage(first, plan.details));
  for (int n = 1; n <= static_cast<int>(plan.pictures.size()); ++n) ServePage(name, n);
}

void EhSite::SetPicture(const std::string& name, int number, const EhPicturePlan& picture) {
  EhGalleryPlan& plan = m_galleries.at(name);
  plan.pictures.at(static_cast<std::size_t>(number - 1)) = picture;
  ServePage(name, number);
}

void EhSite::ServePage(const std::string& name, int number) {
  const EhGalleryPlan& plan = m_galleries.at(name);
  const int count = static_cast<int>(plan.pictures.size());
  const EhPicturePlan& picture = plan.pictures.at(static_cast<std::size_t>(number - 1));
  const std::string next = Url(PagePath(name, plan.mirror, number < count ? number + 1 : number));
  const std::string id = number % 2 == 1 ? "img" : "sm";
  AddPage(PagePath(name, plan.mirror, number),
          PicturePage(plan.title, next, id, Url(picture.path)));
  if (picture.served) {
    const std::string download = DownloadPath(picture.path, plan.mirror);
    m_server.Serve(download, PictureBytes(download), ContentType(download));
  }
}

void EhSite::AddPage(const std::string& path, std::string body) {
  // The handler keeps the hook alive on its own: the server may outlive the site.
  m_server.Handle(path, [hookMutex = m_hookMutex, hook = m_hook, page = std::move(body)](
                            const httplib::Request& request, httplib::Response& response) {
    std::function<void(const std::string&)> call;
    {
      std::lock_guard<std::mutex> lock(*hookMutex);
      call = *hook;
    }
    if (call) call(request.path);
    response.set_content(page, "text/html; charset=UTF-8");
  });
}

void EhSite::SetPageHook(std::function<void(const std::string& path)> hook) {
  std::lock_guard<std::mutex> lock(*m_hookMutex);
  *m_hook = std::move(hook);
}

}  // namespace pageloom::test
