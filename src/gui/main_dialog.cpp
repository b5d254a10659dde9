#include "gui/main_dialog.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <algorithm>

#include "app/task_controller.h"
#include "engine/task_folder.h"
#include "gui/about_dialog.h"
#include "gui/dialog_units.h"
#include "gui/series_updates.h"
#include "gui/start_after_add.h"
#include "gui/status_line.h"
#include "gui/table_shortcuts.h"
#include "gui/task_table_model.h"
#include "gui/tray_notifier.h"

namespace pageloom {

namespace {

// No button is ever the dialog's default: Enter presses only a focused button.
QPushButton* MakeButton(QWidget* parent, int id) {
  auto* button = new QPushButton(parent);
  button->setObjectName(ControlObjectName(id));
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

// The texts of the controls, by object name, as written; shown translated.
struct ControlText {
  const char* objectName;
  const char* text;
};
constexpr ControlText kControlTexts[] = {
    {"ctl1", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "确定")},
    {"ctl2", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "取消")},
    {"ctl1001", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "添加")},
    {"ctl1003", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "浏览")},
    {"ctl1004", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "开始")},
    {"ctl1006", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "暂停")},
    {"ctl1007", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "继续")},
    {"ctl1008", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "删除")},
    {"ctl1010", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "是否自动重命名文件")},
    {"ctl1011",
     QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "是否下载此话之后的漫画（仅适用于DMZJ）")},
    {"ctl1012", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "保存为CBZ")},
    {"labelAddress", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "下载链接")},
    {"labelSaveFolder", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "保存路径")},
    {"labelTaskList", QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "漫画列表")},
};

}  // namespace

QString ControlObjectName(int id) { return QStringLiteral("ctl%1").arg(id); }

