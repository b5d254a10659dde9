#include "cli/download_run.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <poll.h>

#include "base/fixed_text.h"
#include "cli/signal_pipe.h"

namespace pageloom::cli {

namespace {

constexpr char16_t kUnsupported[] = u"暂时不支持该网站漫画下载";
// Starts in a row that leave a waiting task unstepped before the run gives up on it.
constexpr int kMostStartsWithoutStep = 3;

bool StartsWith(std::u16string_view text, std::u16string_view start) {
  return text.substr(0, start.size()) == start;
}

// A status of a task whose walk ended with all its pictures tried.
bool EndStatus(std::u16string_view status) {
  return StartsWith(status, Comic::StateText(STATE_FINISHED)) ||
         StartsWith(status, Comic::StateText(STATE_INCOMPLETE));
}

}  // namespace

DownloadRun::DownloadRun(RunRequest request, ProgressView& view)
    : m_request(std::move(request)),
      m_view(view),
      m_window(*this, TerminalWindow::Boxes{m_request.saveFolder, m_request.autoRename,
                                            m_request.followNext}),
      m_controller(std::make_unique<TaskController>(m_window, m_request.settings)) {
  m_controller->SetSaveCbz(m_request.saveCbz);
  m_controller->SetWriteMetadata(m_request.writeMetadata);
}

DownloadRun::~DownloadRun() {
  m_window.BeginClosing();
  m_controller.reset();
}

// --- what the window hears ---

void DownloadRun::OnTaskStep(int taskNo, const std::u16string& before,
                             const std::u16string& progress, const std::u16string& status) {
  m_stepped.insert(taskNo);
  m_startsWithoutStep = 0;
  const int row = m_window.Table().RowOfTask(taskNo);
  if (row < 0) return;
  const TaskTable::Row& shown = m_window.Table().Rows()[static_cast<std::size_t>(row)];
  const bool downloading = status == Comic::StateText(STATE_DOWNLOADING);
  // Every step that goes on handled a picture; so did the last page of a gallery, which
  // ends its walk and counts one more.
  if (downloading || (EndStatus(status) && before != progress)) m_view.PictureDone(shown);
  if (downloading) {
    m_endSeen.erase(taskNo);
    return;
  }
  // The worker has gone on from the task: say how it stands, once.
  const std::u16string end = status + u'\n' + progress;
  auto [seen, fresh] = m_endSeen.emplace(taskNo, end);
  if (!fresh && seen->second == end) return;
  seen->second = end;
  m_view.TaskEnded(shown);
}

void DownloadRun::OnPictureBytes(int taskNo, std::uint64_t received, std::int64_t total) {
  m_view.Bytes(taskNo, received, total);
}

void DownloadRun::OnWorkerEnded(int siteKind) {
  (void)siteKind;  // the main loop looks at the workers after every batch of events
}

void DownloadRun::OnMessage(std::u16string_view text) { m_view.Message(text); }

void DownloadRun::OnBan(int siteKind, std::chrono::seconds left) {
  const char* site = siteKind == SITE_DMZJ ? "DMZJ" : "EH";
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
      m_failedAddresses.push_back({address.substr(0, 80) + "...", "too long"});
      continue;
    }
    if (m_controller->AdapterFor(request.address) == nullptr) {
      m_view.Message(kUnsupported + (u": " + request.address));
      m_failedAddresses.push_back({address, ToUtf8(kUnsupported)});
      continue;
    }
    m_rowsBeforeAdd = m_window.RowCount();
    m_addAddress = address;
    m_addInFlight = m_controller->QueueAdd(std::move(request));
    if (!m_addInFlight) m_failedAddresses.push_back({address, "not added"});
  }
}

void DownloadRun::FinishAdd() {
  m_addInFlight = false;
  // Its tasks were registered before the add ended, so their rows are there by now.
  if (m_window.RowCount() > m_rowsBeforeAdd) return;
  m_view.Message(FromUtf8("pageloom-cli: no task was added for " + m_addAddress));
  m_failedAddresses.push_back({m_addAddress, "no task (the page could not be read or understood)"});
}

bool DownloadRun::TasksWaiting() const {
  if (m_startGivenUp) return false;
  for (const TaskTable::Row& row : m_window.Table().Rows())
    if (m_stepped.count(std::atoi(ToUtf8(row[0]).c_str())) == 0) return true;
  return false;
}

bool DownloadRun::StartIfNeeded(Running running) {
  if (m_startGivenUp) return false;
  bool neededEh = false;
  bool neededDmzj = false;
  for (const TaskTable::Row& row : m_window.Table().Rows()) {
    const int taskNo = std::atoi(ToUtf8(row[0]).c_str());
    if (m_stepped.count(taskNo) != 0) continue;
    const std::shared_ptr<Comic> task = m_controller->FindTask(taskNo);
    if (!task) continue;
    // A running worker reaches the task, or ends and is started again here.
    if (task->GetSiteKind() == SITE_DMZJ)
      neededDmzj = neededDmzj || !running.dmzj;
    else
      neededEh = neededEh || !running.eh;
  }
  if (!neededEh && !neededDmzj) return false;
  if (m_startsWithoutStep >= kMostStartsWithoutStep) {
    m_startGivenUp = true;  // said by the controller already: the threads cannot be made
    return false;
  }
  ++m_startsWithoutStep;
  // Only the idle site's worker: a running one is not sent round its walk again.
  if (neededEh) m_controller->StartSite(SITE_EH);
  if (neededDmzj) m_controller->StartSite(SITE_DMZJ);
  return true;
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
    const Running running{m_controller->WorkerRunning(SITE_EH),
                          m_controller->WorkerRunning(SITE_DMZJ)};
    m_window.RunEvents();
    if (m_addInFlight && !addBusy) FinishAdd();
    QueueNextAdd();
    const bool started = StartIfNeeded(running);
    m_view.Refresh(m_window.Table());
    if (m_bannedTooLong) break;
    if (!m_addInFlight && !running.eh && !running.dmzj && !started && !TasksWaiting()) break;
    const int timeoutMs = m_addInFlight ? 50 : m_view.Live() ? 100 : 1000;
    if (const int signal = Wait(signals, timeoutMs)) return End(signal);
  }
  return End(0);
}

std::vector<TaskResult> DownloadRun::Results() const {
  std::vector<TaskResult> results;
  for (const TaskTable::Row& row : m_window.Table().Rows()) {
    TaskResult result;
    result.taskNo = std::atoi(ToUtf8(row[0]).c_str());
    result.title = m_view.TitleOf(row[1]);
    result.folder = row[1];
    const std::shared_ptr<Comic> task = m_controller->FindTask(result.taskNo);
    if (!task) continue;
    result.status = task->StatusText();
    result.progress = task->ProgressText();
    result.finished = task->GetState() == STATE_FINISHED;
    for (const MissingPicture& missing : task->Missing())
      result.missing.push_back(missing.reason.empty()
                                   ? missing.fileName
                                   : missing.fileName + u" (" + missing.reason + u")");
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
    // A lasting queue keeps what is still to do; finished tasks leave it.
    for (const TaskResult& result : results)
      if (result.finished)
        m_controller->RemoveTask(m_window.Table().RowOfTask(result.taskNo), result.taskNo);
  }
  const Summary summary = Summarize(results, m_failedAddresses, signal != 0);
  for (const std::string& line : summary.lines) m_view.Line(line);
  if (signal != 0) return SignalPipe::ExitStatusFor(signal);
  return summary.whole && !m_bannedTooLong ? 0 : 1;
}

}  // namespace pageloom::cli
