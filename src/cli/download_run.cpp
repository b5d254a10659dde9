#include "cli/download_run.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <poll.h>

#include "base/fixed_text.h"
#include "cli/cli_texts.h"
#include "cli/signal_pipe.h"
#include "cli/terminal_text.h"
#include "store/download_record.h"

namespace pageloom::cli {

namespace {

// Starts in a row that leave a waiting task unstepped before the run gives up on it.
constexpr int kMostStartsWithoutStep = 3;

bool SameNumbers(const TaskSnapshot& a, const TaskSnapshot& b) {
  return a.fileNumber == b.fileNumber && a.pictureCount == b.pictureCount &&
         a.missing.size() == b.missing.size();
}

}  // namespace

DownloadRun::DownloadRun(TaskController& engine, RunRequest request, ProgressView& view)
    : m_request(std::move(request)),
      m_view(view),
      m_json(m_request.jsonOut != nullptr
                 ? std::make_optional<JsonEvents>(m_request.jsonOut, m_request.language)
                 : std::nullopt),
      m_window(*this),
      m_controller(engine) {
  // The queue's tasks come in as the window is attached.
  m_controller.Attach(m_window);
  m_controller.SetSaveCbz(m_request.saveCbz);
  m_controller.SetWriteMetadata(m_request.writeMetadata);
}

DownloadRun::~DownloadRun() {
  m_window.BeginClosing();
  m_controller.Shutdown();
  m_controller.Detach();
}

// --- what the window hears ---

void DownloadRun::OnTaskAdded(const TaskTable::Row& row) {
  if (m_json) m_json->TaskAdded(row);  // the human display shows it once a worker takes it
  if (m_stepped.count(row.taskNo) == 0) ++m_unstepped[row.snapshot.siteKind];
}

void DownloadRun::OnTaskChanged(const TaskSnapshot& before, const TaskTable::Row& row) {
  if (m_json) m_json->TaskChanged(before, row);
  if (m_stepped.insert(row.taskNo).second) --m_unstepped[row.snapshot.siteKind];
  m_startsWithoutStep = 0;
  const TaskSnapshot& now = row.snapshot;
  const bool downloading = now.status == TaskStatus::kDownloading;
  // A step that goes on handled a picture; so did the last page of a gallery, which ends
  // its walk and counts one more. Being taken by a worker handles none.
  const bool stepped = before.status == TaskStatus::kDownloading;
  if (stepped && (downloading || !SameNumbers(before, now))) m_view.PictureDone(row);
  if (downloading) {
    m_endSeen.erase(row.taskNo);
    m_view.TaskResumed(row.taskNo);
    return;
  }
  // The worker has gone on from the task: say how it stands, once.
  const std::string end = StatusWord(now, UiLanguage::kEnglish) + "\n" + ProgressText(now);
  auto [seen, fresh] = m_endSeen.emplace(row.taskNo, end);
  if (!fresh && seen->second == end) return;
  seen->second = end;
  m_view.TaskEnded(row);
}

void DownloadRun::OnAddEnded(const std::u16string& address, int tasksMade,
                             const std::optional<FailureReason>& failure) {
  (void)address;
  m_addResult = AddResult{tasksMade, failure};
}

void DownloadRun::OnPictureBytes(int taskNo, std::uint64_t received, std::int64_t total) {
  m_view.Bytes(taskNo, received, total);
}

void DownloadRun::OnWorkerEnded(int siteKind) {
  (void)siteKind;  // the main loop looks at the workers after every batch of events
}

void DownloadRun::OnDownloadedBefore(const std::vector<DownloadedBefore>& before) {
  for (const DownloadedBefore& task : before) {
    const std::string date = RecordDate(task.when);
    m_view.Line("already downloaded: " + ToUtf8(Printable(task.title)) + " (" + date + ")");
    if (m_json) m_json->Skipped(ToUtf8(task.address), ToUtf8(task.title), date);
  }
}

void DownloadRun::OnNewChapters(const std::u16string& comic, int count) {
  m_view.Line(ToUtf8(Printable(comic)) + ": " + std::to_string(count) + " new chapters");
  if (m_json) m_json->NewChapters(ToUtf8(comic), count);
}

void DownloadRun::OnMessage(const Message& message) {
  m_view.Message(FromUtf8("pageloom-cli: " + MessageText(message, m_request.language)));
  if (m_json) m_json->Message(MessageText(message, m_request.language));
}

void DownloadRun::OnRunEnded(const RunEnded& ended) {
  m_runOpen = false;
  m_runEnded = ended;
}

void DownloadRun::OnBan(int siteKind, std::chrono::seconds left) {
  std::string site = Say(m_request.language, "the site", "网站");
  for (const auto& adapter : m_controller.Sites().All())
    if (adapter->Kind() == siteKind) site = ToUtf8(adapter->Name());
  const long long minutes = (left.count() + 59) / 60;
  const std::optional<std::chrono::seconds> wait = m_request.settings.longestBanWait;
  if (!wait || left <= *wait) {
    m_view.Message(FromUtf8(
        "pageloom-cli: " +
        Say(m_request.language, "banned by %1, retry in %2 min: waiting for the ban to end",
            "被%1封禁，%2分钟后重试：等待封禁结束", {site, std::to_string(minutes)})));
    return;
  }
  const std::time_t ends = std::time(nullptr) + static_cast<std::time_t>(left.count());
  std::tm local{};
  char when[32] = "?";
  if (localtime_r(&ends, &local) != nullptr)
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local);
  m_view.Message(FromUtf8("pageloom-cli: " + Say(m_request.language,
                                                 "banned by %1 until %2 (%3 min): the run ends",
                                                 "被%1封禁至%2（%3分钟）：本次运行结束",
                                                 {site, when, std::to_string(minutes)})));
  m_bannedTooLong = true;
}

