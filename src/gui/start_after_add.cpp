#include "gui/start_after_add.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QTimer>

#include "gui/main_dialog.h"
#include "gui/task_table_model.h"

namespace pageloom {

namespace {

constexpr char kText[] = QT_TRANSLATE_NOOP("pageloom::CpageLoomDlg", "添加后自动开始");

}  // namespace

StartAfterAdd::StartAfterAdd(CpageLoomDlg& dialog)
    : QObject(&dialog), m_dialog(dialog), m_action(new QAction(this)) {
  setObjectName(QStringLiteral("startAfterAdd"));
  m_action->setObjectName(QStringLiteral("startAfterAddAction"));
  m_action->setCheckable(true);
  m_action->setChecked(false);
  Retranslate();
  dialog.installEventFilter(this);

  auto watch = [this](int id, bool pauses) {
    auto* button = m_dialog.findChild<QPushButton*>(ControlObjectName(id));
    if (button != nullptr)
      connect(button, &QPushButton::clicked, this, [this, pauses] { m_paused = pauses; });
  };
  watch(kIdPause, true);
  watch(kIdContinue, false);
  watch(kIdStart, false);
  connect(&dialog.TableModel(), &QAbstractItemModel::rowsInserted, this,
          &StartAfterAdd::OnRowsAdded);
}

bool StartAfterAdd::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &m_dialog && event->type() == QEvent::LanguageChange) Retranslate();
  return QObject::eventFilter(watched, event);
}

void StartAfterAdd::Retranslate() {
  m_action->setText(QCoreApplication::translate("pageloom::CpageLoomDlg", kText));
}

void StartAfterAdd::OnRowsAdded() {
  if (!m_action->isChecked() || m_startQueued) return;
  // Rows that arrive together (a chain of chapters) are started by one press.
  m_startQueued = true;
  QTimer::singleShot(0, this, &StartAfterAdd::PressStart);
}

void StartAfterAdd::PressStart() {
  m_startQueued = false;
  if (!m_action->isChecked() || m_paused || m_dialog.IsClosing()) return;
  if (auto* start = m_dialog.findChild<QPushButton*>(ControlObjectName(kIdStart))) start->click();
}

}  // namespace pageloom
