// The seam between the logic and the main window. The Qt dialog implements it; tests
// implement it with a fake. Table and box operations are called on the window thread
// only; PostTaskRow and the UserPrompt operations may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/ban_clock.h"
#include "engine/user_prompt.h"

namespace pageloom {

class WindowPort : public UserPrompt {
 public:
  // --- task table (window thread) ---
  virtual int RowCount() const = 0;
  // Appends a row whose column 0 reads `number`; the other columns are empty.
  virtual void AppendRow(const std::u16string& number) = 0;
  virtual void SetItemText(int row, int column, const std::u16string& text) = 0;
  virtual void DeleteRow(int row) = 0;
  virtual std::u16string GetItemText(int row, int column) const = 0;
  // Indexes of the selected rows, ascending.
  virtual std::vector<int> SelectedRows() const = 0;

  // --- boxes and options (window thread) ---
  virtual std::u16string AddressText() const = 0;
  virtual void SetAddressText(const std::u16string& text) = 0;
  virtual std::u16string SaveFolderText() const = 0;
  virtual void SetSaveFolderText(const std::u16string& text) = 0;
  virtual bool AutoRenameChecked() const = 0;  // check box 1010
  virtual bool FollowNextChecked() const = 0;  // check box 1011

  // --- from any thread ---
  // Runs `work` on the window thread, later, in the order of the calls. Once the window
  // is closing, work is dropped. Never blocks.
  virtual void Post(std::function<void()> work) = 0;
  // Writes progress (column 2) and status (column 3) into the row of task `taskNo`. The
  // write is queued and carried out on the window thread, which looks up the row whose
  // column 0 reads the task number at that moment; a write for a row that is gone is
  // dropped. Never blocks.
  virtual void PostTaskRow(int taskNo, std::u16string progress, std::u16string status) = 0;
  // The picture task `taskNo` is downloading has `received` bytes so far, of `total`
  // (-1 when the server did not say). Queued like PostTaskRow; the next PostTaskRow of
  // the task ends it. Never blocks. The default shows nothing.
  virtual void PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) {
    (void)taskNo;
    (void)received;
    (void)total;
  }
  // The worker of `siteKind` stops for the site's ban, which lasts `left` more; said once
  // a ban, on the worker's thread. May block like ShowMessage. The default shows
  // "被封禁，X分钟后重试".
  virtual void ShowBan(int siteKind, std::chrono::seconds left) {
    (void)siteKind;
    ShowMessage(BannedText(static_cast<int>((left.count() + 59) / 60)));
  }
  // The worker of `siteKind` has ended its walk (WorkerRunning reads false already).
  // Never blocks. The default does nothing.
  virtual void PostWorkerEnded(int siteKind) { (void)siteKind; }
};

}  // namespace pageloom