// --- the run ---

bool DownloadRun::Prepare() {
  if (m_controller.Queue() == QueueState::kInUse) {
    m_view.Message(FromUtf8("pageloom-cli: " + Say(m_request.language,
                                                   "another pageloom-cli is using the queue in %1",
                                                   "另一个pageloom-cli正在使用%1中的任务队列",
                                                   {m_request.settings.dataFolder.string()})));
    return false;
  }
  if (m_request.cookieFile) {
    const TaskController::CookieImport import =
        m_controller.ImportCookiesFrom(*m_request.cookieFile);
    if (import.reading.status != CookieFileStatus::kRead) {
      m_view.Message(
          FromUtf8("pageloom-cli: " + Say(m_request.language, "cannot read the cookies file %1",
                                          "无法读取cookie文件%1", {*m_request.cookieFile})));
      return false;
    }
    if (import.reading.skipped > 0)
      m_view.Message(FromUtf8(
          "pageloom-cli: " + Say(m_request.language, "%1 cookies read, %2 lines of %3 skipped",
                                 "读取了%1个cookie，跳过了%3中的%2行",
                                 {std::to_string(import.reading.added),
                                  std::to_string(import.reading.skipped), *m_request.cookieFile})));
    if (import.reading.dropped > 0)
      m_view.Message(
          FromUtf8("pageloom-cli: " +
                   Say(m_request.language,
                       "%1 older cookies dropped over the limits (%2 a domain, %3 in all)",
                       "超出上限（每个域名%2个，总共%3个），丢弃了%1个较旧的cookie",
                       {std::to_string(import.reading.dropped),
                        std::to_string(kMaxCookiesPerDomain), std::to_string(kMaxCookies)})));
  }
  return true;
}

