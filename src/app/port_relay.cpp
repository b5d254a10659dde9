#include "app/port_relay.h"

#include <utility>

namespace pageloom {

void PortRelay::Attach(WindowPort& port) {
  std::vector<std::function<void(WindowPort&)>> waiting;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_port = &port;
    waiting.swap(m_waiting);
  }
  for (const auto& said : waiting) said(port);
}

void PortRelay::Detach() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_port = nullptr;
  m_waiting.clear();
}

WindowPort* PortRelay::Current(const std::function<void(WindowPort&)>& waiting) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_port == nullptr && waiting) m_waiting.push_back(waiting);
  return m_port;
}

void PortRelay::Post(std::function<void()> work) {
  if (WindowPort* port = Current([work](WindowPort& later) { later.Post(work); }))
    port->Post(std::move(work));
}

void PortRelay::Publish(TaskEvent event) {
  if (WindowPort* port = Current([event](WindowPort& later) { later.Publish(event); }))
    port->Publish(std::move(event));
}

void PortRelay::ShowMessage(const Message& message) {
  // Said once a front end is there, on its own thread.
  const auto later = [message](WindowPort& port) {
    port.Post([&port, message] { port.ShowMessage(message); });
  };
  if (WindowPort* port = Current(later)) port->ShowMessage(message);
}

void PortRelay::PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) {
  if (WindowPort* port = Current({})) port->PostPictureProgress(taskNo, received, total);
}

void PortRelay::ShowBan(int siteKind, std::chrono::seconds left) {
  if (WindowPort* port = Current({})) port->ShowBan(siteKind, left);
}

void PortRelay::PostWorkerEnded(int siteKind) {
  if (WindowPort* port = Current({})) port->PostWorkerEnded(siteKind);
}

void PortRelay::PostAddEnded(std::u16string address, int tasksMade,
                             std::optional<FailureReason> failure) {
  if (WindowPort* port = Current({}))
    port->PostAddEnded(std::move(address), tasksMade, std::move(failure));
}

void PortRelay::PostNewChapters(std::u16string comic, int count) {
  if (WindowPort* port = Current({})) port->PostNewChapters(std::move(comic), count);
}

AgainChoice PortRelay::AskDownloadAgain(const std::vector<DownloadedBefore>& before, int total) {
  WindowPort* port = Current({});
  return port != nullptr ? port->AskDownloadAgain(before, total) : AgainChoice::kNone;
}

std::optional<std::u16string> PortRelay::PickFolder(const Message& title) {
  WindowPort* port = Current({});
  return port != nullptr ? port->PickFolder(title) : std::nullopt;
}

}  // namespace pageloom
