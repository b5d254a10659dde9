#include "app/gui/main_dialog.h"

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

#include "app/gui/about_dialog.h"
#include "app/gui/dialog_units.h"
#include "app/gui/task_table_model.h"
#include "app/task_controller.h"

namespace pageloom {

namespace {

// Places `widget` at a rectangle given in dialog units. Texts that the font makes wider
// than their rectangle widen it (and taller ones grow it about its middle), so that no
// caption is cut off whatever the font.
void Place(QWidget* widget, const DialogUnits& units, int left, int top, int width, int height,
           bool fitText = false) {
  QRect rect = units.Rect(left, top, width, height);
  if (fitText) {
    const QSize hint = widget->sizeHint();
    if (hint.width() > rect.width()) rect.setWidth(hint.width());
    if (hint.height() > rect.height()) {
      const int grow = hint.height() - rect.height();
      rect.adjust(0, -(grow / 2), 0, grow - grow / 2);
    }
  }
  widget->setGeometry(rect);
}

// No button is ever the dialog's default: Enter presses only a focused button.
QPushButton* MakeButton(QWidget* parent, int id, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(ControlObjectName(id));
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

QString ControlObjectName(int id) { return QStringLiteral("ctl%1").arg(id); }

CpageLoomDlg::CpageLoomDlg(ControllerSettings settings, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CpageLoomDlg"));
  setWindowTitle(QStringLiteral("pageLoom"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());
  setFont(DialogFont());

  m_messageBox = [this](std::u16string_view text) { RunMessageBox(this, text); };
  m_folderPicker = [this](std::u16string_view title) { return RunFolderPicker(this, title); };

  CreateControls();
  m_controller = std::make_unique<TaskController>(*this, std::move(settings));
}

CpageLoomDlg::~CpageLoomDlg() {
  BeginClosing();
  m_controller.reset();
}

void CpageLoomDlg::CreateControls() {
  const DialogUnits units(font());
  resize(units.Size(425, 262));

  // Created in tab order; the hidden OK and Cancel come first, as in the dialog template.
  auto* ok = MakeButton(this, kIdOk, QStringLiteral("确定"));
  Place(ok, units, 314, 241, 50, 14);
  ok->hide();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* cancel = MakeButton(this, kIdCancel, QStringLiteral("取消"));
  Place(cancel, units, 368, 241, 50, 14);
  cancel->hide();
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  m_urlEdit = new QLineEdit(this);
  m_urlEdit->setObjectName(ControlObjectName(kIdAddress));
  Place(m_urlEdit, units, 71, 22, 260, 14);
  m_urlEdit->installEventFilter(this);

  auto* add = MakeButton(this, kIdAdd, QStringLiteral("添加"));
  Place(add, units, 345, 21, 50, 16);

  m_pathEdit = new QLineEdit(this);
  m_pathEdit->setObjectName(ControlObjectName(kIdSaveFolder));
  Place(m_pathEdit, units, 71, 42, 260, 15);
  m_pathEdit->setText(QString::fromStdU16String(TaskController::DefaultSaveFolder()));

  auto* browse = MakeButton(this, kIdBrowse, QStringLiteral("浏览"));
  Place(browse, units, 345, 42, 50, 16);

  auto* start = MakeButton(this, kIdStart, QStringLiteral("开始"));
  Place(start, units, 71, 215, 50, 14);

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
  Place(m_taskList, units, 71, 82, 324, 124);

  auto* pause = MakeButton(this, kIdPause, QStringLiteral("暂停"));
  Place(pause, units, 133, 215, 50, 14);
  auto* resume = MakeButton(this, kIdContinue, QStringLiteral("继续"));
  Place(resume, units, 197, 214, 50, 14);
  auto* remove = MakeButton(this, kIdDelete, QStringLiteral("删除"));
  Place(remove, units, 263, 214, 50, 14);

  Place(MakeLabel(this, "labelAddress", QStringLiteral("下载链接")), units, 34, 24, 29, 9, true);
  Place(MakeLabel(this, "labelSaveFolder", QStringLiteral("保存路径")), units, 34, 44, 29, 9, true);
  Place(MakeLabel(this, "labelTaskList", QStringLiteral("漫画列表")), units, 35, 81, 29, 9, true);

  m_autoRename = new QCheckBox(QStringLiteral("是否自动重命名文件"), this);
  m_autoRename->setObjectName(ControlObjectName(kIdAutoRename));
  m_autoRename->setChecked(true);
  Place(m_autoRename, units, 70, 65, 78, 10, true);
  m_followNext = new QCheckBox(QStringLiteral("是否下载此话之后的漫画（仅适用于DMZJ）"), this);
  m_followNext->setObjectName(ControlObjectName(kIdFollowNext));
  m_followNext->setChecked(false);
  Place(m_followNext, units, 149, 66, 149, 10, true);

  const QList<QWidget*> tabOrder{ok,    cancel, m_urlEdit, add,    m_pathEdit,  browse,      start,
                                 m_taskList, pause, resume, remove, m_autoRename, m_followNext};
  for (int i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  connect(add, &QPushButton::clicked, this, [this] { RunCommand(&TaskController::OnBnClickedAdd); });
  connect(browse, &QPushButton::clicked, this,
          [this] { RunCommand(&TaskController::OnBnClickedBrowse); });
  connect(start, &QPushButton::clicked, this,
          [this] { RunCommand(&TaskController::OnBnClickedStart); });
  connect(pause, &QPushButton::clicked, this,
          [this] { RunCommand(&TaskController::OnBnClickedPause); });
  connect(resume, &QPushButton::clicked, this,
          [this] { RunCommand(&TaskController::OnBnClickedContinue); });
  connect(remove, &QPushButton::clicked, this,
          [this] { RunCommand(&TaskController::OnBnClickedDelete); });
  connect(m_autoRename, &QCheckBox::clicked, this,
          [this] { RunCommand(&TaskController::OnBnClickedOption); });
  connect(m_followNext, &QCheckBox::clicked, this,
          [this] { RunCommand(&TaskController::OnBnClickedOption); });
  m_urlEdit->setFocus();
}

void CpageLoomDlg::RunCommand(void (TaskController::*command)()) {
  RunGuarded([this, command] {
    if (m_controller && !IsClosing()) ((*m_controller).*command)();
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
      RunCommand(&TaskController::OnBnClickedAdd);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

QMenu* CpageLoomDlg::CreateContextMenu() {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("backgroundMenu"));
  menu->setSeparatorsCollapsible(false);
  menu->addAction(QStringLiteral("最小化(&N)"), this, &QWidget::showMinimized);
  menu->addAction(QStringLiteral("关闭(&C)"), this, &QWidget::close);
  menu->addSeparator();
  QAction* about = menu->addAction(QStringLiteral("关于 pageLoom(&A)..."));
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