void DownloadRun::QueueNextAdd() {
  if (m_request.updateCheck && !m_updateQueued && !m_addInFlight) {
    m_updateQueued = true;
    AddRequest options;
    options.saveFolder = m_request.saveFolder;
    options.autoRename = m_request.autoRename;
    m_addResult.reset();
    m_addAddress.clear();  // the check, not an address
    m_addInFlight =
        m_controller.Adding().QueueUpdateCheck(std::move(options), m_request.forceCheck);
    if (!m_addInFlight) AddressFailed({"--update", "no download record to check"}, std::nullopt);
  }
  while (!m_addInFlight && m_nextAddress < m_request.addresses.size()) {
    const std::string& address = m_request.addresses[m_nextAddress++];
    AddRequest request;
    request.address = FromUtf8(address);
    request.saveFolder = m_request.saveFolder;
    request.autoRename = m_request.autoRename;
    request.followNext = m_request.followNext;
    if (request.address.size() > kUrlCapacity - 1) {
      m_view.Message(
          FromUtf8("pageloom-cli: " +
                   Say(m_request.language, "an address longer than %1 characters is no address",
                       "超过%1个字符的网址不是网址", {std::to_string(kUrlCapacity - 1)})));
      AddressFailed({address.substr(0, 80) + "...", Say(m_request.language, "too long", "过长")},
                    std::nullopt);
      continue;
    }
    if (m_controller.Sites().For(request.address) == nullptr) {
      const std::string text =
          MessageText(Message{MessageKind::kUnsupportedSite, {}}, m_request.language);
      m_view.Message(FromUtf8("pageloom-cli: " + text + ": " + address));
      AddressFailed({address, text}, std::nullopt);
      continue;
    }
    m_addResult.reset();
    m_addAddress = address;
    m_skippedBefore = m_controller.Adding().Skipped();
    m_addInFlight = m_controller.Adding().Queue(std::move(request));
    if (!m_addInFlight)
      AddressFailed({address, Say(m_request.language, "not added", "未添加")}, std::nullopt);
  }
}

void DownloadRun::FinishAdd() {
  m_addInFlight = false;
  // Its end was posted before the add thread said it was idle, so it has been heard.
  if (m_addResult && m_addResult->tasksMade > 0) return;
  if (m_addAddress.empty()) {  // the check of followed comics
    if (m_addResult && m_addResult->failure)
      AddressFailed({"--update", Say(m_request.language, "cannot read a chapter page: %1",
                                     "无法读取章节页面：%1",
                                     {ReasonText(*m_addResult->failure, m_request.language)})},
                    m_addResult->failure);
    return;
  }
  // Left out as downloaded before: nothing failed.
  if (m_addResult && !m_addResult->failure && m_controller.Adding().Skipped() > m_skippedBefore)
    return;
  const FailureReason reason = m_addResult && m_addResult->failure
                                   ? *m_addResult->failure
                                   : FailureReason{FailureKind::kUnreadablePage, 0};
  m_view.Message(FromUtf8("pageloom-cli: " + Say(m_request.language, "no task was added for %1",
                                                 "%1没有添加任务", {m_addAddress})));
  AddressFailed(
      {m_addAddress, Say(m_request.language, "cannot read the gallery page: %1",
                         "无法读取图库页面：%1", {ReasonText(reason, m_request.language)})},
      reason);
}

void DownloadRun::AddressFailed(AddressFailure failure,
                                const std::optional<FailureReason>& reason) {
  if (m_json) m_json->AddressFailed(failure.address, reason, failure.reason);
  m_failedAddresses.push_back(std::move(failure));
}

bool DownloadRun::TasksWaiting() const {
  if (m_startGivenUp) return false;
  for (const auto& site : m_unstepped)
    if (site.second > 0) return true;
  return false;
}

bool DownloadRun::StartIfNeeded(const Running& running) {
  if (m_startGivenUp) return false;
  std::set<int> needed;
  for (const auto& [siteKind, unstepped] : m_unstepped) {
    if (unstepped <= 0) continue;
    // A running worker reaches its tasks, or ends and is started again here.
    const auto worker = running.find(siteKind);
    if (worker != running.end() && !worker->second) needed.insert(siteKind);
  }
  if (needed.empty()) return false;
  if (m_startsWithoutStep >= kMostStartsWithoutStep) {
    m_startGivenUp = true;  // said by the controller already: the threads cannot be made
    return false;
  }
  ++m_startsWithoutStep;
  m_runOpen = true;  // before: a start that fails ends the run at once
  // Only the idle sites' workers: a running one is not sent round its walk again.
  for (const int site : needed) m_controller.Workers().StartSite(site);
  return true;
}

DownloadRun::Running DownloadRun::WorkersRunning() const {
  Running running;
  for (const auto& site : m_controller.Sites().All())
    running[site->Kind()] = m_controller.Workers().Running(site->Kind());
  return running;
}

int DownloadRun::Wait(const SignalPipe& signals, int timeoutMs) {
  pollfd fds[2] = {{signals.ReadFd(), POLLIN, 0}, {m_window.WakeFd(), POLLIN, 0}};
  if (m_window.WakeFd() < 0) timeoutMs = std::min(timeoutMs, 20);
  (void)poll(fds, 2, timeoutMs);
  return signals.Received();
}

