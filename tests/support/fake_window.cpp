#include "support/fake_window.h"

#include <string>

namespace pageloom::test {

int FakeWindow::RowCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_rows.size());
}

void FakeWindow::AppendRow(const std::u16string& number) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rows.push_back(Row{number, u"", u"", u""});
    m_selected.push_back(false);
  }
  Changed();
}

void FakeWindow::SetItemText(int row, int column, const std::u16string& text) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column > 3) return;
    m_rows[row][column] = text;
  }
  Changed();
}

void FakeWindow::DeleteRow(int row) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return;
    m_rows.erase(m_rows.begin() + row);
    m_selected.erase(m_selected.begin() + row);
  }
  Changed();
}

std::u16string FakeWindow::GetItemText(int row, int column) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column > 3) return {};
  return m_rows[row][column];
}

std::vector<int> FakeWindow::SelectedRows() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<int> rows;
  for (std::size_t i = 0; i < m_selected.size(); ++i)
    if (m_selected[i]) rows.push_back(static_cast<int>(i));
  return rows;
}

std::u16string FakeWindow::AddressText() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_address;
}

void FakeWindow::SetAddressText(const std::u16string& text) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_address = text;
  }
  Changed();
}

std::u16string FakeWindow::SaveFolderText() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_saveFolder;
}

void FakeWindow::SetSaveFolderText(const std::u16string& text) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_saveFolder = text;
  }
  Changed();
}

bool FakeWindow::AutoRenameChecked() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_autoRename;
}

bool FakeWindow::FollowNextChecked() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_followNext;
}

void FakeWindow::Post(std::function<void()> work) { work(); }

void FakeWindow::PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pictureProgress.push_back({taskNo, received, total});
}

std::vector<FakeWindow::PictureBytes> FakeWindow::PictureProgress() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pictureProgress;
}

std::vector<FakeWindow::RowPost> FakeWindow::RowPosts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_rowPosts;
}

void FakeWindow::PostTaskRow(int taskNo, std::u16string progress, std::u16string status) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rowPosts.push_back({taskNo, progress, status});
    const std::u16string number = [&] {
      const std::string s = std::to_string(taskNo);
      return std::u16string(s.begin(), s.end());
    }();
    for (auto& row : m_rows) {
      if (row[0] == number) {
        row[2] = std::move(progress);
        row[3] = std::move(status);
        break;
      }
    }
  }
  Changed();
}

void FakeWindow::ShowMessage(std::u16string_view text) {
  std::function<void(std::u16string_view)> hook;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.emplace_back(text);
    hook = m_messageHook;
  }
  Changed();
  if (hook) hook(text);
}

std::optional<std::u16string> FakeWindow::PickFolder(std::u16string_view title) {
  std::optional<std::u16string> answer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pickerTitles.emplace_back(title);
    if (!m_pickerAnswers.empty()) {
      answer = std::move(m_pickerAnswers.front());
      m_pickerAnswers.pop_front();
    }
  }
  Changed();
  return answer;
}

void FakeWindow::SetAutoRename(bool on) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_autoRename = on;
}

void FakeWindow::SetFollowNext(bool on) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_followNext = on;
}

void FakeWindow::Select(std::vector<int> rows) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_selected.assign(m_rows.size(), false);
    for (int r : rows)
      if (r >= 0 && r < static_cast<int>(m_selected.size())) m_selected[r] = true;
  }
  Changed();
}

std::vector<FakeWindow::Row> FakeWindow::Rows() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_rows;
}

FakeWindow::Row FakeWindow::RowAt(int row) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (row < 0 || row >= static_cast<int>(m_rows.size())) return Row{};
  return m_rows[row];
}

std::vector<std::u16string> FakeWindow::Messages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_messages;
}

std::vector<std::u16string> FakeWindow::PickerTitles() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pickerTitles;
}

void FakeWindow::QueuePickerAnswer(std::optional<std::u16string> answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pickerAnswers.push_back(std::move(answer));
}

void FakeWindow::SetMessageHook(std::function<void(std::u16string_view)> hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_messageHook = std::move(hook);
}

bool FakeWindow::WaitFor(const std::function<bool(const FakeWindow&)>& done,
                         std::chrono::milliseconds timeout) const {
  // `done` reads through the public accessors, which lock, so it runs unlocked; the
  // change counter makes sure no change between two looks is missed.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      seen = m_version;
    }
    if (done(*this)) return true;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_until(lock, deadline, [&] { return m_version != seen; })) {
      lock.unlock();
      return done(*this);
    }
  }
}

std::optional<FakeWindow::Row> FakeWindow::TaskRowLocked(int taskNo) const {
  const std::string s = std::to_string(taskNo);
  const std::u16string number(s.begin(), s.end());
  for (const auto& row : m_rows)
    if (row[0] == number) return row;
  return std::nullopt;
}

std::optional<FakeWindow::Row> FakeWindow::TaskRow(int taskNo) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return TaskRowLocked(taskNo);
}

void FakeWindow::Changed() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_version;
  }
  m_cv.notify_all();
}

}  // namespace pageloom::test
