// The tray icon. Where the desktop has a system tray, pageLoom shows an icon there whose
// messages say when a task has ended, when one has ended with pictures missing, and when
// the whole queue is done; clicking the icon or a message brings the window back, and its
// menu can show the window or quit. Without a tray there is no icon and nothing is said.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace pageloom {

class TrayNotifier : public QObject {
  Q_OBJECT

 public:
  using MessageHook = std::function<void(const QString& title, const QString& text)>;

  // `window`: the window the icon brings back; it owns the notifier.
  explicit TrayNotifier(QWidget& window);
  ~TrayNotifier() override;
  TrayNotifier(const TrayNotifier&) = delete;
  TrayNotifier& operator=(const TrayNotifier&) = delete;

  // The icon, or null where the desktop has no tray.
  QSystemTrayIcon* Icon() const { return m_icon; }
  // Tests put their own receiver of the messages in place; it hears them with or
  // without a tray.
  void SetMessageHook(MessageHook hook) { m_hook = std::move(hook); }

  void TaskEnded(int taskNo);
  void TaskIncomplete(int taskNo, int missing);
  // `unfinished`: tasks of the table that have not ended with all their pictures.
  void QueueDone(int unfinished);
  // A check of followed comics added `count` new chapters of `comic`.
  void NewChapters(const QString& comic, int count);

  // Shows the window restored, raised and active.
  void RestoreWindow();
  // Sets the icon's texts in the language in effect.
  void Retranslate();
  // Takes the icon off the tray (the window is closing).
  void Hide();

 private:
  void Notify(const QString& text);

  QWidget& m_window;
  QSystemTrayIcon* m_icon = nullptr;
  QMenu* m_menu = nullptr;
  MessageHook m_hook;
};

}  // namespace pageloom
