// Followed comics in the window: "检查更新" (check for updates) and the checkable
// "自动检查更新" (automatic check; off by default: while ticked, a check at once and every
// 6 hours while the window is open) in the background menu, and "关注的漫画…", a small
// dialog that lists the followed comics (comic, last chapter, last check, new chapters
// found) and unfollows the one picked. New chapters are announced in the tray.
#pragma once

#include <QObject>
#include <QTimer>

class QAction;

namespace pageloom {

class CpageLoomDlg;

class SeriesUpdates : public QObject {
  Q_OBJECT

 public:
  static constexpr int kAutoIntervalMs = 6 * 60 * 60 * 1000;

  // Made a child of `dialog`, after its controller.
  explicit SeriesUpdates(CpageLoomDlg& dialog);

  // Object names "checkUpdatesAction", "autoCheckUpdatesAction", "followedComicsAction".
  [[nodiscard]] QAction* CheckAction() const { return m_check; }
  [[nodiscard]] QAction* AutoAction() const { return m_auto; }
  [[nodiscard]] QAction* ListAction() const { return m_list; }
  // Queues a check of every followed comic with the window's save folder and renaming.
  void CheckNow();
  // The followed comics' dialog (modal).
  void ShowFollowed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Retranslate();
  void AutoToggled(bool on);

  CpageLoomDlg& m_dialog;
  QAction* m_check;
  QAction* m_auto;
  QAction* m_list;
  QTimer m_timer;
};

}  // namespace pageloom
