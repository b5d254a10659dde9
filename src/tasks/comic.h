// The task record: one download task, one row of the task table.
#pragma once

#include <atomic>
#include <list>
#include <string>
#include <string_view>

#include "tasks/step_context.h"
#include "text/fixed_text.h"

namespace pageloom {

enum TaskState : int {
  STATE_PREPARING = 0,    // "准备中": never stepped
  STATE_WAITING = 1,      // "等待中": reserved, never set
  STATE_DOWNLOADING = 2,  // "下载中"
  STATE_PAUSED = 3,       // "暂停中"
  STATE_FINISHED = 4,     // "已完成"
};

enum SiteKind : int { SITE_NONE = 0, SITE_EH = 1, SITE_DMZJ = 2 };

class Comic {
 public:
  Comic();
  virtual ~Comic();
  Comic(const Comic&) = delete;
  Comic& operator=(const Comic&) = delete;

  // One download step: fetches what it needs into the context's page buffer (the calling
  // worker's) and handles at most one picture. Returns non-zero while the worker should
  // call it again for this task, 0 when the worker should go on to the next task.
  // Comic implements the EH gallery step; ComicDMZJ the DMZJ chapter step.
  virtual int DownloadNext(StepContext& context);

  void SetUrl(std::u16string_view url);        // m_startUrl and m_pageUrl
  int SetFolder(std::u16string_view folder);
  int SetRow(int row);
  int GetRow() const;
  int GetState() const;
  const char16_t* GetStateText() const;
  int GetFileNumber() const;
  int GetPictureCount() const;
  int SetPictureCount(int count);
  int SetRenameFiles(int rename);
  int SetSiteKind(int kind);
  int GetSiteKind() const;

  std::u16string_view GetStartUrl() const { return WideView(m_startUrl, kUrlCapacity); }
  std::u16string_view GetPageUrl() const { return WideView(m_pageUrl, kUrlCapacity); }
  std::u16string_view GetFolder() const { return WideView(m_folder, kPathCapacity); }

  // "%d/%d" of m_fileNumber and m_pictureCount, cut to the row-text capacity.
  std::u16string ProgressText() const;
  // The status text as written into the table, cut to the row-text capacity.
  std::u16string StatusText() const;

  // The file name a picture gets: the text after the last '/' of its address, or, with
  // renaming on (m_renameFiles exactly 1), the next sequence number as "%03d" followed
  // by that name's extension. A number is consumed here, before the download.
  std::u16string PictureFileName(std::u16string_view pictureUrl);

  // State text of any code; codes outside 0..4 read "未知".
  static const char16_t* StateText(int state);

 protected:
  char16_t m_startUrl[kUrlCapacity];
  char16_t m_pageUrl[kUrlCapacity];
  char16_t m_folder[kPathCapacity];
  std::atomic<int> m_pictureCount{0};
  std::atomic<int> m_fileNumber{0};
  std::atomic<int> m_state{STATE_PREPARING};
  std::list<std::u16string> m_pictureUrls;
  std::atomic<int> m_row{0};
  int m_renameFiles = 1;
  int m_siteKind = SITE_NONE;
};

class ComicDMZJ : public Comic {
 public:
  ComicDMZJ() = default;
  int DownloadNext(StepContext& context) override;
  // Fetches the chapter page and builds m_pictureUrls from its packed script.
  int LoadPictureList(StepContext& context);

  const std::list<std::u16string>& PictureUrls() const { return m_pictureUrls; }
};

// The extension of a file name as the desktop's path functions find it: from the last
// '.' to the end, unless a space or a backslash follows that '.'; empty otherwise.
std::u16string_view FileExtension(std::u16string_view name);

}  // namespace pageloom
