#include "tasks/comic.h"

#include <cstdio>

namespace pageloom {

Comic::Comic() {
  m_startUrl[0] = 0;
  m_pageUrl[0] = 0;
  m_folder[0] = 0;
}

Comic::~Comic() = default;

void Comic::SetUrl(std::u16string_view url) {
  CopyWide(m_startUrl, kUrlCapacity, url);
  CopyWide(m_pageUrl, kUrlCapacity, url);
}

int Comic::SetFolder(std::u16string_view folder) {
  CopyWide(m_folder, kPathCapacity, folder);
  return 1;
}

int Comic::SetRow(int row) {
  m_row = row;
  return 1;
}

int Comic::GetRow() const { return m_row; }
int Comic::GetState() const { return m_state; }
const char16_t* Comic::GetStateText() const { return StateText(m_state); }
int Comic::GetFileNumber() const { return m_fileNumber; }
int Comic::GetPictureCount() const { return m_pictureCount; }

int Comic::SetPictureCount(int count) {
  m_pictureCount = count;
  return 1;
}

int Comic::SetRenameFiles(int rename) {
  m_renameFiles = rename;
  return 1;
}

int Comic::SetSiteKind(int kind) {
  m_siteKind = kind;
  return 1;
}

int Comic::GetSiteKind() const { return m_siteKind; }

const char16_t* Comic::StateText(int state) {
  switch (state) {
    case STATE_PREPARING: return u"准备中";
    case STATE_WAITING: return u"等待中";
    case STATE_DOWNLOADING: return u"下载中";
    case STATE_PAUSED: return u"暂停中";
    case STATE_FINISHED: return u"已完成";
    default: return u"未知";
  }
}

namespace {

std::u16string RowText(std::u16string_view text) {
  char16_t buf[kRowTextCapacity];
  CopyWide(buf, kRowTextCapacity, text);
  return std::u16string(WideView(buf, kRowTextCapacity));
}

}  // namespace

std::u16string Comic::ProgressText() const {
  char text[32];
  std::snprintf(text, sizeof text, "%d/%d", GetFileNumber(), GetPictureCount());
  const std::string s(text);
  return RowText(std::u16string(s.begin(), s.end()));
}

std::u16string Comic::StatusText() const { return RowText(GetStateText()); }

std::u16string_view FileExtension(std::u16string_view name) {
  std::size_t dot = std::u16string_view::npos;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == u'.') {
      dot = i;
    } else if (name[i] == u' ' || name[i] == u'\\') {
      dot = std::u16string_view::npos;
    }
  }
  return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot);
}

std::u16string Comic::PictureFileName(std::u16string_view pictureUrl) {
  const std::size_t slash = pictureUrl.rfind(u'/');
  const std::u16string_view name =
      slash == std::u16string_view::npos ? pictureUrl : pictureUrl.substr(slash + 1);
  if (m_renameFiles != 1) return std::u16string(name);
  const int number = ++m_fileNumber;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", number);
  std::u16string out(digits, digits + std::char_traits<char>::length(digits));
  out += FileExtension(name);
  return out;
}

}  // namespace pageloom
