// The main dialog as the logic's window: table and box access on the window thread, and
// the requests that other threads hand to the window thread.
#include <QCheckBox>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QStringView>
#include <QTableView>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <future>
#include <unordered_set>
#include <variant>

#include "app/task_controller.h"
#include "gui/again_question.h"
#include "gui/main_dialog.h"
#include "gui/picker_start.h"
#include "gui/status_line.h"
#include "gui/task_table_model.h"
#include "gui/tray_notifier.h"
#include "gui/ui_texts.h"

namespace pageloom {

namespace {

QString ToQString(std::u16string_view text) {
  return QStringView(text.data(), static_cast<qsizetype>(text.size())).toString();
}

}  // namespace

// A message or picker asked for from another thread. `answered` and the promise are
// guarded by the dialog's request mutex; the promise is kept exactly once.
struct CpageLoomDlg::Request {
  bool picker = false;
  Message text;
  std::function<void()> serve;  // when set: runs instead of the message box
  bool answered = false;
  std::promise<std::optional<std::u16string>> promise;
};

int CpageLoomDlg::RowCount() const { return m_model->rowCount(); }

std::vector<int> CpageLoomDlg::SelectedRows() const {
  std::vector<int> rows;
  const QItemSelectionModel* selection = m_taskList->selectionModel();
  if (selection == nullptr) return rows;
  for (const QModelIndex& index : selection->selectedRows(0)) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

std::vector<int> CpageLoomDlg::SelectedTasks() const {
  std::vector<int> tasks;
  for (const int row : SelectedRows()) tasks.push_back(m_model->TaskOfRow(row));
  return tasks;
}

std::u16string CpageLoomDlg::GetItemText(int row, int column) const {
  return m_model->Text(row, column).toStdU16String();
}

std::u16string CpageLoomDlg::AddressText() const { return m_urlEdit->text().toStdU16String(); }

void CpageLoomDlg::SetAddressText(const std::u16string& text) {
  m_urlEdit->setText(ToQString(text));
}

std::u16string CpageLoomDlg::SaveFolderText() const { return m_pathEdit->text().toStdU16String(); }

void CpageLoomDlg::SetSaveFolderText(const std::u16string& text) {
  m_pathEdit->setText(ToQString(text));
}

AddRequest CpageLoomDlg::AddOptions() const {
  AddRequest options;
  options.saveFolder = SaveFolderText();
  options.autoRename = m_autoRename != 0;
  options.followNext = m_followNext != 0;
  return options;
}

void CpageLoomDlg::Post(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(m_requestMutex);
  if (m_closing) return;
  // The dialog is the context: work still queued when it goes away is discarded.
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void CpageLoomDlg::Publish(TaskEvent event) {
  std::unique_lock<std::mutex> lock(m_requestMutex);
  if (m_closing) return;
  if (const auto* changed = std::get_if<TaskChanged>(&event)) {
    // The change supersedes the task's bytes in flight; bytes posted after it belong to
    // a new batch, shown after it.
    m_pendingBytes.erase(changed->no);
    if (m_bytesBatchQueued) {
      ++m_bytesBatch;
      m_bytesBatchQueued = false;
    }
  }
  if (OnWindowThread()) {
    lock.unlock();
    Apply(event);  // taken in at once
    return;
  }
  // The dialog is the context: an event still queued when it goes away is discarded.
  QMetaObject::invokeMethod(
      this, [this, event = std::move(event)] { Apply(event); }, Qt::QueuedConnection);
}

void CpageLoomDlg::Apply(const TaskEvent& event) {
  if (const auto* added = std::get_if<TaskAdded>(&event)) {
    m_model->AddTask(added->no, QString::fromStdU16String(added->folder), added->snapshot);
    if (!m_model->InBulk()) FitColumns(m_model->rowCount() - 1);
  } else if (const auto* changed = std::get_if<TaskChanged>(&event)) {
    const int row = m_model->RowOfTask(changed->no);
    if (row < 0) return;
    const TaskSnapshot before = m_model->SnapshotOf(row);
    m_model->SetSnapshot(changed->no, changed->snapshot);
    FitColumns(row);
    NoteStatusChange(changed->no, before.status, changed->snapshot);
    m_status->NoteChange(changed->no, before, changed->snapshot);
  } else if (const auto* removed = std::get_if<TaskRemoved>(&event)) {
    m_model->RemoveTask(removed->no);
  } else if (const auto* ended = std::get_if<RunEnded>(&event)) {
    NoteRunEnded(*ended);
  } else if (const auto* many = std::get_if<TasksRemoved>(&event)) {
    RemoveRows(many->nos);
  } else if (const auto* moved = std::get_if<TaskMoved>(&event)) {
    m_model->MoveTask(moved->no, moved->row);
  }
  m_status->SetCounts(m_model->Counts());
}

void CpageLoomDlg::RemoveRows(const std::vector<int>& taskNos) {
  const std::vector<int> selected = SelectedTasks();
  if (!m_model->RemoveTasks(taskNos)) return;
  // The model was made anew: the selected rows that stay are selected again, run by run.
  const std::unordered_set<int> gone(taskNos.begin(), taskNos.end());
  std::vector<int> rows;
  for (const int taskNo : selected) {
    const int row = gone.count(taskNo) != 0 ? -1 : m_model->RowOfTask(taskNo);
    if (row >= 0) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  QItemSelection selection;
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t end = i + 1;
    while (end < rows.size() && rows[end] == rows[end - 1] + 1) ++end;
    selection.select(m_model->index(rows[i], 0),
                     m_model->index(rows[end - 1], TaskTableModel::kColumnCount - 1));
    i = end;
  }
  if (QItemSelectionModel* model = m_taskList->selectionModel())
    model->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CpageLoomDlg::ShowMessage(const Message& message) {
  if (!OnWindowThread()) {
    Ask(false, message);
    return;
  }
  ShowText(MessageText(message));
}

AgainChoice CpageLoomDlg::AskDownloadAgain(const std::vector<DownloadedBefore>& before, int total) {
  // Read by the asking thread once the request is answered, which closing may do while
  // the question is still shown: hence atomic. The question keeps copies of its texts.
  auto choice = std::make_shared<std::atomic<AgainChoice>>(AgainChoice::kNone);
  auto ask = [this, choice, before, total] {
    choice->store(RunAgainQuestion(this, before, total));
  };
  if (!OnWindowThread()) {
    (void)Ask(false, Message{}, ask);
    return choice->load();
  }
  if (!IsClosing()) RunGuarded(ask);
  return choice->load();
}

void CpageLoomDlg::ShowAlreadyRunning() { ShowText(AlreadyRunningText()); }

std::optional<std::u16string> CpageLoomDlg::PickFolder(const Message& title) {
  if (!OnWindowThread()) return Ask(true, title);
  if (IsClosing()) return std::nullopt;
  std::optional<std::u16string> answer;
  const std::u16string shown = MessageText(title).toStdU16String();
  RunGuarded([this, &shown, &answer] { answer = m_folderPicker(shown); });
  return answer;
}

void CpageLoomDlg::SetMessageBoxHook(MessageBoxHook hook) { m_messageBox = std::move(hook); }

void CpageLoomDlg::SetFolderPickerHook(FolderPickerHook hook) { m_folderPicker = std::move(hook); }

void CpageLoomDlg::SetCookieFilePickerHook(FilePickerHook hook) { m_filePicker = std::move(hook); }

int CpageLoomDlg::PendingRequests() const {
  std::lock_guard<std::mutex> lock(m_requestMutex);
  return static_cast<int>(m_pending.size());
}

bool CpageLoomDlg::IsClosing() const {
  std::lock_guard<std::mutex> lock(m_requestMutex);
  return m_closing;
}

bool CpageLoomDlg::OnWindowThread() const { return QThread::currentThread() == thread(); }

std::optional<std::u16string> CpageLoomDlg::Ask(bool picker, const Message& text,
                                                std::function<void()> serve) {
  auto request = std::make_shared<Request>();
  request->picker = picker;
  request->text = text;
  request->serve = std::move(serve);
  std::future<std::optional<std::u16string>> answer = request->promise.get_future();
  {
    std::lock_guard<std::mutex> lock(m_requestMutex);
    if (m_closing) return std::nullopt;
    m_pending.push_back(request);
    // Posted under the lock: once closing has begun nothing more is posted, so the
    // dialog is never posted to while it is being destroyed.
    QMetaObject::invokeMethod(
        this, [this, request] { ServeRequest(request); }, Qt::QueuedConnection);
  }
  return answer.get();
}

void CpageLoomDlg::ServeRequest(const std::shared_ptr<Request>& request) {
  {
    std::lock_guard<std::mutex> lock(m_requestMutex);
    if (request->answered || m_closing) return;
  }
  ++m_commandDepth;
  std::optional<std::u16string> answer;
  const std::u16string shown = MessageText(request->text).toStdU16String();
  if (request->serve) {
    request->serve();
  } else if (request->picker) {
    answer = m_folderPicker(shown);
  } else {
    m_messageBox(shown);
  }
  Answer(*request, std::move(answer));
  --m_commandDepth;
  RunDeferredClose();
}

void CpageLoomDlg::Answer(Request& request, std::optional<std::u16string> answer) {
  std::lock_guard<std::mutex> lock(m_requestMutex);
  if (request.answered) return;
  request.answered = true;
  request.promise.set_value(std::move(answer));
  m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                 [&request](const std::shared_ptr<Request>& pending) {
                                   return pending.get() == &request;
                                 }),
                  m_pending.end());
}

void CpageLoomDlg::BeginClosing() {
  std::vector<std::shared_ptr<Request>> pending;
  {
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_closing = true;
    pending = m_pending;
  }
  // Whoever waits for the window is answered first: a message counts as read, a picker
  // as cancelled. Then the workers can be joined without waiting for the window.
  for (const std::shared_ptr<Request>& request : pending) Answer(*request, std::nullopt);
  if (m_tray != nullptr) m_tray->Hide();
  m_controller.Shutdown();
}

void CpageLoomDlg::RunMessageBox(QWidget* parent, std::u16string_view text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("pageLoom"), ToQString(text),
                  QMessageBox::Ok, parent);
  // Messages may quote what pages and files hold: never take it for markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

std::optional<std::u16string> CpageLoomDlg::RunFolderPicker(QWidget* parent,
                                                            std::u16string_view title) {
  // It opens where the save folder is.
  const auto* box = parent->findChild<QLineEdit*>(ControlObjectName(kIdSaveFolder));
  const QString start = PickerStartFolder(box != nullptr ? box->text() : QString());
  const QString folder = QFileDialog::getExistingDirectory(parent, ToQString(title), start);
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdU16String();
}

std::optional<std::u16string> CpageLoomDlg::RunFilePicker(QWidget* parent,
                                                          std::u16string_view title) {
  const QString file = QFileDialog::getOpenFileName(parent, ToQString(title), QString(),
                                                    tr("Cookies文件 (*.txt);;所有文件 (*)"));
  if (file.isEmpty()) return std::nullopt;
  return file.toStdU16String();
}

}  // namespace pageloom
