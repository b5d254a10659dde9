// The terminal program's window: what other threads hand over runs on the main thread.
#include <gtest/gtest.h>
#include <poll.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/terminal_window.h"
#include "text/fixed_text.h"

namespace pageloom::test {
namespace {

// The terminal's window seen from inside: what other threads hand over runs on the main
// thread in order, only the latest picture bytes of a task wait, and once closing only
// messages still come through.
class Heard : public cli::RunListener {
 public:
  void OnTaskStep(int taskNo, const std::u16string& before, const std::u16string& progress,
                  const std::u16string& status) override {
    log.push_back("step " + std::to_string(taskNo) + " " + ToUtf8(before) + ">" + ToUtf8(progress) + " " +
                  ToUtf8(status));
  }
  void OnPictureBytes(int taskNo, std::uint64_t received, std::int64_t total) override {
    log.push_back("bytes " + std::to_string(taskNo) + " " + std::to_string(received) + "/" + std::to_string(total));
  }
  void OnWorkerEnded(int siteKind) override { log.push_back("ended " + std::to_string(siteKind)); }
  void OnMessage(std::u16string_view text) override { log.push_back("message " + ToUtf8(text)); }
  std::vector<std::string> log;
};

TEST(TerminalWindowTest, HandsOverInOrderOnTheMainThread) {
  Heard heard;
  cli::TerminalWindow window(heard, {u"/save", true, false});
  window.AppendRow(u"4");
  window.SetItemText(0, 2, u"0/3");
  std::thread worker([&window] {
    for (std::uint64_t bytes = 1; bytes <= 1000; ++bytes) window.PostPictureProgress(4, bytes, 1000);
    window.PostTaskRow(4, u"1/3", u"下载中");
    window.PostTaskRow(9, u"1/1", u"下载中");  // no such row: dropped
    window.ShowMessage(u"一条消息");
    window.PostWorkerEnded(1);
  });
  worker.join();
  pollfd ready{window.WakeFd(), POLLIN, 0};
  EXPECT_EQ(poll(&ready, 1, 0), 1) << "the main loop is woken";
  window.RunEvents();
  EXPECT_EQ(heard.log, (std::vector<std::string>{"bytes 4 1000/1000", "step 4 0/3>1/3 下载中",
                                                 "message 一条消息", "ended 1"}));
  EXPECT_EQ(window.GetItemText(0, 3), u"下载中");

  heard.log.clear();
  window.BeginClosing();
  std::thread([&window] {
    window.PostTaskRow(4, u"2/3", u"暂停中");
    window.Post([] { ADD_FAILURE() << "work after closing"; });
    window.ShowMessage(u"still said");
  }).join();
  window.RunEvents();
  EXPECT_EQ(heard.log, std::vector<std::string>{"message still said"});
  EXPECT_FALSE(window.PickFolder(u"title")) << "no picker on a terminal";
}

}  // namespace
}  // namespace pageloom::test
