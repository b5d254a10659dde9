// One window per queue. The window that holds a queue listens on a local socket named after
// the user and the queue's data folder; a second start of the program on the same queue
// asks it to come to the front instead of opening a window of its own.
//
// The exchange: the asking side sends "show\n"; the window comes to the front and answers
// "shown\n". A connection that sends anything else, or nothing for two seconds, is closed.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <chrono>
#include <filesystem>
#include <functional>

namespace pageloom {

class WindowBeacon : public QObject {
  Q_OBJECT

 public:
  // "pageLoom-<uid>-<hash of the data folder>", a socket in the temporary folder.
  [[nodiscard]] static QString SocketName(const std::filesystem::path& dataFolder);

  // Listens on `name` (removing a socket left behind by a program that ended: only the
  // holder of the queue makes a beacon); `show` runs on this thread at each request.
  WindowBeacon(const QString& name, std::function<void()> show, QObject* parent = nullptr);
  [[nodiscard]] bool Listening() const { return m_server.isListening(); }

  // Asks the window listening on `name` to come to the front. True once it answered that it
  // has; false when none listens or no answer came within `timeout`. Blocks; any thread.
  [[nodiscard]] static bool AskToShow(const QString& name, std::chrono::milliseconds timeout);

 private:
  void OnConnection();

  QLocalServer m_server;
  std::function<void()> m_show;
};

}  // namespace pageloom
