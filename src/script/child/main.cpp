// pageloom-script: evaluates page scripts for pageLoom, one expression per request read
// from standard input, each in a fresh engine, answering on standard output until the
// input ends. It limits itself before the first evaluation (see sandbox.h); the program
// that started it kills it when an evaluation takes too long or the window closes.
#include <QCoreApplication>
#include <QJSEngine>
#include <QJSValue>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <unistd.h>

#include "script/child/sandbox.h"
#include "script/script_protocol.h"

namespace {

using pageloom::AnswerKind;

constexpr int kMaxErrorUnits = 1000;

enum class ReadResult { kComplete, kEnded, kFailed };

ReadResult ReadAll(int fd, char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0) {
      return done == 0 ? ReadResult::kEnded : ReadResult::kFailed;
    } else if (errno != EINTR) {
      return ReadResult::kFailed;
    }
  }
  return ReadResult::kComplete;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

// One expression in a bare engine: only the language's own objects.
AnswerKind Evaluate(const std::u16string& source, std::u16string& text) {
  QJSEngine engine;
  QStringList trace;
  const QJSValue result =
      engine.evaluate(QString::fromUtf16(source.data(), static_cast<qsizetype>(source.size())),
                      QString(), 1, &trace);
  if (result.isError() || !trace.isEmpty() || engine.hasError()) {
    text = result.toString().left(kMaxErrorUnits).toStdU16String();
    return AnswerKind::kScriptError;
  }
  if (!result.isString()) return AnswerKind::kNotText;
  const QString value = result.toString();
  if (static_cast<std::size_t>(value.size()) > pageloom::kMaxAnswerBytes / 2)
    return AnswerKind::kTooLarge;
  text = value.toStdU16String();
  return AnswerKind::kText;
}

// Answers requests until standard input ends (0) or breaks the protocol (2).
int Serve() {
  for (;;) {
    unsigned char header[pageloom::kRequestHeaderBytes];
    switch (ReadAll(STDIN_FILENO, reinterpret_cast<char*>(header), sizeof header)) {
      case ReadResult::kEnded:
        return 0;
      case ReadResult::kFailed:
        return 2;
      case ReadResult::kComplete:
        break;
    }
    const auto bytes = pageloom::ParseRequestHeader(header);
    if (!bytes) return 2;
    std::string payload(*bytes, '\0');
    if (ReadAll(STDIN_FILENO, payload.data(), payload.size()) != ReadResult::kComplete) return 2;

    pageloom::script_child::AllowCpuForNextEvaluation();
    std::u16string text;
    const AnswerKind kind = Evaluate(pageloom::Utf16FromBytes(payload), text);
    if (!WriteAll(STDOUT_FILENO, pageloom::EncodeAnswer(kind, text))) return 2;
  }
}

bool Debugging() {
  const char* value = std::getenv("PAGELOOM_DEBUG");
  return value != nullptr && std::strcmp(value, "0") != 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Started as: pageloom-script --parent <pid of the program>
  const pid_t parent = argc == 3 && std::strcmp(argv[1], "--parent") == 0
                           ? static_cast<pid_t>(std::strtol(argv[2], nullptr, 10))
                           : 0;
  if (parent <= 0) {
    std::fputs("pageloom-script: evaluates page scripts for pageLoom; not for direct use\n",
               stderr);
    return 2;
  }
  if (!pageloom::script_child::RestrictProcess(parent)) {
    if (Debugging()) std::perror("pageloom-script: cannot limit itself");
    return pageloom::kHelperCannotLimitItself;
  }
  int qtArgc = 1;  // the program's name only: no option reaches Qt
  QCoreApplication application(qtArgc, argv);
  // The engine reads its files (time zone, logging rules) on its first use: before the
  // filter, which lets no file be opened.
  std::u16string ignored;
  (void)Evaluate(u"String(new Date(0))", ignored);
  if (!pageloom::script_child::AllowOnlyEvaluation()) {
    if (Debugging()) std::perror("pageloom-script: cannot install its filter");
    return pageloom::kHelperCannotLimitItself;
  }
  return Serve();
}