int DownloadRun::Run(const SignalPipe& signals) {
  if (!Prepare()) return 1;
  for (;;) {
    // Read before the events are run: whatever an add or a worker posted before it was
    // seen to have ended is among them.
    const bool addBusy = m_addInFlight && m_controller.Adding().Pending();
    const Running running = WorkersRunning();
    m_window.RunEvents();
    if (m_addInFlight && !addBusy) FinishAdd();
    QueueNextAdd();
    const bool started = StartIfNeeded(running);
    m_view.Refresh(m_window.Table());
    if (m_bannedTooLong) break;
    // The engine says when the workers are done: RunEnded.
    if (!m_addInFlight && !m_runOpen && !started && !TasksWaiting()) break;
    const int timeoutMs = m_addInFlight ? 50 : m_view.Live() ? 100 : 1000;
    if (const int signal = Wait(signals, timeoutMs)) return End(signal);
  }
  return End(0);
}

std::vector<TaskResult> DownloadRun::Results() const {
  std::vector<TaskResult> results;
  for (const TaskTable::Row& row : m_window.Table().Rows()) {
    const std::shared_ptr<Task> task = m_controller.Tasks().Find(row.taskNo);
    if (!task) continue;
    // The workers are joined: the task's own values are the last word.
    const TaskSnapshot snapshot = task->Snapshot();
    TaskResult result;
    result.taskNo = row.taskNo;
    result.title = m_view.TitleOf(row.folder);
    result.folder = row.folder;
    result.status = FromUtf8(StatusWord(snapshot, m_request.language));
    result.progress = FromUtf8(ProgressText(snapshot));
    result.finished = snapshot.status == TaskStatus::kFinished;
    result.incomplete = snapshot.status == TaskStatus::kIncomplete;
    for (const MissingFile& missing : snapshot.missing)
      result.missing.push_back(missing.fileName +
                               FromUtf8(": " + ReasonText(missing.reason, m_request.language)));
    if (snapshot.missing.empty() && !result.finished && snapshot.lastError)
      result.missing.push_back(
          FromUtf8(Say(m_request.language, "last failure: %1", "最后一次失败：%1",
                       {ReasonText(*snapshot.lastError, m_request.language)})));
    results.push_back(std::move(result));
  }
  return results;
}

int DownloadRun::End(int signal) {
  if (signal != 0)
    m_view.Message(
        FromUtf8("pageloom-cli: " + Say(m_request.language,
                                        "stopping: the downloads in flight are cancelled",
                                        "正在停止：进行中的下载已取消")));
  // As when the window closes: nothing more reaches the table, the transfers end, the
  // threads are joined. What they still had to say is said.
  m_window.BeginClosing();
  m_controller.Shutdown();
  m_window.RunEvents();
  m_view.Finish();

  const std::vector<TaskResult> results = Results();
  if (signal == 0 && !m_request.settings.dataFolder.empty()) {
    // A lasting queue keeps what is still to do; finished tasks leave it, together.
    std::vector<int> finished;
    for (const TaskResult& result : results)
      if (result.finished) finished.push_back(result.taskNo);
    m_controller.Tasks().Remove(finished);
  }
  const Summary summary = Summarize(results, m_failedAddresses, signal != 0, m_request.language,
                                    m_controller.Adding().Skipped());
  for (const std::string& line : summary.lines) m_view.Line(line);
  const int status = signal != 0                         ? SignalPipe::ExitStatusFor(signal)
                     : summary.whole && !m_bannedTooLong ? 0
                                                         : 1;
  if (m_json) {
    // How the engine saw the tasks at the run's end; a run cut short counts them here.
    RunEnded ended;
    if (m_runEnded && signal == 0) {
      ended = *m_runEnded;
    } else {
      for (const TaskResult& result : results) {
        ++ended.tasks;
        ended.finished += result.finished ? 1 : 0;
        ended.incomplete += result.incomplete ? 1 : 0;
      }
    }
    m_json->RunEnded(status, ended, static_cast<int>(m_failedAddresses.size()), signal != 0,
                     m_controller.Adding().Skipped());
  }
  return status;
}

}  // namespace pageloom::cli
