#include "support/fake_window.h"

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <variant>

#include "base/fixed_text.h"

namespace pageloom::test {

TaskSnapshot MakeSnapshot(TaskStatus status, int fileNumber, int pictureCount, int missing) {
  TaskSnapshot snapshot;
  snapshot.status = status;
  snapshot.fileNumber = fileNumber;
  snapshot.pictureCount = pictureCount;
  for (int i = 0; i < missing; ++i) {
    const std::string name = std::to_string(i + 1) + ".jpg";
    snapshot.missing.push_back(
        MissingFile{std::u16string(name.begin(), name.end()), {FailureKind::kHttpStatus, 404}});
  }
  return snapshot;
}

int FakeWindow::RowCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_rows.size());
}

std::u16string FakeWindow::MessageText(const Message& message) {
  const std::u16string arg = message.args.empty() ? std::u16string() : message.args.front();
  switch (message.kind) {
    case MessageKind::kEnterAddress:
      return u"请输入网址";
    case MessageKind::kUnsupportedSite:
      return u"暂时不支持该网站漫画下载";
    case MessageKind::kInvalidFolder:
      return u"无效的目录，请重新选择";
    case MessageKind::kSelectRows:
      return u"请选择至少一行数据";
    case MessageKind::kWorkerNotStarted:
      return u"创建" + arg + u"下载线程失败";
    case MessageKind::kLimitReached:
      return u"已到达下载上限。请清空cookie，换IP后重试。";
    case MessageKind::kLoginNeeded:
      return u"解析网址失败，可能由于已经过了9点，需要登录才能下载。请到e绅士论坛注册并用ie登录后重"
             u"试";
    case MessageKind::kPickSaveFolder:
      return u"请选择漫画下载目录：";
    case MessageKind::kFolderNotCreated:
      return u"创建文件夹失败，请手动选择漫画保存文件夹：" + arg;
    case MessageKind::kQueueUnavailable:
      return u"无法打开任务队列文件，本次添加的任务不会被保存。";
    case MessageKind::kQueueSetAside:
      return u"任务队列文件已损坏，已另存为：" + arg;
    case MessageKind::kPackFailed:  // the archive, and the refusal by its number
      return u"无法打包：" + arg + u" " + (message.args.size() > 1 ? message.args[1] : u"");
    case MessageKind::kScriptsUnsafe:
      return u"本系统不能隔离页面脚本（不支持seccomp），无法读取DMZJ漫画的图片列表，这些章节将保持“"
             u"准备中”"
             u"。";
    case MessageKind::kBanned:
      return u"被封禁，" + arg + u"分钟后重试";
    case MessageKind::kPathTooLong:
      return u"文件路径过长，图片未保存：" + arg;
    case MessageKind::kTaskFolderNotMade:
      return u"无法创建任务文件夹，任务未添加：" + arg;
    case MessageKind::kDataFolderNotMade:
      return u"无法创建数据文件夹或锁文件，本次添加的任务不会被保存：" + arg +
             (message.args.size() > 1 ? u" (" + message.args[1] + u")" : std::u16string());
    case MessageKind::kQueueSaveFailing:
      return u"任务进度无法保存到任务队列文件，将在下一步重试：" + arg;
    case MessageKind::kQueueSavingAgain:
      return u"任务进度又能保存到任务队列文件了。";
    case MessageKind::kCannotOpenFolder:
      return u"无法打开文件夹：" + arg;
    case MessageKind::kCheckedRecently:
      return u"10分钟内检查过，这次未检查：" + arg;
    case MessageKind::kRecordUnavailable:
      return u"无法打开下载记录，本次下载不会被记录：" + arg;
  }
  return u"?";
}

std::u16string FakeWindow::StatusText(const TaskSnapshot& snapshot) {
  switch (snapshot.status) {
    case TaskStatus::kPreparing:
      return snapshot.scriptsBlocked ? u"准备中（无法安全运行页面脚本）" : u"准备中";
    case TaskStatus::kWaiting:
      return u"等待中";
    case TaskStatus::kDownloading:
      return u"下载中";
    case TaskStatus::kPaused:
      return u"暂停中";
    case TaskStatus::kFinished:
      return u"已完成";
    case TaskStatus::kIncomplete: {
      if (snapshot.missing.empty()) return u"未完成";
      const std::string n = std::to_string(snapshot.missing.size());
      return u"未完成，缺" + std::u16string(n.begin(), n.end()) + u"张";
    }
    case TaskStatus::kBanned: {
      const std::string n = std::to_string(snapshot.banMinutes);
      return u"被封禁，" + std::u16string(n.begin(), n.end()) + u"分钟后重试";
    }
    case TaskStatus::kUnknown:
      break;
  }
  return u"未知";
}

