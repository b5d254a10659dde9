// Adding addresses: the add thread reads the pages of queued addresses (and the checks of
// followed comics) one request after the other, and registers each task on the front end's
// thread as soon as its page has been read, so a chain fills the table row by row while
// the window answers. The site operations of Add under their own names read on the calling
// thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/controller_settings.h"
#include "app/engine_shared.h"
#include "app/task_registry.h"
#include "app/window_port.h"
#include "base/cancellation.h"
#include "engine/site_list.h"
#include "net/page_buffer.h"
#include "net/session.h"

namespace pageloom {

class DownloadRecord;
struct FollowedComic;

// One address to add, with the options of the moment it was asked for.
struct AddRequest {
  // A check of the followed comics instead of an address (`force`: also those checked a
  // moment ago).
  enum class Kind { kAddress, kUpdateCheck };
  Kind kind = Kind::kAddress;
  bool force = false;
  std::u16string address;     // at most kUrlCapacity - 1 units
  std::u16string saveFolder;  // the save-folder box
  bool autoRename = true;
  bool followNext = false;
};

class Adder {
 public:
  // `idle`: the add thread has served every request queued.
  Adder(const EngineShared& engine, DownloadRecord* record, std::function<void()> idle);
  // Stops and joins the add thread.
  ~Adder();
  Adder(const Adder&) = delete;
  Adder& operator=(const Adder&) = delete;

  // Queues a request for the add thread. Any thread. False when stopping, when no site
  // takes the address, or for a check without a record.
  bool Queue(AddRequest request);
  // Queues every line of `text` (blanks around a line dropped, empty lines skipped, each
  // cut to kUrlCapacity - 1 units) with `options`, in order. Empty text asks for an address
  // ("请输入网址"); lines no site takes are reported once ("暂时不支持该网站漫画下载"), as
  // is text of blanks alone. Returns the number queued.
  int QueueLines(std::u16string_view text, const AddRequest& options);
  // Queues a check of every followed comic: for each, the page of its last chapter is read
  // again, and the chapters now linked after it that the record does not hold are added
  // with `options`. A comic checked less than kCheckInterval ago is skipped with a note
  // unless `force`.
  bool QueueUpdateCheck(AddRequest options, bool force);
  static constexpr std::chrono::seconds kCheckInterval{600};
  // True while a queued request has not been served to its end.
  [[nodiscard]] bool Pending() const;
  // The tasks left out so far because they were downloaded before. Any thread.
  [[nodiscard]] int Skipped() const { return m_skipped.load(); }
  // Whether ComicInfo.xml and info.json are begun in a new task's folder.
  void SetWriteMetadata(bool on) { m_writeMetadata.store(on); }

  // --- the site operations of Add, on the calling thread; address: kUrlCapacity units ---
  // The first page of `address` on the site of kind `site`, written back. 1 when found.
  int FindFirstPage(int site, char16_t* address);
  // Reads the page at `address` on that site and makes its task; the page's next address
  // (or nothing) when a task was made.
  struct PageAdded {
    bool taskMade = false;
    std::optional<std::u16string> next;
    std::optional<FailureReason> failure;  // why no task was made
  };
  PageAdded AddPage(int site, std::u16string_view address, const AddRequest& options);
  int FindEHFirstPage(char16_t* address);
  int AddEHTask(const char16_t* address, const AddRequest& options);
  int FindDMZJFirstChapter(char16_t* address);
  int AddDMZJTask(char16_t* address, const AddRequest& options);
  int AddDMZJTaskChain(char16_t* address, const AddRequest& options);

  // Ends the add thread: what is queued is dropped. Join after the transfers were cancelled.
  void Stop();
  void Join();

 private:
  // The reading of one page, without its task made yet.
  struct PageRead {
    std::optional<TaskDraft> draft;
    std::optional<std::u16string> next;
    std::optional<FailureReason> failure;
  };
  // A chain's page held back until the user has said which to make.
  struct HeldPage {
    TaskDraft draft;
    bool before = false;
    std::u16string source;  // the address its folder is claimed for (empty: its own)
  };
  void AddThread();
  void RunAdd(const AddRequest& request);
  int AddChain(const SiteAdapter& site, std::u16string address, const AddRequest& request,
               PageReader& reader, std::optional<FailureReason>& failure);
  PageRead ReadTaskPage(const SiteAdapter& site, std::u16string_view address, PageReader& reader);
  // Claims the folder of `draft` and registers its task. False when no task was made.
  bool MakeTask(const SiteAdapter& site, const TaskDraft& draft, const AddRequest& options,
                std::u16string_view sourceAddress = {});
  int MakeHeld(const SiteAdapter& site, const std::vector<HeldPage>& held,
               const std::vector<DownloadedBefore>& before, int total, const AddRequest& options);
  std::optional<DownloadedBefore> DownloadedEarlier(const SiteAdapter& site,
                                                    std::u16string_view address) const;
  void RunUpdateCheck(const AddRequest& request);
  int CheckComic(const SiteAdapter& site, FollowedComic& comic, const AddRequest& request,
                 PageReader& reader, std::optional<FailureReason>& failure);

  const EngineShared& m_engine;
  DownloadRecord* const m_record;  // null: nothing is recorded
  const std::function<void()> m_idle;
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_skipped{0};
  std::atomic<bool> m_writeMetadata{false};

  mutable std::mutex m_mutex;  // guards the queue, m_busy and m_thread
  mutable std::condition_variable m_changed;
  std::deque<AddRequest> m_queue;
  bool m_busy = false;
  std::thread m_thread;
  std::mutex m_readMutex;              // one page reading at a time: guards m_page
  std::unique_ptr<PageBuffer> m_page;  // the add thread's; each worker has its own
};

}  // namespace pageloom
