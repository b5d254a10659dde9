// The main window: the address and save-folder boxes, the two options, the task table and
// the command buttons. It is handed the engine (TaskController) it shows, is attached to it
// as its WindowPort, and turns its buttons into the engine's commands.
//
// Controls carry their dialog ids as object names: "ctl" followed by the id ("ctl1000"
// is the address box). Positions are dialog units of the 9-pt dialog font.
//
// Threads: widgets are touched on the window thread only. Publish, ShowMessage and
// PickFolder may be called from any thread; a message or picker asked for from another
// thread is carried out on the window thread while the caller waits for its answer.
// Closing first enters a closing state, in which waiting and new requests are answered
// at once (message dismissed, picker cancelled), then shuts the workers down, and only
// then lets the window go. A close asked for while a command runs (a modal box inside it
// runs a nested event loop) waits until the command has returned.
//
// The window speaks the language in effect (see language.h) and follows a change of it at
// once. It can be resized and maximised above its dialog-unit size; the boxes and the table
// grow with it, the table's name column taking the new width. Addresses dropped on it are
// added. Where the desktop has a system tray, a tray icon tells when tasks end.
#pragma once

#include <QDialog>
#include <QFont>
#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/adder.h"
#include "app/window_port.h"
#include "net/cookie_store.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;

namespace pageloom {

class TaskController;
class TaskTableModel;
class StatusLine;
class TrayNotifier;

enum DialogControlId : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAddress = 1000,
  kIdAdd = 1001,
  kIdSaveFolder = 1002,
  kIdBrowse = 1003,
  kIdStart = 1004,
  kIdTaskList = 1005,
  kIdPause = 1006,
  kIdContinue = 1007,
  kIdDelete = 1008,
  kIdAutoRename = 1010,
  kIdFollowNext = 1011,
  kIdSaveCbz = 1012,
};

// "ctl" followed by the id.
QString ControlObjectName(int id);

class CpageLoomDlg : public QDialog, public WindowPort {
  Q_OBJECT

 public:
  using MessageBoxHook = std::function<void(std::u16string_view text)>;
  using FolderPickerHook = std::function<std::optional<std::u16string>(std::u16string_view title)>;
  // Picks a file to open; same shape as the folder picker.
  using FilePickerHook = FolderPickerHook;

  // Attaches itself to `engine`, which outlives it; the engine's tasks come into the table.
  explicit CpageLoomDlg(TaskController& engine, QWidget* parent = nullptr);
  ~CpageLoomDlg() override;
  CpageLoomDlg(const CpageLoomDlg&) = delete;
  CpageLoomDlg& operator=(const CpageLoomDlg&) = delete;

  // --- the table as it reads (window thread) ---
  int RowCount() const;
  // A cell as the table writes it (in Chinese, whatever the language shown).
  std::u16string GetItemText(int row, int column) const;
  // Indexes of the selected rows, ascending.
  std::vector<int> SelectedRows() const;

  // --- the selection and the boxes (window thread) ---
  // The numbers of the tasks whose rows are selected, in the order of the rows.
  std::vector<int> SelectedTasks() const;
  std::u16string AddressText() const;
  void SetAddressText(const std::u16string& text);
  std::u16string SaveFolderText() const;
  void SetSaveFolderText(const std::u16string& text);
  // The options an Add is made with now: the save-folder box, m_autoRename, m_followNext.
  AddRequest AddOptions() const;

  // --- the buttons' commands (window thread) ---
  // Add takes the address box's text (an address a line), clears the box and hands it to
  // the engine; Browse picks the save folder; Option reads the two check boxes into
  // m_autoRename and m_followNext, which the next Add uses.
  void OnBnClickedAdd();
  void OnBnClickedBrowse();
  void OnBnClickedStart();
  void OnBnClickedPause();
  void OnBnClickedContinue();
  void OnBnClickedDelete();
  void OnBnClickedOption();
  // The folder of a new task below the save-folder box; `output` holds kPathCapacity units.
  char16_t* MakeTaskFolderPath(char16_t* output, char* title) const;

