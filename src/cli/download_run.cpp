#include "cli/download_run.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <poll.h>

#include "base/fixed_text.h"
#include "cli/cli_texts.h"
#include "cli/signal_pipe.h"

namespace pageloom::cli {

namespace {

// Starts in a row that leave a waiting task unstepped before the run gives up on it.
constexpr int kMostStartsWithoutStep = 3;

bool SameNumbers(const TaskSnapshot& a, const TaskSnapshot& b) {
  return a.fileNumber == b.fileNumber && a.pictureCount == b.pictureCount &&
         a.missing.size() == b.missing.size();
}

}  // namespace

DownloadRun::DownloadRun(RunRequest request, ProgressView& view)
    : m_request(std::move(request)),
      m_view(view),
      m_window(*this, TerminalWindow::Boxes{m_request.saveFolder, m_request.autoRename,
                                            m_request.followNext}),
      m_controller(std::make_unique<TaskController>(m_window, m_request.settings)) {
  if (m_request.jsonOut != nullptr) m_json.emplace(m_request.jsonOut);
  m_controller->SetSaveCbz(m_request.saveCbz);
  m_controller->SetWriteMetadata(m_request.writeMetadata);
}

DownloadRun::~DownloadRun() {
  m_window.BeginClosing();
  m_controller.reset();
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
  const std::string end = StatusWord(now) + "\n" + ProgressText(now);
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

void DownloadRun::OnMessage(const Message& message) {
  m_view.Message(FromUtf8("pageloom-cli: " + MessageText(message)));
  if (m_json) m_json->Message(MessageText(message));
}

void DownloadRun::OnBan(int siteKind, std::chrono::seconds left) {
  std::string site = "the site";
  for (const auto& adapter : m_controller->Sites())
    if (adapter->Kind() == siteKind) site = ToUtf8(adapter->Name());
  const long long minutes = (left.count() + 59) / 60;
  const std::optional<std::chrono::seconds> wait = m_request.settings.longestBanWait;
  if (!wait || left <= *wait) {
    m_view.Message(FromUtf8("pageloom-cli: banned by " + std::string(site) + ", retry in " +
                            std::to_string(minutes) + " min: waiting for the ban to end"));
    return;
  }
  const std::time_t ends = std::time(nullptr) + static_cast<std::time_t>(left.count());
  std::tm local{};
  char when[32] = "?";
  if (localtime_r(&ends, &local) != nullptr)
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local);
  m_view.Message(FromUtf8("pageloom-cli: banned by " + std::string(site) + " until " + when + " (" +
                          std::to_string(minutes) + " min): the run ends"));
  m_bannedTooLong = true;
}

// --- the run ---

bool DownloadRun::Prepare() {
  if (m_controller->Queue() == QueueState::kInUse) {
    m_view.Message(FromUtf8("pageloom-cli: another pageloom-cli is using the queue in " +
                            m_request.settings.dataFolder.string()));
    return false;
  }
  if (m_request.cookieFile) {
    const TaskController::CookieImport import =
        m_controller->ImportCookiesFrom(*m_request.cookieFile);
    if (import.reading.status != CookieFileStatus::kRead) {
      m_view.Message(
          FromUtf8("pageloom-cli: cannot read the cookies file " + *m_request.cookieFile));
      return false;
    }
    if (import.reading.skipped > 0)
      m_view.Message(FromUtf8("pageloom-cli: " + std::to_string(import.reading.added) +
                              " cookies read, " + std::to_string(import.reading.skipped) +
                              " lines of " + *m_request.cookieFile + " skipped"));
    if (import.reading.dropped > 0)
      m_view.Message(FromUtf8("pageloom-cli: " + std::to_string(import.reading.dropped) +
                              " older cookies dropped over the limits (" +
                              std::to_string(kMaxCookiesPerDomain) + " a domain, " +
                              std::to_string(kMaxCookies) + " in all)"));
  }
  return true;
}

void DownloadRun::QueueNextAdd() {
  while (!m_addInFlight && m_nextAddress < m_request.addresses.size()) {
    const std::string& address = m_request.addresses[m_nextAddress++];
    AddRequest request;
    request.address = FromUtf8(address);
    request.saveFolder = m_request.saveFolder;
    request.autoRename = m_request.autoRename;
    request.followNext = m_request.followNext;
    if (request.address.size() > kUrlCapacity - 1) {
      m_view.Message(FromUtf8("pageloom-cli: an address longer than " +
                              std::to_string(kUrlCapacity - 1) + " characters is no address"));
      AddressFailed({address.substr(0, 80) + "...", "too long"}, std::nullopt);
      continue;
    }
    if (m_controller->AdapterFor(request.address) == nullptr) {
      const std::string text = MessageText(Message{MessageKind::kUnsupportedSite, {}});
      m_view.Message(FromUtf8("pageloom-cli: " + text + ": " + address));
      AddressFailed({address, text}, std::nullopt);
      continue;
    }
    m_addResult.reset();
    m_addAddress = address;
    m_addInFlight = m_controller->QueueAdd(std::move(request));
    if (!m_addInFlight) AddressFailed({address, "not added"}, std::nullopt);
  }
}

void DownloadRun::FinishAdd() {
  m_addInFlight = false;
  // Its end was posted before the add thread said it was idle, so it has been heard.
  if (m_addResult && m_addResult->tasksMade > 0) return;
  const FailureReason reason = m_addResult && m_addResult->failure
                                   ? *m_addResult->failure
                                   : FailureReason{FailureKind::kUnreadablePage, 0};
  m_view.Message(FromUtf8("pageloom-cli: no task was added for " + m_addAddress));
  AddressFailed({m_addAddress, "cannot read the gallery page: " + ReasonText(reason)}, reason);
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
  // Only the idle sites' workers: a running one is not sent round its walk again.
  for (const int site : needed) m_controller->StartSite(site);
  return true;
}

DownloadRun::Running DownloadRun::WorkersRunning() const {
  Running running;
  for (const auto& site : m_controller->Sites())
    running[site->Kind()] = m_controller->WorkerRunning(site->Kind());
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
    const bool addBusy = m_addInFlight && m_controller->AddsPending();
    const Running running = WorkersRunning();
    m_window.RunEvents();
    if (m_addInFlight && !addBusy) FinishAdd();
    QueueNextAdd();
    const bool started = StartIfNeeded(running);
    m_view.Refresh(m_window.Table());
    if (m_bannedTooLong) break;
    const bool anyRunning =
        std::any_of(running.begin(), running.end(), [](const auto& site) { return site.second; });
    if (!m_addInFlight && !anyRunning && !started && !TasksWaiting()) break;
    const int timeoutMs = m_addInFlight ? 50 : m_view.Live() ? 100 : 1000;
    if (const int signal = Wait(signals, timeoutMs)) return End(signal);
  }
  return End(0);
}

