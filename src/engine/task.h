// The task record: one download task, one row of the task table.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/fixed_text.h"
#include "engine/step_context.h"
#include "engine/task_snapshot.h"
#include "net/failure_reason.h"

namespace pageloom {

enum TaskState : int {
  STATE_PREPARING = 0,    // "准备中": never stepped (DMZJ: its picture list is still to be read)
  STATE_WAITING = 1,      // "等待中": reserved, never set
  STATE_DOWNLOADING = 2,  // "下载中"
  STATE_PAUSED = 3,       // "暂停中"
  STATE_FINISHED = 4,     // "已完成": every picture is on disk
  STATE_INCOMPLETE = 5,   // "未完成": the run ended with missing pictures or an unread page
  STATE_BANNED = 6,  // "被封禁，X分钟后重试": the site banned the visitor; goes on by itself
};

// The number of the site a task is of (SiteAdapter::Kind); kNoSite: none set yet.
constexpr int kNoSite = 0;

// A picture that could not be stored; the task's next run tries it again.
struct MissingPicture {
  std::u16string url;       // the picture's address, when it stays valid (DMZJ)
  std::u16string page;      // the page that shows the picture, read again for it (EH)
  std::u16string fileName;  // the name kept for it
  FailureReason reason;     // why it could not be had
  bool operator==(const MissingPicture& other) const {
    return url == other.url && page == other.page && fileName == other.fileName;
  }
};

// Everything of a task that outlives a run, as plain values.
struct TaskRecord {
  int siteKind = kNoSite;
  std::u16string siteName;  // the site's name, as the lasting queue keeps it
  std::u16string startUrl;
  std::u16string pageUrl;
  std::u16string folder;
  int pictureCount = 0;
  int fileNumber = 0;
  int state = STATE_PREPARING;
  int renameFiles = 1;
  bool walkDone = false;   // every page (or listed picture) has been gone through once
  int listVersion = 0;     // changes whenever the picture list is read anew
  int listTaken = 0;       // pictures of the list as read that have been taken from its front
  int missingVersion = 0;  // changes whenever the missing pictures change
  std::vector<std::u16string> pictureUrls;  // still to fetch, front first (when asked for)
  std::vector<MissingPicture> missing;
  int knownTotal = 0;  // pictures the site announced for the whole task; 0: none
};

// The record every site's task shares; each site's task type derives from it in the
// site's own folder and brings its step.
class Task {
 public:
  Task();
  virtual ~Task();
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;

  // One download step: fetches what it needs into the context's page buffer (the calling
  // worker's) and handles at most one picture. Returns non-zero while the worker should
  // call it again for this task, 0 when the worker should go on to the next task.
  // Each site's task implements its own step. Once the walk is done, the steps of a later
  // run try the missing pictures again, one a step (RetryMissingStep).
  virtual int DownloadNext(StepContext& context) = 0;

  void SetUrl(std::u16string_view url);  // m_startUrl and m_pageUrl
  int SetFolder(std::u16string_view folder);
  int SetRow(int row);
  int GetRow() const;
  int GetState() const;
  int GetFileNumber() const;
  int GetPictureCount() const;
  int SetPictureCount(int count);
  int SetRenameFiles(int rename);
  int SetSiteKind(int kind);
  int GetSiteKind() const;
  // The name of the task's site (SiteAdapter::Name); set before the task is registered.
  void SetSiteName(std::u16string name) { m_siteName = std::move(name); }
  const std::u16string& GetSiteName() const { return m_siteName; }
  // The number of pictures the site announced for the whole task (0: none announced).
  // The progress shows it as its second number; the walk never ends by it.
  void SetKnownTotal(int total) { m_knownTotal = total > 0 ? total : 0; }
  int GetKnownTotal() const { return m_knownTotal; }
  // The gallery's or chapter's title as its page gave it (UTF-8); set before the task is
  // registered, empty for a task read back from the queue.
  void SetTitle(std::string title) { m_title = std::move(title); }
  const std::string& GetTitle() const { return m_title; }

  // The texts are kept as long as they are, but never longer than their capacity
  // (kUrlCapacity, kPathCapacity) allows: what is set is cut as CopyWide cuts it.
  std::u16string_view GetStartUrl() const { return m_startUrl; }
  std::u16string_view GetPageUrl() const { return m_pageUrl; }
  std::u16string_view GetFolder() const { return m_folder; }

  // A task held by itself ("暂停此任务"): its site's worker passes it over, and leaves it
  // after the step in progress; it shows as paused until it is let go. Any thread.
  void SetHeld(bool held) { m_held.store(held); }
  [[nodiscard]] bool Held() const { return m_held.load(); }
  // The worker left a held task in the middle of its walk: it rests as paused.
  void RestHeld() {
    int downloading = STATE_DOWNLOADING;
    m_state.compare_exchange_strong(downloading, STATE_PAUSED);
  }

  // Pictures that failed and wait for the next run. Any thread.
  int MissingCount() const { return m_missingCount; }
  const std::list<MissingPicture>& Missing() const { return m_missing; }