  // --- WindowPort: any thread ---
  void Post(std::function<void()> work) override;
  void Publish(TaskEvent event) override;
  // Bytes of the picture in flight show beside the task's progress until its next row
  // write. Posts that follow each other quickly are shown as one.
  void PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) override;
  // The tray says "<comic>: N new chapters".
  void PostNewChapters(std::u16string comic, int count) override;
  void ShowMessage(const Message& message) override;
  std::optional<std::u16string> PickFolder(const Message& title) override;
  // "已下载过：<title>（<date>）。仍然下载？" (Yes/No) for one task; for a chain, one
  // question for all of it (only the new ones / all / none). Closing answers "none".
  AgainChoice AskDownloadAgain(const std::vector<DownloadedBefore>& before, int total) override;
  // Says that another pageLoom has the queue.
  void ShowAlreadyRunning();

  TaskController& Controller() { return m_controller; }
  TaskTableModel& TableModel() { return *m_model; }
  QTableView* TaskTable() const { return m_taskList; }
  TrayNotifier& Tray() { return *m_tray; }
  StatusLine& Status() { return *m_status; }

  // The message box and the folder picker; tests put their own in place. Set them on the
  // window thread while no request is being served.
  void SetMessageBoxHook(MessageBoxHook hook);
  void SetFolderPickerHook(FolderPickerHook hook);
  void SetCookieFilePickerHook(FilePickerHook hook);

  // Requests from other threads that wait for their answer.
  int PendingRequests() const;
  bool IsClosing() const;

  // The menu of the dialog's background: window commands, the cookie commands, a
  // separator, the About item. The caller owns the menu.
  QMenu* CreateContextMenu();
  // Opens the About box modally.
  void ShowAbout();
  // "导入Cookies…": picks a cookies.txt, adds its cookies off the window thread, then says
  // how many lines were taken, skipped and dropped. "清除Cookies": forgets every cookie now.
  void ImportCookies();
  void ClearCookies();
  // "请求间隔…": asks for the least interval between two requests to one site ("2",
  // "2-5", "0" for none) and applies it; kept for the next run.
  void AskPacing();
  // Applies such a text; false (and a message) when it is none.
  bool ApplyPacingText(const QString& text);
  // The menu of a task row: "打包为CBZ" packs the finished task's folder of `row` (a
  // refusal says why). The caller owns the menu. (main_dialog_library.cpp)
  // It also holds the row's commands: 打开文件夹, 复制地址, 重试缺失图片, 暂停此任务 (继续此任务
  // for a held one), 删除 (the row alone), 清除已完成.
  QMenu* CreateRowMenu(int row);
  void PackRow(int row);
  // Holds task `taskNo` by itself, or lets it go; its row shows it at once.
  void HoldRow(int taskNo, bool held);
  // Queues every address of `text` (one a line), as a drop does.
  void AddDroppedAddresses(const QString& text);

  // Ends the dialog: closing state, workers shut down, then the dialog's own ending.
  // Deferred while a command runs.
  void done(int result) override;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct Request;
  // How a control follows the window's size: it moves right or down with the window's
  // growth, or grows wider or taller with it.
  enum Anchor : unsigned {
    kFixed = 0,
    kMoveRight = 1,
    kMoveDown = 2,
    kGrowWide = 4,
    kGrowTall = 8
  };
  struct Placement {
    QWidget* widget;
    QRect units;  // dialog units at the smallest size
    unsigned anchor;
    bool fitText;  // widened (and grown about its middle) when its text needs more room
  };
  // Picture bytes waiting to be shown; see PostPictureProgress.
  struct PendingBytes {
    std::uint64_t received;
    std::int64_t total;
    std::uint64_t batch;
  };

  // The real message box (exclamation icon, caption "pageLoom", OK) and folder picker.
  static void RunMessageBox(QWidget* parent, std::u16string_view text);
  static std::optional<std::u16string> RunFolderPicker(QWidget* parent, std::u16string_view title);
  static std::optional<std::u16string> RunFilePicker(QWidget* parent, std::u16string_view title);

  void CreateControls();
  // The "保存为CBZ" box and the task rows' menu, once the controller is there.
  void CreateLibraryControls();
  QWidget* Placed(QWidget* widget, int left, int top, int width, int height,
                  unsigned anchor = kFixed, bool fitText = false);
  // Sets every text in the language in effect.
  void RetranslateUi();
  // Places the controls for a window of `size`; the name column takes the width gained.
  void LayOut(QSize size);
  void ShowText(const QString& text);
  // Takes in one task event (window thread).
  void Apply(const TaskEvent& event);
  // Removes the rows of `taskNos`; the selected rows that stay stay selected.
  void RemoveRows(const std::vector<int>& taskNos);
  void ShowCookieImport(const QString& name, const CookieFileReading& reading, bool saved);
  // Waits for the cookie import in flight, if any.
  void JoinCookieImport();
  void NoteStatusChange(int taskNo, TaskStatus before, const TaskSnapshot& after);
  // Widens the progress and status columns, once for all, when what `row` shows there
  // does not fit; the name column gives the width.
  void FitColumns(int row);
  // The same for the rows `first` to `last`, each column widened once.
  void FitColumns(int first, int last);
  // At RunEnded the tray says the queue is done (if a task ended since it last said so).
  void NoteRunEnded(const RunEnded& ended);
  // The width of `text` in the table's font.
  int TextWidth(const QString& text);
  void ShowPendingBytes(std::uint64_t batch);
  void RunCommand(void (CpageLoomDlg::*command)());
  // Runs `work` as a command: a close asked for meanwhile is carried out afterwards.
  void RunGuarded(const std::function<void()>& work);
  void RunDeferredClose();
  void BeginClosing();
  std::optional<std::u16string> Ask(bool picker, const Message& text,
                                    std::function<void()> serve = {});
  void ServeRequest(const std::shared_ptr<Request>& request);
  void Answer(Request& request, std::optional<std::u16string> answer);
  bool OnWindowThread() const;

  QLineEdit* m_urlEdit = nullptr;        // 1000
  QLineEdit* m_pathEdit = nullptr;       // 1002
  QCheckBox* m_autoRenameBox = nullptr;  // 1010
  QCheckBox* m_followNextBox = nullptr;  // 1011
  QCheckBox* m_saveCbz = nullptr;        // 1012
  QTableView* m_taskList = nullptr;      // 1005
  TaskTableModel* m_model = nullptr;
  TrayNotifier* m_tray = nullptr;
  StatusLine* m_status = nullptr;  // under the table
  TaskController& m_controller;
  int m_autoRename = 1;        // check box 1010, as Option last read it
  int m_followNext = 0;        // check box 1011
  std::thread m_cookieImport;  // reads a cookies.txt into the controller's session

  MessageBoxHook m_messageBox;
  FolderPickerHook m_folderPicker;
  FilePickerHook m_filePicker;

  std::vector<Placement> m_placements;  // window thread
  QSize m_smallest;                     // the dialog-unit size
  QSize m_laidOut;                      // the size of the last layout
  QHash<QString, int> m_textWidths;     // TextWidth's measures, in m_widthFont
  QFont m_widthFont;
  int m_tasksEndedUnsaid = 0;  // tasks ended since the tray last said the queue was done

  int m_commandDepth = 0;              // window thread
  std::optional<int> m_deferredClose;  // window thread

  mutable std::mutex m_requestMutex;  // guards m_closing and m_pending
  bool m_closing = false;
  std::vector<std::shared_ptr<Request>> m_pending;
  // Picture bytes: the latest of each task, shown by one queued call per batch; a row
  // write closes the batch, so bytes posted after it never show before it.
  std::map<int, PendingBytes> m_pendingBytes;
  std::uint64_t m_bytesBatch = 0;
  bool m_bytesBatchQueued = false;
};

}  // namespace pageloom