std::u16string FakeWindow::ProgressText(const TaskSnapshot& snapshot) {
  const std::string text =
      std::to_string(snapshot.fileNumber) + "/" + std::to_string(snapshot.ShownCount());
  return std::u16string(text.begin(), text.end()).substr(0, 19);
}

std::vector<int> FakeWindow::SelectedTasks() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<int> tasks;
  for (std::size_t i = 0; i < m_selected.size(); ++i) {
    if (!m_selected[i]) continue;
    const std::string number(m_rows[i][0].begin(), m_rows[i][0].end());
    tasks.push_back(std::stoi(number));
  }
  return tasks;
}

void FakeWindow::RemoveRowLocked(int taskNo) {
  const std::string s = std::to_string(taskNo);
  for (std::size_t i = 0; i < m_rows.size(); ++i) {
    if (m_rows[i][0] != std::u16string(s.begin(), s.end())) continue;
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(i));
    m_snapshots.erase(m_snapshots.begin() + static_cast<std::ptrdiff_t>(i));
    m_selected.erase(m_selected.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

void FakeWindow::Publish(TaskEvent event) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(event);
    if (const auto* added = std::get_if<TaskAdded>(&event)) {
      const std::string s = std::to_string(added->no);
      m_rows.push_back(Row{std::u16string(s.begin(), s.end()), added->folder,
                           ProgressText(added->snapshot), StatusText(added->snapshot)});
      m_snapshots.push_back(added->snapshot);
      m_selected.push_back(false);
    } else if (const auto* changed = std::get_if<TaskChanged>(&event)) {
      const std::u16string progress = ProgressText(changed->snapshot);
      const std::u16string status = StatusText(changed->snapshot);
      m_rowPosts.push_back({changed->no, progress, status});
      const std::string s = std::to_string(changed->no);
      for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i][0] != std::u16string(s.begin(), s.end())) continue;
        m_rows[i][2] = progress;
        m_rows[i][3] = status;
        m_snapshots[i] = changed->snapshot;
        break;
      }
    } else if (const auto* removed = std::get_if<TaskRemoved>(&event)) {
      RemoveRowLocked(removed->no);
    } else if (const auto* many = std::get_if<TasksRemoved>(&event)) {
      std::set<std::u16string> gone;
      for (const int no : many->nos) gone.insert(FromUtf8(std::to_string(no)));
      std::size_t kept = 0;
      for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (gone.count(m_rows[i][0]) != 0) continue;
        if (kept != i) {
          m_rows[kept] = std::move(m_rows[i]);
          m_snapshots[kept] = std::move(m_snapshots[i]);
          m_selected[kept] = m_selected[i];
        }
        ++kept;
      }
      m_rows.resize(kept);
      m_snapshots.resize(kept);
      m_selected.resize(kept);
    } else if (const auto* moved = std::get_if<TaskMoved>(&event)) {
      const std::u16string no = FromUtf8(std::to_string(moved->no));
      for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i][0] != no || moved->row < 0 || moved->row >= static_cast<int>(m_rows.size()))
          continue;
        const auto to = static_cast<std::size_t>(moved->row);
        const auto shift = [i, to](auto& items) {
          if (to < i)
            std::rotate(items.begin() + to, items.begin() + i, items.begin() + i + 1);
          else
            std::rotate(items.begin() + i, items.begin() + i + 1, items.begin() + to + 1);
        };
        shift(m_rows);
        shift(m_snapshots);
        shift(m_selected);
        break;
      }
    }
  }
  Changed();
}

void FakeWindow::PostAddEnded(std::u16string address, int tasksMade,
                              std::optional<FailureReason> failure) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_addEnds.push_back(AddEnd{std::move(address), tasksMade, failure});
  }
  Changed();
}

std::vector<TaskEvent> FakeWindow::Events() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_events;
}

std::optional<TaskSnapshot> FakeWindow::SnapshotOf(int taskNo) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string s = std::to_string(taskNo);
  for (std::size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i][0] == std::u16string(s.begin(), s.end())) return m_snapshots[i];
  return std::nullopt;
}

std::vector<FakeWindow::AddEnd> FakeWindow::AddEnds() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_addEnds;
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

AddRequest FakeWindow::Options() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  AddRequest options;
  options.saveFolder = m_saveFolder;
  options.autoRename = m_autoRename;
  options.followNext = m_followNext;
  return options;
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

void FakeWindow::ShowMessage(const Message& message) {
  const std::u16string text = MessageText(message);
  std::function<void(std::u16string_view)> hook;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.emplace_back(text);
    hook = m_messageHook;
  }
  Changed();
  if (hook) hook(text);
}

std::optional<std::u16string> FakeWindow::PickFolder(const Message& title) {
  std::optional<std::u16string> answer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pickerTitles.emplace_back(MessageText(title));
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

bool WaitForAdds(const Adder& adding, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (adding.Pending()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace pageloom::test
