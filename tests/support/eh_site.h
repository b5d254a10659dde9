// An EH look-alike on the local test server: gallery pages in main and mirror form,
// picture pages that link to the next one (the last to itself), and the pictures. With
// its names (Names, Apply), addresses below "/eh/" count as EH addresses, those below
// "/eh/lofi/" as the low-bandwidth mirror.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sites/sites.h"
#include "support/test_server.h"

namespace pageloom::test {

struct EhPicturePlan {
  std::string path;    // as the picture page writes it, e.g. "/eh/pic/ab7/one.jpg"
  bool served = true;  // false: the picture's address answers 404
};

// What a main gallery page tells about its gallery, as markup (entities as the site
// writes them); an empty field is left out of the page.
struct EhGalleryDetails {
  std::string title;
  std::string original;
  std::string category;
  std::string uploader;
  std::string posted;
  std::string language;  // e.g. "Japanese &nbsp;<span class=\"halp\">TR</span>"
  std::string length;    // e.g. "24 pages"
  std::vector<std::pair<std::string, std::vector<std::string>>> tags;  // namespace, tags
};

struct EhGalleryPlan {
  std::string title;                    // the picture pages' title, e.g. "Abc Page 1"
  bool mirror = false;                  // pages below /eh/lofi/
  std::vector<EhPicturePlan> pictures;  // one picture page each
  std::string details = {};             // markup the main gallery page shows above its thumbnails
};

class EhSite {
 public:
  explicit EhSite(TestServer& server);
  EhSite(const EhSite&) = delete;
  EhSite& operator=(const EhSite&) = delete;

  // Page texts as the site writes them. `id` is the picture's element id (two or three
  // letters); a three-letter id moves the picture address one byte further.
  static std::string MainGalleryPage(const std::string& firstPageUrl,
                                     const std::string& details = {});
  static std::string MirrorGalleryPage(const std::string& firstPageUrl);
  // The details block of a main gallery page: titles, category, uploader, the details
  // table and the tag list, shaped as the site shapes them.
  static std::string DetailsMarkup(const EhGalleryDetails& details);
  static std::string PicturePage(const std::string& title, const std::string& nextPageUrl,
                                 const std::string& id, const std::string& pictureUrl);

  // Serves gallery `name`: its gallery page, one picture page per picture (ids of three
  // and two letters by turns, the last page linking to itself), and every served picture
  // under the address the download asks for (for the mirror, with the '3' rule applied).
  void AddGallery(const std::string& name, const EhGalleryPlan& plan);
  // Rewrites picture page `number` (from 1) of a gallery to show another picture.
  void SetPicture(const std::string& name, int number, const EhPicturePlan& picture);
  void AddPage(const std::string& path, std::string body);
  // Runs on a server thread with the path of every page request, before the answer.
  void SetPageHook(std::function<void(const std::string& path)> hook);

  // Paths on the server.
  static std::string GalleryPath(const std::string& name, bool mirror);
  static std::string PagePath(const std::string& name, bool mirror, int number);
  // The address the program downloads a picture from: on the mirror, the byte before the
  // last '/' becomes '3'.
  static std::string DownloadPath(const std::string& picturePath, bool mirror);
  // Bytes of a picture: binary, a few hundred bytes, different for every path (a GIF for a
  // ".gif" path, a PNG otherwise).
  static std::string PictureBytes(const std::string& picturePath);

  // Site names that point the EH markers here (the other sites' are the real ones).
  SiteNames Names() const;
  // Lays the EH markers over `names`.
  static void Apply(SiteNames& names);

  std::string Url(const std::string& path) const { return m_server.Url(path); }
  std::u16string Address(const std::string& path) const { return m_server.WideUrl(path); }
  int Hits(const std::string& path) const { return m_server.Hits(path); }

 private:
  void ServePage(const std::string& name, int number);

  TestServer& m_server;
  std::map<std::string, EhGalleryPlan> m_galleries;
  std::shared_ptr<std::mutex> m_hookMutex = std::make_shared<std::mutex>();
  std::shared_ptr<std::function<void(const std::string&)>> m_hook =
      std::make_shared<std::function<void(const std::string&)>>();
};

}  // namespace pageloom::test
