// The script helper process: hostile scripts, misbehaving helpers, cancellation, and no
// process left behind.
#include "script/script_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "script/script_eval.h"
#include "script/script_protocol.h"
#include "support/processes.h"
#include "support/test_server.h"

namespace pageloom::test {
namespace {

using namespace std::chrono_literals;
using List = std::list<std::u16string>;

std::vector<pid_t> Children() { return ChildProcesses(); }

ScriptAnswer Eval(ScriptHost& host, const std::u16string& source,
                  std::chrono::milliseconds timeout = 5s, const Cancellation* cancel = nullptr) {
  return host.Evaluate(source, timeout, cancel);
}

void ExpectWorks(ScriptHost& host) {
  const ScriptAnswer answer = Eval(host, u"'\"o' + 'k\"'");
  EXPECT_EQ(answer.status, ScriptStatus::kText);
  EXPECT_EQ(answer.text, u"\"ok\"");
}

TEST(ScriptHostTest, OneHelperServesEvaluationsUntilItMisbehaves) {
  {
    ScriptHost host;
    ExpectWorks(host);
    const std::vector<pid_t> first = Children();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(Eval(host, u"throw new Error('no')").status, ScriptStatus::kScriptError);
    EXPECT_EQ(Eval(host, u"42").status, ScriptStatus::kNotText);
    // Any time limit is taken, even one longer than the clock can add.
    EXPECT_EQ(Eval(host, u"'a'", std::chrono::milliseconds::max()).status, ScriptStatus::kText);
    ExpectWorks(host);
    EXPECT_EQ(Children(), first) << "script errors keep the helper";

    // Each evaluation gets a fresh engine: nothing a page sets is seen by the next one.
    EXPECT_EQ(Eval(host, u"String.prototype.split = null; var left = 1; 'x'").status,
              ScriptStatus::kText);
    const ScriptAnswer clean = Eval(host, u"typeof String.prototype.split + typeof left");
    EXPECT_EQ(clean.text, u"functionundefined");

    EXPECT_EQ(Eval(host, u"for (;;) {}", 200ms).status, ScriptStatus::kTimedOut);
    EXPECT_TRUE(Children().empty()) << "the helper is killed and reaped at once";
    ExpectWorks(host);
    ASSERT_EQ(Children().size(), 1u);
    EXPECT_NE(Children(), first) << "a new helper";
  }
  EXPECT_TRUE(Children().empty()) << "the host's end reaps its helper";
}

// Scripts that ignore an engine's interruption, or cannot be interrupted at all, end as
// failed evaluations within the limits; the host works again afterwards.
TEST(ScriptHostTest, HostileScriptsFailAndTheHostRecovers) {
  ScriptHost host;
  struct Case {
    const char16_t* script;
    std::vector<ScriptStatus> allowed;
  };
  const Case cases[] = {
      // calls itself again from its own catch
      {u"(function f() { try { f(); } catch (e) { f(); } })()", {ScriptStatus::kTimedOut}},
      // built-ins that run for long and need gigabytes: the memory limit ends them
      {u"'x'.repeat(1 << 25).split('').join(',')",
       {ScriptStatus::kChildFailed, ScriptStatus::kTimedOut, ScriptStatus::kScriptError}},
      {u"(function() { var a = []; for (;;) a.push(new Array(1e6).join('x')); })()",
       {ScriptStatus::kChildFailed, ScriptStatus::kTimedOut, ScriptStatus::kScriptError}},
      // answers longer than an answer may be
      {u"'\"' + 'a'.repeat(3e6) + '\"'", {ScriptStatus::kTooLarge}},
      {u"'\"' + ','.repeat(1e7) + '\"'", {ScriptStatus::kTooLarge}},
  };
  for (const Case& hostile : cases) {
    const ScriptAnswer answer = Eval(host, hostile.script, 3s);
    EXPECT_NE(std::find(hostile.allowed.begin(), hostile.allowed.end(), answer.status),
              hostile.allowed.end())
        << std::string(hostile.script,
                       hostile.script + std::char_traits<char16_t>::length(hostile.script))
        << " gave " << static_cast<int>(answer.status);
    EXPECT_TRUE(answer.text.empty());
    EXPECT_LE(Children().size(), 1u);
    ExpectWorks(host);
  }
}

TEST(ScriptHostTest, ClosingKillsTheHelperAtOnce) {
  ScriptHost host;
  ExpectWorks(host);
  Cancellation closing;
  std::atomic<bool> done{false};
  ScriptAnswer answer;
  const auto start = std::chrono::steady_clock::now();
  std::thread worker([&] {
    answer = Eval(host, u"(function f() { try { f(); } catch (e) { f(); } })()", 60s, &closing);
    done = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(done);
  closing.Cancel();
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(answer.status, ScriptStatus::kCancelled);
  EXPECT_TRUE(Children().empty());

  // While the switch is set nothing is started; once cleared, evaluations run again.
  EXPECT_EQ(Eval(host, u"'\"a\"'", 5s, &closing).status, ScriptStatus::kCancelled);
  EXPECT_TRUE(Children().empty());
  closing.Reset();
  EXPECT_EQ(Eval(host, u"'\"a\"'", 5s, &closing).status, ScriptStatus::kText);
}

TEST(ScriptHostTest, HelperThatDiesMidEvaluationIsAFailure) {
  ScriptHost host;
  ExpectWorks(host);
  const std::vector<pid_t> helper = Children();
  ASSERT_EQ(helper.size(), 1u);
  std::thread crasher([pid = helper[0]] {
    std::this_thread::sleep_for(100ms);
    kill(pid, SIGSEGV);
  });
  EXPECT_EQ(Eval(host, u"for (;;) {}", 30s).status, ScriptStatus::kChildFailed);
  crasher.join();
  EXPECT_TRUE(Children().empty());
  ExpectWorks(host);

  // A helper that died while idle is replaced before the next request.
  kill(Children().at(0), SIGKILL);
  std::this_thread::sleep_for(50ms);
  ExpectWorks(host);
}

TEST(ScriptHostTest, HelperIsLimited) {
  // A descriptor of ours that would be inherited if nothing closed it.
  TempDir dir;
  WriteFileBytes(dir.Path() / "open", "x");
  const int ours = open((dir.Path() / "open").c_str(), O_RDONLY);
  ASSERT_GE(ours, 0);
  ScriptHost host;
  ExpectWorks(host);
  close(ours);
  const pid_t pid = Children().at(0);
  EXPECT_EQ(ProcessStatusField(pid, "NoNewPrivs"), "1");
  EXPECT_EQ(ProcessStatusField(pid, "Seccomp"), "2");
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  EXPECT_EQ(std::filesystem::read_symlink(fds / "0"), std::filesystem::read_symlink(fds / "1"));
  EXPECT_EQ(std::filesystem::read_symlink(fds / "0").string().rfind("socket:", 0), 0u);
  for (const auto& fd : std::filesystem::directory_iterator(fds))
    EXPECT_NE(std::filesystem::read_symlink(fd.path()), dir.Path() / "open") << fd.path();

  std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
  const std::string text((std::istreambuf_iterator<char>(limits)),
                         std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Max address space         536870912"), std::string::npos) << text;
  EXPECT_NE(text.find("Max file size             0"), std::string::npos) << text;
  EXPECT_NE(text.find("Max core file size        0"), std::string::npos) << text;
}

// Helper programs that break the exchange in every way end as failures, never a hang.
TEST(ScriptHostTest, MisbehavingHelperProgramsAreKilled) {
  TempDir dir;
  struct Fake {
    const char* body;
    ScriptStatus expected;
  };
  const Fake fakes[] = {
      {"exit 0", ScriptStatus::kChildFailed},
      {"exec cat", ScriptStatus::kChildFailed},     // answers with the request's own frame
      {"exec yes", ScriptStatus::kChildFailed},     // floods text that is no frame
      {"exec sleep 100", ScriptStatus::kTimedOut},  // never answers
      {"printf 'PLA1\\000\\000\\000\\000\\177'; exec sleep 100", ScriptStatus::kTooLarge},
      {"printf 'PLA1\\000\\010\\000\\000\\000abc'; exec sleep 100", ScriptStatus::kTimedOut},
      {"printf 'PLA1\\001\\002\\000\\000\\000ab'; exec sleep 100", ScriptStatus::kChildFailed},
  };
  int k = 0;
  for (const Fake& fake : fakes) {
    const std::filesystem::path path = dir.Path() / ("fake" + std::to_string(k++));
    WriteFileBytes(path, std::string("#!/bin/sh\n") + fake.body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    ScriptHost host(path.string());
    EXPECT_EQ(Eval(host, u"'x'", 500ms).status, fake.expected) << fake.body;
    host.Stop();
    EXPECT_TRUE(Children().empty()) << fake.body;
  }
  ScriptHost missing((dir.Path() / "none").string());
  EXPECT_EQ(Eval(missing, u"'x'").status, ScriptStatus::kNoHelper);
  ScriptHost unnamed{std::string()};
  EXPECT_EQ(Eval(unnamed, u"'x'").status, ScriptStatus::kNoHelper);
}

// Where the system does not let the helper limit itself, it exits at once with its own
// status: the host says so, and starts no helper again for the evaluations that follow.
TEST(ScriptHostTest, AHelperThatCannotLimitItselfIsToldApartAndNotRetried) {
  TempDir dir;
  const std::filesystem::path path = dir.Path() / "unlimited";
  WriteFileBytes(path, "#!/bin/sh\necho started >> \"$0.log\"\nexit " +
                           std::to_string(kHelperCannotLimitItself) + "\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  ScriptHost host(path.string());
  EXPECT_FALSE(host.SandboxMissing());
  EXPECT_EQ(Eval(host, u"'x'").status, ScriptStatus::kNoSandbox);
  EXPECT_TRUE(host.SandboxMissing());
  EXPECT_EQ(Eval(host, u"'y'").status, ScriptStatus::kNoSandbox);
  EXPECT_EQ(ReadFileBytes(path.string() + ".log"), "started\n");
  EXPECT_TRUE(Children().empty());
}

// A helper busy with an endless script dies with the program that started it, even when
// that program is killed and never stops it.
TEST(ScriptHostTest, HelperDiesWithItsProgram) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t program = fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    close(pipeFds[0]);
    ScriptHost host(PAGELOOM_SCRIPT_HELPER);
    const bool ok = host.Evaluate(u"'a'", 5s, nullptr).status == ScriptStatus::kText;
    const std::vector<pid_t> helper = Children();
    const pid_t pid = ok && helper.size() == 1 ? helper[0] : 0;
    (void)!write(pipeFds[1], &pid, sizeof pid);
    (void)host.Evaluate(u"for (;;) {}", 60s, nullptr);  // killed meanwhile
    _exit(1);
  }
  close(pipeFds[1]);
  pid_t helper = 0;
  ASSERT_EQ(read(pipeFds[0], &helper, sizeof helper), static_cast<ssize_t>(sizeof helper));
  close(pipeFds[0]);
  std::this_thread::sleep_for(100ms);  // the endless script is running
  kill(program, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(program, &status, 0), program);
  ASSERT_GT(helper, 0);
  const auto deadline = std::chrono::steady_clock::now() + 10s;  // the CPU limit is later
  std::string state = ProcessStatusField(helper, "State");
  while (!state.empty() && state[0] != 'Z' && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
    state = ProcessStatusField(helper, "State");
  }
  EXPECT_TRUE(state.empty() || state[0] == 'Z') << state;
}

TEST(ScriptProtocolTest, FramesThatBreakTheRulesAreRefused) {
  const std::string request = EncodeRequest(u"a\u4e2d");
  ASSERT_EQ(request.size(), kRequestHeaderBytes + 4);
  EXPECT_EQ(ParseRequestHeader(reinterpret_cast<const unsigned char*>(request.data())), 4u);
  EXPECT_EQ(Utf16FromBytes(request.substr(kRequestHeaderBytes)), u"a\u4e2d");

  const auto header = [](std::string frame) {
    frame.resize(kAnswerHeaderBytes);
    return ParseAnswerHeader(reinterpret_cast<const unsigned char*>(frame.data()), 100);
  };
  const auto parsed = header(EncodeAnswer(AnswerKind::kScriptError, u"oops"));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->kind, AnswerKind::kScriptError);
  EXPECT_EQ(parsed->bytes, 8u);
  EXPECT_FALSE(header(EncodeAnswer(AnswerKind::kText, std::u16string(51, u'x'))));  // over 100
  EXPECT_FALSE(header(std::string("PLA1\x04\0\0\0\0", 9)));                         // kind
  EXPECT_FALSE(header(std::string("PLA1\x00\x03\0\0\0", 9)));                       // odd
  EXPECT_FALSE(header(std::string("PLA1\x01\x02\0\0\0", 9)));                       // text on none
  EXPECT_FALSE(header(std::string("PLQ1\x00\0\0\0\0", 9)));                         // magic
  EXPECT_FALSE(ParseRequestHeader(reinterpret_cast<const unsigned char*>("PLQ1\x01\0\0\0")));
  EXPECT_FALSE(ParseRequestHeader(reinterpret_cast<const unsigned char*>("PLQ1\0\0\0\x7f")));
}

}  // namespace
}  // namespace pageloom::test
