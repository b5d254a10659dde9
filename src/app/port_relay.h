// The engine's side of its front end. An engine is made before the window or terminal that
// shows it, and may outlive it: what it says before a front end is attached waits here and
// is handed over, in order, when one is; a question asked meanwhile is answered as a
// closing window answers it (picker cancelled, nothing downloaded again).
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "app/window_port.h"

namespace pageloom {

class PortRelay final : public WindowPort {
 public:
  // Attaches `port` and hands it what waited (on the thread the port takes events on).
  // Detach once no thread of the engine runs any more; afterwards nothing is passed on.
  void Attach(WindowPort& port);
  void Detach();

  void Post(std::function<void()> work) override;
  void Publish(TaskEvent event) override;
  void PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) override;
  void ShowBan(int siteKind, std::chrono::seconds left) override;
  void PostWorkerEnded(int siteKind) override;
  void PostAddEnded(std::u16string address, int tasksMade,
                    std::optional<FailureReason> failure) override;
  void PostNewChapters(std::u16string comic, int count) override;
  AgainChoice AskDownloadAgain(const std::vector<DownloadedBefore>& before, int total) override;
  void ShowMessage(const Message& message) override;
  std::optional<std::u16string> PickFolder(const Message& title) override;

 private:
  // The attached port; null while none is (what `waiting` then keeps).
  WindowPort* Current(const std::function<void(WindowPort&)>& waiting);

  std::mutex m_mutex;  // guards both members
  WindowPort* m_port = nullptr;
  std::vector<std::function<void(WindowPort&)>> m_waiting;
};

}  // namespace pageloom