CpageLoomDlg::CpageLoomDlg(TaskController& engine, QWidget* parent)
    : QDialog(parent), m_controller(engine) {
  setObjectName(QStringLiteral("CpageLoomDlg"));
  setWindowTitle(QStringLiteral("pageLoom"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  setFont(DialogFont());
  setAcceptDrops(true);

  m_messageBox = [this](std::u16string_view text) { RunMessageBox(this, text); };
  m_folderPicker = [this](std::u16string_view title) { return RunFolderPicker(this, title); };
  m_filePicker = [this](std::u16string_view title) { return RunFilePicker(this, title); };

  CreateControls();
  m_tray = new TrayNotifier(*this);
  // The lasting queue's rows come in as one change of the table, fitted once.
  m_model->BeginBulk();
  m_controller.Attach(*this);
  m_model->EndBulk();
  FitColumns(0, m_model->rowCount() - 1);
  CreateLibraryControls();
  new TableShortcuts(*this);
  new StartAfterAdd(*this);
  new SeriesUpdates(*this);
}

CpageLoomDlg::~CpageLoomDlg() {
  BeginClosing();
  JoinCookieImport();
  m_controller.Detach();
}

QWidget* CpageLoomDlg::Placed(QWidget* widget, int left, int top, int width, int height,
                              unsigned anchor, bool fitText) {
  m_placements.push_back(Placement{widget, QRect(left, top, width, height), anchor, fitText});
  return widget;
}

void CpageLoomDlg::CreateControls() {
  const DialogUnits units(font());
  m_smallest = units.Size(425, 262);
  setMinimumSize(m_smallest);
  resize(m_smallest);
  m_laidOut = m_smallest;

  // Created in tab order; the hidden OK and Cancel come first, as in the dialog template.
  auto* ok = MakeButton(this, kIdOk);
  Placed(ok, 314, 241, 50, 14, kMoveRight | kMoveDown);
  ok->hide();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* cancel = MakeButton(this, kIdCancel);
  Placed(cancel, 368, 241, 50, 14, kMoveRight | kMoveDown);
  cancel->hide();
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  m_urlEdit = new QLineEdit(this);
  m_urlEdit->setObjectName(ControlObjectName(kIdAddress));
  Placed(m_urlEdit, 71, 22, 260, 14, kGrowWide);
  m_urlEdit->installEventFilter(this);

  auto* add = MakeButton(this, kIdAdd);
  Placed(add, 345, 21, 50, 16, kMoveRight);

  m_pathEdit = new QLineEdit(this);
  m_pathEdit->setObjectName(ControlObjectName(kIdSaveFolder));
  Placed(m_pathEdit, 71, 42, 260, 15, kGrowWide);
  m_pathEdit->setText(QString::fromStdU16String(DefaultSaveFolder()));

  auto* browse = MakeButton(this, kIdBrowse);
  Placed(browse, 345, 42, 50, 16, kMoveRight);

  auto* start = MakeButton(this, kIdStart);
  Placed(start, 71, 215, 50, 14, kMoveDown);

  m_model = new TaskTableModel(this);
  m_taskList = new QTableView(this);
  m_taskList->setObjectName(ControlObjectName(kIdTaskList));
  m_taskList->setModel(m_model);
  m_taskList->setShowGrid(true);
  m_taskList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_taskList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_taskList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_taskList->setWordWrap(false);
  m_taskList->setCornerButtonEnabled(false);
  // One stop in the tab order: Tab and Shift+Tab leave the table, arrows move inside.
  m_taskList->setTabKeyNavigation(false);
  m_taskList->verticalHeader()->hide();
  const int rowHeight = QFontMetrics(font()).height() + 4;
  m_taskList->verticalHeader()->setMinimumSectionSize(rowHeight);
  m_taskList->verticalHeader()->setDefaultSectionSize(rowHeight);
  QHeaderView* header = m_taskList->horizontalHeader();
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(1);
  for (int column = 0; column < TaskTableModel::kColumnCount; ++column) {
    header->setSectionResizeMode(column, QHeaderView::Interactive);
    header->resizeSection(column, TaskTableModel::ColumnWidth(column));
  }
  Placed(m_taskList, 71, 82, 324, 124, kGrowWide | kGrowTall);

  Placed(MakeButton(this, kIdPause), 133, 215, 50, 14, kMoveDown);
  Placed(MakeButton(this, kIdContinue), 197, 214, 50, 14, kMoveDown);
  Placed(MakeButton(this, kIdDelete), 263, 214, 50, 14, kMoveDown);
  m_status = new StatusLine(this);
  Placed(m_status, 71, 232, 324, 9, kMoveDown | kGrowWide);

  Placed(MakeLabel(this, "labelAddress"), 34, 24, 29, 9, kFixed, true);
  Placed(MakeLabel(this, "labelSaveFolder"), 34, 44, 29, 9, kFixed, true);
  Placed(MakeLabel(this, "labelTaskList"), 35, 81, 29, 9, kFixed, true);

  m_autoRenameBox = new QCheckBox(this);
  m_autoRenameBox->setObjectName(ControlObjectName(kIdAutoRename));
  m_autoRenameBox->setChecked(true);
  Placed(m_autoRenameBox, 70, 65, 78, 10, kFixed, true);
  m_followNextBox = new QCheckBox(this);
  m_followNextBox->setObjectName(ControlObjectName(kIdFollowNext));
  m_followNextBox->setChecked(false);
  Placed(m_followNextBox, 149, 66, 149, 10, kFixed, true);

  const QList<QWidget*> tabOrder{ok,
                                 cancel,
                                 m_urlEdit,
                                 add,
                                 m_pathEdit,
                                 browse,
                                 start,
                                 m_taskList,
                                 findChild<QWidget*>(ControlObjectName(kIdPause)),
                                 findChild<QWidget*>(ControlObjectName(kIdContinue)),
                                 findChild<QWidget*>(ControlObjectName(kIdDelete)),
                                 m_autoRenameBox,
                                 m_followNextBox};
  for (int i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  const std::pair<int, void (CpageLoomDlg::*)()> commands[] = {
      {kIdAdd, &CpageLoomDlg::OnBnClickedAdd},
      {kIdBrowse, &CpageLoomDlg::OnBnClickedBrowse},
      {kIdStart, &CpageLoomDlg::OnBnClickedStart},
      {kIdPause, &CpageLoomDlg::OnBnClickedPause},
      {kIdContinue, &CpageLoomDlg::OnBnClickedContinue},
      {kIdDelete, &CpageLoomDlg::OnBnClickedDelete}};
  for (const auto& [id, command] : commands) {
    connect(findChild<QPushButton*>(ControlObjectName(id)), &QPushButton::clicked, this,
            [this, command = command] { RunCommand(command); });
  }
  connect(m_autoRenameBox, &QCheckBox::clicked, this,
          [this] { RunCommand(&CpageLoomDlg::OnBnClickedOption); });
  connect(m_followNextBox, &QCheckBox::clicked, this,
          [this] { RunCommand(&CpageLoomDlg::OnBnClickedOption); });
  RetranslateUi();
  m_urlEdit->setFocus();
}

void CpageLoomDlg::RetranslateUi() {
  if (m_model == nullptr) return;  // not made yet
  for (const ControlText& control : kControlTexts) {
    QWidget* widget = findChild<QWidget*>(QString::fromLatin1(control.objectName));
    const QString text = tr(control.text);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(text);
    if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(text);
  }
  m_model->Retranslate();
  // Words of another length may need wider columns.
  FitColumns(0, m_model->rowCount() - 1);
  if (m_tray != nullptr) m_tray->Retranslate();
  m_status->Refresh();
  LayOut(size());
}

void CpageLoomDlg::RunCommand(void (CpageLoomDlg::*command)()) {
  RunGuarded([this, command] {
    if (!IsClosing()) (this->*command)();
  });
}

void CpageLoomDlg::RunGuarded(const std::function<void()>& work) {
  ++m_commandDepth;
  work();
  --m_commandDepth;
  RunDeferredClose();
}

void CpageLoomDlg::RunDeferredClose() {
  if (m_commandDepth > 0 || !m_deferredClose) return;
  const int result = *m_deferredClose;
  m_deferredClose.reset();
  done(result);
}

void CpageLoomDlg::done(int result) {
  if (m_commandDepth > 0) {
    if (!m_deferredClose) m_deferredClose = result;
    return;
  }
  BeginClosing();
  QDialog::done(result);
}

void CpageLoomDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter presses a focused push button and does nothing elsewhere; it never ends
    // the dialog.
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (button != nullptr && button->isVisible() && button->isEnabled()) button->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool CpageLoomDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_urlEdit && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      // Enter in the address box adds the address; it never ends the dialog.
      RunCommand(&CpageLoomDlg::OnBnClickedAdd);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

QMenu* CpageLoomDlg::CreateContextMenu() {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("backgroundMenu"));
  menu->setSeparatorsCollapsible(false);
  menu->addAction(tr("最小化(&N)"), this, &QWidget::showMinimized);
  menu->addAction(tr("关闭(&C)"), this, &QWidget::close);
  menu->addSeparator();
  if (const auto* startAfterAdd = findChild<StartAfterAdd*>()) {
    menu->addAction(startAfterAdd->Action());
    menu->addSeparator();
  }
  if (const auto* updates = findChild<SeriesUpdates*>()) {
    menu->addAction(updates->CheckAction());
    menu->addAction(updates->AutoAction());
    menu->addAction(updates->ListAction());
    menu->addSeparator();
  }
  QAction* import = menu->addAction(tr("导入Cookies…"));
  import->setObjectName(QStringLiteral("importCookiesAction"));
  connect(import, &QAction::triggered, this, &CpageLoomDlg::ImportCookies);
  QAction* clear = menu->addAction(tr("清除Cookies"));
  clear->setObjectName(QStringLiteral("clearCookiesAction"));
  connect(clear, &QAction::triggered, this, &CpageLoomDlg::ClearCookies);
  QAction* pacing = menu->addAction(tr("请求间隔…"));
  pacing->setObjectName(QStringLiteral("pacingAction"));
  connect(pacing, &QAction::triggered, this, &CpageLoomDlg::AskPacing);
  menu->addSeparator();
  QAction* about = menu->addAction(tr("关于 pageLoom(&A)..."));
  about->setObjectName(QStringLiteral("aboutAction"));
  connect(about, &QAction::triggered, this, &CpageLoomDlg::ShowAbout);
  return menu;
}

void CpageLoomDlg::ShowAbout() {
  RunGuarded([this] {
    CAboutDlg about(this);
    about.exec();
  });
}

void CpageLoomDlg::contextMenuEvent(QContextMenuEvent* event) {
  RunGuarded([this, event] {
    std::unique_ptr<QMenu> menu(CreateContextMenu());
    menu->exec(event->globalPos());
  });
  event->accept();
}

}  // namespace pageloom
