// Checks a pageloom-cli given by its path, e.g. the one a package installed: it downloads a
// gallery and a comic chapter (whose packed script its helper evaluates) from the local
// fixture sites, and every picture must be on disk with its bytes. Exit status 0 when all
// are; otherwise what went wrong is written to standard error.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "base/fixed_text.h"
#include "support/dmzj_site.h"
#include "support/eh_site.h"
#include "support/program_run.h"
#include "support/test_server.h"

namespace fs = std::filesystem;
using namespace pageloom;
using namespace pageloom::test;

namespace {

constexpr int kPictures = 3;

// Writes the site names that point the program at the local sites; the file's path.
fs::path WriteSitesFile(const TempDir& home, const DmzjSite& dmzj) {
  SiteNames names = dmzj.Names();
  EhSite::Apply(names);
  WriteFileBytes(home.Path() / "sites",
                 "eh-host-marker=" + ToUtf8(names.ehHostMarker) + "\neh-mirror-marker=" +
                     ToUtf8(names.ehMirrorMarker) + "\ndmzj-host=" + ToUtf8(names.dmzjHost) +
                     "\ndmzj-site-root=" + names.dmzjSiteRoot +
                     "\ndmzj-picture-host=" + ToUtf8(names.dmzjPictureHost) + "\n");
  return home.Path() / "sites";
}

// Counts the pictures of `folder` that are missing or differ from what the site served.
int BadPictures(const fs::path& folder, const std::string& extension,
                const std::vector<std::string>& served) {
  int bad = 0;
  for (std::size_t i = 0; i < served.size(); ++i) {
    const fs::path file = folder / ("00" + std::to_string(i + 1) + extension);
    if (!fs::is_regular_file(file) || ReadFileBytes(file) != served[i]) {
      std::cerr << "missing or wrong: " << file << "\n";
      ++bad;
    }
  }
  return bad;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: installed_cli_check PATH-OF-PAGELOOM-CLI\n";
    return 2;
  }
  TestServer server;
  EhSite eh{server};
  DmzjSite dmzj{server};
  TempDir home;
  TempDir save;
  EhGalleryPlan gallery{"Installed Page 1", false, {}};
  DmzjChapterPlan chapter{"漫画", "第1话", std::to_string(kPictures), "", {}};
  std::vector<std::string> galleryBytes, chapterBytes;
  for (int i = 1; i <= kPictures; ++i) {
    gallery.pictures.push_back({"/eh/pic/i/" + std::to_string(i) + ".jpg"});
    galleryBytes.push_back(EhSite::PictureBytes(gallery.pictures.back().path));
    chapter.pictures.push_back("c/" + std::to_string(i) + ".png");
    chapterBytes.push_back(DmzjSite::PictureBytes(chapter.pictures.back()));
  }
  eh.AddGallery("g", gallery);
  dmzj.AddChapter("/c/1.shtml", chapter);

  ProgramRun run(argv[1],
                 {"--save", save.Str(), eh.Url(EhSite::GalleryPath("g", false)),
                  ToUtf8(dmzj.Address("/c/1.shtml"))},
                 {{"HOME", home.Str()},
                  {"XDG_DATA_HOME", home.Str("data")},
                  {"PAGELOOM_SITES_FILE", WriteSitesFile(home, dmzj).string()},
                  {"PAGELOOM_RETRY_PAUSES_MS", "1,1"}});
  const std::optional<int> status = run.Wait();
  std::cout << run.Out();
  std::cerr << run.Err();
  if (status != 0) {
    std::cerr << argv[1] << " ended with " << (status ? std::to_string(*status) : "no end") << "\n";
    return 1;
  }
  const int bad = BadPictures(save.Path() / "Installed", ".jpg", galleryBytes) +
                  BadPictures(save.Path() / fs::u8path("漫画/第1话"), ".png", chapterBytes);
  if (bad != 0) return 1;
  std::cout << "installed_cli_check: " << 2 * kPictures << " pictures downloaded by " << argv[1]
            << "\n";
  return 0;
}
