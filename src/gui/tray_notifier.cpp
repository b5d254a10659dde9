#include "gui/tray_notifier.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include "gui/dialog_units.h"

namespace pageloom {

namespace {
constexpr int kMessageMilliseconds = 8000;
}

TrayNotifier::TrayNotifier(QWidget& window) : QObject(&window), m_window(window) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  m_icon = new QSystemTrayIcon(AppIcon(), this);
  m_menu = new QMenu();
  connect(m_menu->addAction(QString()), &QAction::triggered, this, &TrayNotifier::RestoreWindow);
  connect(m_menu->addAction(QString()), &QAction::triggered, &m_window, &QWidget::close);
  m_icon->setContextMenu(m_menu);
  connect(m_icon, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
              RestoreWindow();
          });
  connect(m_icon, &QSystemTrayIcon::messageClicked, this, &TrayNotifier::RestoreWindow);
  Retranslate();
  m_icon->show();
}

TrayNotifier::~TrayNotifier() { delete m_menu; }

void TrayNotifier::NewChapters(const QString& comic, int count) {
  Notify(tr("%1：%2个新章节").arg(comic).arg(count));
}

void TrayNotifier::TaskEnded(int taskNo) { Notify(tr("任务 %1 已完成").arg(taskNo)); }

void TrayNotifier::TaskIncomplete(int taskNo, int missing) {
  Notify(tr("任务 %1 已结束，缺 %n 张图片", nullptr, missing).arg(taskNo));
}

void TrayNotifier::QueueDone(int unfinished) {
  Notify(unfinished == 0 ? tr("下载队列已全部完成")
                         : tr("下载队列已结束，%n 个任务未完成", nullptr, unfinished));
}

void TrayNotifier::RestoreWindow() {
  m_window.setWindowState((m_window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  m_window.show();
  m_window.raise();
  m_window.activateWindow();
}

void TrayNotifier::Retranslate() {
  if (m_icon == nullptr) return;
  m_icon->setToolTip(QStringLiteral("pageLoom"));
  const QList<QAction*> actions = m_menu->actions();
  actions[0]->setText(tr("显示窗口"));
  actions[1]->setText(tr("退出"));
}

void TrayNotifier::Hide() {
  if (m_icon != nullptr) m_icon->hide();
}

void TrayNotifier::Notify(const QString& text) {
  if (m_hook) {
    m_hook(QStringLiteral("pageLoom"), text);
  } else if (m_icon != nullptr && m_icon->isVisible()) {
    m_icon->showMessage(QStringLiteral("pageLoom"), text, QSystemTrayIcon::Information,
                        kMessageMilliseconds);
  }
}

}  // namespace pageloom