  // The task as the front ends see it. Called by the thread that steps the task, or by
  // any thread while no worker holds it.
  [[nodiscard]] TaskSnapshot Snapshot() const;

  // The file name a picture gets: the text after the last '/' of its address, or, with
  // renaming on (m_renameFiles exactly 1), the next sequence number as "%03d" followed
  // by that name's extension. A number is consumed here, before the download. Either is
  // made safe for the disk: control characters replaced, cut to 255 bytes, and a name
  // that is empty, "." or ".." replaced by the picture's place in the task ("007").
  std::u16string PictureFileName(std::u16string_view pictureUrl);
  // The name the picture after the one just named will get from PictureFileName: asked
  // in the step that named that one, it consumes nothing.
  [[nodiscard]] std::u16string NextPictureFileName(std::u16string_view pictureUrl) const;

  // The status of any state code; codes outside 0..5 are kUnknown.
  [[nodiscard]] static TaskStatus StatusOf(int state);

  // The task as plain values (the picture list only when asked for), and back. Restore
  // is for a task that no worker holds.
  TaskRecord Record(bool withPictureList) const;
  virtual void Restore(const TaskRecord& record);
  int ListVersion() const { return m_listVersion; }
  int MissingVersion() const { return m_missingVersion; }

 protected:
  // Whether m_pictureCount is the number the site announced (rather than a count so far).
  [[nodiscard]] virtual bool CountAnnounced() const { return false; }
  // Records what failed last, for the snapshot.
  void NoteFailure(const FailureReason& reason) { m_lastError = reason; }
  // The place of the picture being named in its task, counting from 1.
  virtual int PicturePlace() const { return m_pictureCount + 1; }
  // The file name of a picture with sequence `number` (renaming on) or at `place` (off).
  std::u16string FileNameFor(std::u16string_view pictureUrl, int number, int place) const;
  // The site has banned the visitor for `length`: kept on the context's ban clock, and
  // the task shows it. Returns 0.
  int Banned(StepContext& context, std::chrono::seconds length);
  // Ends the walk: finished when nothing is missing, unfinished otherwise. Returns 0.
  int EndWalk();
  // The step of a run after the walk: the next missing picture, tried once this run.
  int RetryMissingStep(StepContext& context);
  // Stores one missing picture under its kept name; a DownloadPicture result. `failure`
  // learns why it failed. By default the picture is fetched again from its address, for
  // sites whose picture addresses last.
  virtual int StoreMissing(StepContext& context, const MissingPicture& picture,
                           FailureReason& failure);
  void AddMissing(MissingPicture picture);
  void MissingChanged();
  // Whether the last reading of the picture list failed because page scripts cannot run
  // safely on this system; a task still preparing shows it. Any thread.
  void NoteScriptsBlocked(bool blocked) { m_scriptsBlocked.store(blocked); }

  // Sets the page to read next (cut to kUrlCapacity - 1 units).
  void SetPageUrl(std::u16string_view url) { m_pageUrl = CutWide(url, kUrlCapacity); }

  // The task's folder in a buffer of kPathCapacity units, for the picture functions that
  // prepare (and may change) it; what they changed is kept when it goes. On the thread that
  // steps the task.
  class FolderBuffer {
   public:
    explicit FolderBuffer(Task& task);
    ~FolderBuffer();
    FolderBuffer(const FolderBuffer&) = delete;
    FolderBuffer& operator=(const FolderBuffer&) = delete;
    char16_t* Units() { return m_units.data(); }

   private:
    Task& m_task;
    std::array<char16_t, kPathCapacity> m_units{};
  };

  std::u16string m_startUrl;
  std::u16string m_pageUrl;
  std::u16string m_folder;
  std::atomic<int> m_pictureCount{0};
  std::atomic<int> m_fileNumber{0};
  std::atomic<int> m_state{STATE_PREPARING};
  std::list<std::u16string> m_pictureUrls;
  std::atomic<int> m_row{0};
  int m_renameFiles = 1;
  int m_siteKind = kNoSite;
  std::u16string m_siteName;
  std::string m_title;
  bool m_walkDone = false;
  int m_listVersion = 0;
  int m_listTaken = 0;
  int m_missingVersion = 0;
  std::list<MissingPicture> m_missing;
  std::atomic<int> m_missingCount{0};
  std::atomic<int> m_banMinutes{0};  // STATE_BANNED: the minutes its status shows
  std::atomic<int> m_knownTotal{0};
  std::atomic<bool> m_held{false};
  std::atomic<bool> m_scriptsBlocked{false};
  std::size_t m_retriesLeft = 0;  // missing pictures not yet tried in this run
  std::optional<FailureReason> m_lastError;
};

// The extension of a file name as the desktop's path functions find it: from the last
// '.' to the end, unless a space or a backslash follows that '.'; empty otherwise.
std::u16string_view FileExtension(std::u16string_view name);

}  // namespace pageloom
