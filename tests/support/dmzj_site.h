// A DMZJ look-alike on the local test server: series pages, chapter pages with names,
// picture counts, next-chapter links and packed picture scripts, and the pictures
// themselves. Its names (Names) point the DMZJ site names at it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sites/sites.h"
#include "support/test_server.h"

namespace pageloom::test {

// Packs JavaScript source the way such pages ship it: every word replaced by a base-62
// code, the words in a '|'-separated list, and an unpacker around both. The result is
// one line: `eval(function(p,a,c,k,e,d){...}('...',62,N,'w0|w1|...'.split('|'),0,{}))`;
// evaluating the text behind "eval" gives `source` back.
std::string PackScript(std::string_view source);
// The same without the leading "eval": the expression the page hands to eval.
std::string PackedExpression(std::string_view source);

// `var pages=["p0","p1",...];` with every '/' of the paths escaped as "\/".
std::string PicturesSource(const std::vector<std::string>& paths);

struct DmzjChapterPlan {
  std::string comicName;              // UTF-8
  std::string chapterName;            // UTF-8
  std::string countText;              // what stands between "var g_max_pic_count = " and ';'
  std::string nextLink;               // empty: no next-chapter anchor
  std::vector<std::string> pictures;  // paths on the picture server, e.g. "c/1/001.jpg"
};

class DmzjSite {
 public:
  // Site root "http://127.0.0.1:PORT/dmzj", pictures under "http://127.0.0.1:PORT/dmzjpic/".
  explicit DmzjSite(TestServer& server);
  DmzjSite(const DmzjSite&) = delete;
  DmzjSite& operator=(const DmzjSite&) = delete;

  // The page text of a chapter, as the site writes it.
  static std::string ChapterPage(const DmzjChapterPlan& plan);
  // A series page whose chapter list starts with `firstLink`.
  static std::string SeriesPage(const std::string& firstLink);

  // Serves a page at `path` below the site root (path begins with '/'); the chapter's
  // pictures are served too, each with its own bytes (PictureBytes). Links that begin
  // with a single '/' (a series' first link, a next-chapter link) are written as the
  // site writes them, below its folder on the server.
  void AddChapter(const std::string& path, const DmzjChapterPlan& plan);
  void AddSeries(const std::string& path, const std::string& firstLink);
  void AddPage(const std::string& path, std::string body);
  void AddPicture(const std::string& picturePath);

  // Bytes of a picture: binary, a few hundred bytes, different for every path.
  static std::string PictureBytes(const std::string& picturePath);

  // Site names for this site: DMZJ here, the EH markers matching no address.
  SiteNames Names() const;

  // The address of `path` below the site root, as typed into the window.
  std::u16string Address(const std::string& path) const;
  std::string SiteRoot() const;
  // Requests seen for `path` below the site root.
  int Hits(const std::string& path) const;
  int PictureHits(const std::string& picturePath) const;

 private:
  TestServer& m_server;
};

}  // namespace pageloom::test
