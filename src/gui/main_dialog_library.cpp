// The window's side of the reader's library: the "保存为CBZ" option, kept with the queue
// between runs, and "打包为CBZ" on a task row's menu.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTableView>
#include <cstdlib>
#include <memory>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "gui/main_dialog.h"
#include "gui/status_line.h"
#include "gui/table_shortcuts.h"
#include "gui/task_table_model.h"
#include "gui/ui_texts.h"

namespace pageloom {

void CpageLoomDlg::CreateLibraryControls() {
  m_controller.SetWriteMetadata(true);
  m_saveCbz = new QCheckBox(this);
  m_saveCbz->setObjectName(ControlObjectName(kIdSaveCbz));
  m_saveCbz->setChecked(m_controller.SaveCbz());
  m_saveCbz->setText(tr("保存为CBZ"));
  Placed(m_saveCbz, 302, 66, 60, 10, kFixed, true);
  setTabOrder(m_followNextBox, m_saveCbz);
  connect(m_saveCbz, &QCheckBox::toggled, this,
          [this](bool on) { RunGuarded([this, on] { m_controller.SetSaveCbz(on); }); });

  m_taskList->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_taskList, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = m_taskList->indexAt(at);
    if (!index.isValid()) return;
    RunGuarded([this, row = index.row(), at] {
      std::unique_ptr<QMenu> menu(CreateRowMenu(row));
      menu->exec(m_taskList->viewport()->mapToGlobal(at));
    });
  });
  LayOut(size());
}

QMenu* CpageLoomDlg::CreateRowMenu(int row) {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("rowMenu"));
  const int taskNo = m_model->TaskOfRow(row);
  const std::shared_ptr<Task> task = m_controller.Tasks().Find(taskNo);
  const auto add = [this, menu](const char* name, const QString& text, auto&& work) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, [this, work] { RunGuarded(work); });
    return action;
  };
  add("openFolderAction", tr("打开文件夹"), [this, row] {
    if (auto* shortcuts = findChild<TableShortcuts*>()) shortcuts->OpenFolderOfRow(row);
  });
  add("copyAddressAction", tr("复制地址"), [task] {
    QGuiApplication::clipboard()->setText(
        QString::fromStdU16String(std::u16string(task->GetStartUrl())));
  })->setEnabled(task != nullptr);
  add("retryMissingAction", tr("重试缺失图片"), [this, taskNo] {
    m_controller.RetryMissing(taskNo);
  })->setEnabled(task && task->MissingCount() > 0);
  const bool held = task && task->Held();
  add(held ? "continueTaskAction" : "pauseTaskAction", held ? tr("继续此任务") : tr("暂停此任务"),
      [this, taskNo, held] { HoldRow(taskNo, !held); })
      ->setEnabled(task != nullptr);
  menu->addSeparator();
  const std::vector<int> order = m_controller.Tasks().Order();
  const bool first = !order.empty() && order.front() == taskNo;
  const bool last = !order.empty() && order.back() == taskNo;
  add("moveUpAction", tr("上移"), [this, taskNo] {
    m_controller.MoveTask(taskNo, Move::kUp);
  })->setEnabled(task && !first);
  add("moveDownAction", tr("下移"), [this, taskNo] {
    m_controller.MoveTask(taskNo, Move::kDown);
  })->setEnabled(task && !last);
  add("moveTopAction", tr("置顶"), [this, taskNo] {
    m_controller.MoveTask(taskNo, Move::kTop);
  })->setEnabled(task && !first);
  menu->addSeparator();
  add("deleteAction", tr("删除"), [this, row] {
    // The selection when the row is in it, else the row alone.
    QItemSelectionModel* selection = m_taskList->selectionModel();
    if (!selection->isRowSelected(row, QModelIndex()))
      selection->select(m_model->index(row, 0),
                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    OnBnClickedDelete();
  });
  add("clearFinishedAction", tr("清除已完成"), [this] { m_controller.ClearFinished(); });
  menu->addSeparator();
  QAction* pack = menu->addAction(tr("打包为CBZ"));
  pack->setObjectName(QStringLiteral("packCbzAction"));
  connect(pack, &QAction::triggered, this, [this, row] { PackRow(row); });
  return menu;
}

void CpageLoomDlg::HoldRow(int taskNo, bool held) {
  if (const std::optional<TaskStatus> status = m_controller.HoldTask(taskNo, held))
    m_model->SetStatus(taskNo, *status);
  m_status->SetCounts(m_model->Counts());
}

void CpageLoomDlg::PackRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  const int taskNo = m_model->TaskOfRow(row);
  const PackResult result = m_controller.PackTask(taskNo);
  if (result.status == PackStatus::kPacked) {
    ShowText(tr("已打包为CBZ：") + QString::fromStdString(result.archive.string()));
  } else if (result.status == PackStatus::kAlreadyThere) {
    ShowText(tr("CBZ已存在：") + QString::fromStdString(result.archive.string()));
  } else {
    ShowText(tr("无法打包为CBZ：") + PackRefusalText(result));
  }
}

}  // namespace pageloom
