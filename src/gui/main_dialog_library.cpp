// The window's side of the reader's library: the "保存为CBZ" option, kept with the queue
// between runs, and "打包为CBZ" on a task row's menu.
#include <QCheckBox>
#include <QMenu>
#include <QTableView>
#include <cstdlib>
#include <memory>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "gui/main_dialog.h"
#include "gui/task_table_model.h"
#include "gui/ui_texts.h"

namespace pageloom {

void CpageLoomDlg::CreateLibraryControls() {
  m_controller->SetWriteMetadata(true);
  m_saveCbz = new QCheckBox(this);
  m_saveCbz->setObjectName(ControlObjectName(kIdSaveCbz));
  m_saveCbz->setChecked(m_controller->SaveCbz());
  m_saveCbz->setText(tr("保存为CBZ"));
  Placed(m_saveCbz, 302, 66, 60, 10, kFixed, true);
  setTabOrder(m_followNext, m_saveCbz);
  connect(m_saveCbz, &QCheckBox::toggled, this,
          [this](bool on) { RunGuarded([this, on] { m_controller->SetSaveCbz(on); }); });

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
  QAction* pack = menu->addAction(tr("打包为CBZ"));
  pack->setObjectName(QStringLiteral("packCbzAction"));
  connect(pack, &QAction::triggered, this, [this, row] { PackRow(row); });
  return menu;
}

void CpageLoomDlg::PackRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  const int taskNo = m_model->TaskOfRow(row);
  const PackResult result = m_controller->PackTask(taskNo);
  if (result.status == PackStatus::kPacked) {
    ShowText(tr("已打包为CBZ：") + QString::fromStdString(result.archive.string()));
  } else if (result.status == PackStatus::kAlreadyThere) {
    ShowText(tr("CBZ已存在：") + QString::fromStdString(result.archive.string()));
  } else {
    ShowText(tr("无法打包为CBZ：") + PackRefusalText(result));
  }
}

}  // namespace pageloom
