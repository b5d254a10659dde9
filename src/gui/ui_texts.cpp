#include "gui/ui_texts.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextDocument>
#include <iterator>

#include "app/chinese_texts.h"
#include "app/task_controller.h"

namespace pageloom {

namespace {

// The most missing pictures a tooltip names one by one.
constexpr int kMissingNamed = 10;
// Row texts hold at most this many units.
constexpr int kRowTextUnits = 19;

QString Tr(const char* source) { return QCoreApplication::translate(zh::kTextContext, source); }

QString Arg(const Message& message, std::size_t i) {
  if (i >= message.args.size()) return {};
  const std::u16string& arg = message.args[i];
  return QString::fromStdU16String(arg);
}

// "被封禁，X分钟后重试": a banned task's status, and what the user is told of the ban.
QString BannedSource(int minutes) {
  return QString::fromStdString(zh::WithNumber(zh::BannedWords(), minutes)).left(kRowTextUnits);
}

QString BannedText(int minutes) {
  return QCoreApplication::translate(zh::kTextContext, zh::BannedWords(), nullptr, minutes);
}

}  // namespace

QString MessageText(const Message& message) {
  if (message.kind == MessageKind::kWorkerNotStarted) {
    return Tr(zh::WorkerNotStartedWords(message.args.empty() ? u"" : message.args.front()));
  }
  if (message.kind == MessageKind::kPackFailed) {
    PackResult result;
    result.refusal = RefusalOf(message);
    result.missingCount = Arg(message, 2).toInt();
    result.detail = Arg(message, 3).toStdString();
    return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "%1：%2"))
        .arg(PackRefusalText(result), Arg(message, 0));
  }
  if (message.kind == MessageKind::kBanned) return BannedText(Arg(message, 0).toInt());
  const QString text = Tr(zh::MessageWords(message.kind));
  if (message.kind == MessageKind::kDataFolderNotMade ||
      message.kind == MessageKind::kRecordUnavailable)
    return text + Arg(message, 0) + QStringLiteral(" (") + Arg(message, 1) + QStringLiteral(")");
  if (message.kind == MessageKind::kCheckedRecently) {
    QStringList comics;
    for (const std::u16string& comic : message.args) comics << QString::fromStdU16String(comic);
    return text + comics.join(QStringLiteral("、"));
  }
  if (!message.args.empty()) return text + Arg(message, 0);  // a path or a reason goes on
  return text;
}

QString PackRefusalText(const PackResult& result) {
  const char* words = zh::PackRefusalWords(result.refusal);
  if (words == nullptr) return {};
  QString text =
      result.refusal == PackRefusal::kPicturesMissing
          ? QCoreApplication::translate(zh::kTextContext, words, nullptr, result.missingCount)
          : Tr(words);
  if (!result.detail.empty())
    text += QStringLiteral(" (") + QString::fromStdString(result.detail) + QStringLiteral(")");
  return text;
}

QString AlreadyRunningText() {
  return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "pageLoom 已在运行。"));
}

QString StatusSource(const TaskSnapshot& snapshot) {
  if (snapshot.status == TaskStatus::kBanned) return BannedSource(snapshot.banMinutes);
  if (snapshot.status == TaskStatus::kPreparing && snapshot.scriptsBlocked)
    return QString::fromUtf8(zh::ScriptsBlockedWords());
  const int missing = static_cast<int>(snapshot.missing.size());
  if (snapshot.status == TaskStatus::kIncomplete && missing > 0)
    return QString::fromStdString(zh::WithNumber(zh::MissingCountWords(), missing))
        .left(kRowTextUnits);
  return QString::fromUtf8(zh::StatusWords(snapshot.status));
}

QString StatusShown(const TaskSnapshot& snapshot) {
  if (snapshot.notSaved) {
    TaskSnapshot saved = snapshot;
    saved.notSaved = false;
    return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "%1（进度未保存）")).arg(StatusShown(saved));
  }
  if (snapshot.status == TaskStatus::kBanned) return BannedText(snapshot.banMinutes);
  if (snapshot.status == TaskStatus::kPreparing && snapshot.scriptsBlocked)
    return Tr(zh::ScriptsBlockedWords());
  const int missing = static_cast<int>(snapshot.missing.size());
  if (snapshot.status == TaskStatus::kIncomplete && missing > 0)
    return QCoreApplication::translate(zh::kTextContext, zh::MissingCountWords(), nullptr, missing);
  return Tr(zh::StatusWords(snapshot.status));
}

QString ProgressSource(const TaskSnapshot& snapshot) {
  return QStringLiteral("%1/%2")
      .arg(snapshot.fileNumber)
      .arg(snapshot.ShownCount())
      .left(kRowTextUnits);
}

QString ReasonText(const FailureReason& reason) {
  if (reason.kind == FailureKind::kHttpStatus)
    return QStringLiteral("HTTP %1").arg(reason.httpStatus);
  QString text = Tr(zh::ReasonWords(reason.kind));
  if (reason.kind == FailureKind::kNotAPicture)
    text += QStringLiteral(" (") +
            (reason.contentType.empty() ? QStringLiteral("-")
                                        : QString::fromStdString(reason.contentType)) +
            QStringLiteral(")");
  return text;
}

QString StatusDetail(const TaskSnapshot& snapshot) {
  QStringList lines{StatusShown(snapshot)};
  const int missing = static_cast<int>(snapshot.missing.size());
  for (int i = 0; i < missing && i < kMissingNamed; ++i) {
    const MissingFile& file = snapshot.missing[static_cast<std::size_t>(i)];
    lines << QString::fromStdU16String(file.fileName) + QStringLiteral(": ") +
                 ReasonText(file.reason);
  }
  if (missing > kMissingNamed)
    lines << QCoreApplication::translate(zh::kTextContext, zh::MoreMissingWords(), nullptr,
                                         missing - kMissingNamed);
  if (missing == 0 && snapshot.lastError && snapshot.status != TaskStatus::kFinished)
    lines << ReasonText(*snapshot.lastError);
  if (snapshot.notSaved)
    lines << Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts",
                                  "这一步的进度无法保存到任务队列文件，将在下一步重试。"));
  return lines.join(QLatin1Char('\n'));
}

QString PlainToolTip(const QString& text) {
  if (text.isEmpty()) return {};
  return Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

QString ByteCountText(std::uint64_t bytes) {
  constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  if (bytes < 1024) return QStringLiteral("%1 B").arg(bytes);
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  const int decimals = value < 10.0 && unit >= 2 ? 2 : 1;
  return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(kUnits[unit]));
}

}  // namespace pageloom
