// "添加后自动开始" (start after Add): an entry of the window's background menu, off by
// default. While it is ticked, each task that Add registers starts as if Start had been
// pressed after it; while the window is paused (Pause pressed last, not Continue or Start),
// added tasks wait for Continue as before. Tasks read back from the queue at start-up are
// not started by it.
#pragma once

#include <QObject>

class QAction;

namespace pageloom {

class CpageLoomDlg;

class StartAfterAdd : public QObject {
  Q_OBJECT

 public:
  // Made a child of `dialog`, after its controls and its controller.
  explicit StartAfterAdd(CpageLoomDlg& dialog);

  // The checkable menu entry, object name "startAfterAddAction"; owned by this object.
  [[nodiscard]] QAction* Action() const { return m_action; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Retranslate();
  void OnRowsAdded();
  void PressStart();

  CpageLoomDlg& m_dialog;
  QAction* m_action;
  bool m_paused = false;
  bool m_startQueued = false;
};

}  // namespace pageloom