std::vector<TaskResult> DownloadRun::Results() const {
  std::vector<TaskResult> results;
  for (const TaskTable::Row& row : m_window.Table().Rows()) {
    const std::shared_ptr<Comic> task = m_controller->FindTask(row.taskNo);
    if (!task) continue;
    // The workers are joined: the task's own values are the last word.
    const TaskSnapshot snapshot = task->Snapshot();
    TaskResult result;
    result.taskNo = row.taskNo;
    result.title = m_view.TitleOf(row.folder);
    result.folder = row.folder;
    result.status = FromUtf8(StatusWord(snapshot));
    result.progress = FromUtf8(ProgressText(snapshot));
    result.finished = snapshot.status == TaskStatus::kFinished;
    for (const MissingFile& missing : snapshot.missing)
      result.missing.push_back(missing.fileName + FromUtf8(": " + ReasonText(missing.reason)));
    if (snapshot.missing.empty() && !result.finished && snapshot.lastError)
      result.missing.push_back(FromUtf8("last failure: " + ReasonText(*snapshot.lastError)));
    results.push_back(std::move(result));
  }
  return results;
}

int DownloadRun::End(int signal) {
  if (signal != 0) m_view.Message(u"pageloom-cli: stopping: the downloads in flight are cancelled");
  // As when the window closes: nothing more reaches the table, the transfers end, the
  // threads are joined. What they still had to say is said.
  m_window.BeginClosing();
  m_controller->Shutdown();
  m_window.RunEvents();
  m_view.Finish();

  const std::vector<TaskResult> results = Results();
  if (signal == 0 && !m_request.settings.dataFolder.empty()) {
    // A lasting queue keeps what is still to do; finished tasks leave it, together.
    std::vector<int> finished;
    for (const TaskResult& result : results)
      if (result.finished) finished.push_back(result.taskNo);
    m_controller->RemoveTasks(finished);
  }
  const Summary summary = Summarize(results, m_failedAddresses, signal != 0);
  for (const std::string& line : summary.lines) m_view.Line(line);
  const int status = signal != 0                         ? SignalPipe::ExitStatusFor(signal)
                     : summary.whole && !m_bannedTooLong ? 0
                                                         : 1;
  if (m_json) {
    int finished = 0;
    for (const TaskResult& result : results) finished += result.finished ? 1 : 0;
    m_json->RunEnded(status, static_cast<int>(results.size()), finished,
                     static_cast<int>(m_failedAddresses.size()), signal != 0);
  }
  return status;
}

}  // namespace pageloom::cli
