#include "gui/ui_texts.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextDocument>
#include <iterator>

namespace pageloom {

namespace {

constexpr const char* kContext = "pageloom::CoreTexts";
// The most missing pictures a tooltip names one by one.
constexpr int kMissingNamed = 10;
// Row texts hold at most this many units.
constexpr int kRowTextUnits = 19;

QString Tr(const char* source) { return QCoreApplication::translate(kContext, source); }

const char* MessageSource(MessageKind kind) {
  switch (kind) {
    case MessageKind::kEnterAddress:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "请输入网址");
    case MessageKind::kUnsupportedSite:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "暂时不支持该网站漫画下载");
    case MessageKind::kInvalidFolder:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无效的目录，请重新选择");
    case MessageKind::kSelectRows:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "请选择至少一行数据");
    case MessageKind::kWorkerNotStarted:
    case MessageKind::kPackFailed:
    case MessageKind::kBanned:
      return nullptr;  // below
    case MessageKind::kLimitReached:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "已到达下载上限。请清空cookie，换IP后重试。");
    case MessageKind::kLoginNeeded:
      return QT_TRANSLATE_NOOP(
          "pageloom::CoreTexts",
          "解析网址失败，可能由于已经过了9点，需要登录才能下载。请到e绅士论坛注册并用ie登录后重试");
    case MessageKind::kPickSaveFolder:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "请选择漫画下载目录：");
    case MessageKind::kFolderNotCreated:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "创建文件夹失败，请手动选择漫画保存文件夹：");
    case MessageKind::kQueueUnavailable:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts",
                               "无法打开任务队列文件，本次添加的任务不会被保存。");
    case MessageKind::kQueueSetAside:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "任务队列文件已损坏，已另存为：");
    case MessageKind::kPathTooLong:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "文件路径过长，图片未保存：");
    case MessageKind::kTaskFolderNotMade:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法创建任务文件夹，任务未添加：");
    case MessageKind::kDataFolderNotMade:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts",
                               "无法创建数据文件夹或锁文件，本次添加的任务不会被保存：");
    case MessageKind::kQueueSaveFailing:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts",
                               "任务进度无法保存到任务队列文件，将在下一步重试：");
    case MessageKind::kQueueSavingAgain:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "任务进度又能保存到任务队列文件了。");
    case MessageKind::kCannotOpenFolder:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法打开文件夹：");
    case MessageKind::kCheckedRecently:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "10分钟内检查过，这次未检查：");
    case MessageKind::kRecordUnavailable:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法打开下载记录，本次下载不会被记录：");
    case MessageKind::kScriptsUnsafe:
      return QT_TRANSLATE_NOOP(
          "pageloom::CoreTexts",
          "本系统不能隔离页面脚本（不支持seccomp），无法读取DMZJ漫画的图片列表，这些章"
          "节将保持“准备中”。");
  }
  return nullptr;
}

QString Arg(const Message& message, std::size_t i) {
  if (i >= message.args.size()) return {};
  const std::u16string& arg = message.args[i];
  return QString::fromStdU16String(arg);
}

// "被封禁，X分钟后重试": a banned task's status, and what the user is told of the ban.
QString BannedSource(int minutes) {
  return QString::fromUtf8("被封禁，%1分钟后重试").arg(minutes).left(kRowTextUnits);
}

QString BannedText(int minutes) {
  return QCoreApplication::translate("pageloom::CoreTexts", "被封禁，%n分钟后重试", nullptr,
                                     minutes);
}

const char* StatusWord(TaskStatus status) {
  switch (status) {
    case TaskStatus::kPreparing:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "准备中");
    case TaskStatus::kWaiting:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "等待中");
    case TaskStatus::kDownloading:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "下载中");
    case TaskStatus::kPaused:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "暂停中");
    case TaskStatus::kFinished:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "已完成");
    case TaskStatus::kIncomplete:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "未完成");
    case TaskStatus::kBanned:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "被封禁");
    case TaskStatus::kUnknown:
      break;
  }
  return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "未知");
}

const char* ScriptsBlockedWord() {
  return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "准备中（无法安全运行页面脚本）");
}

}  // namespace

QString MessageText(const Message& message) {
  if (message.kind == MessageKind::kWorkerNotStarted) {
    return Arg(message, 0) == QLatin1String("DMZJ")
               ? Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "创建DMZJ下载线程失败"))
               : Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "创建EH下载线程失败"));
  }
  if (message.kind == MessageKind::kPackFailed) return Arg(message, 0);  // the packer's words
  if (message.kind == MessageKind::kBanned) return BannedText(Arg(message, 0).toInt());
  const QString text = Tr(MessageSource(message.kind));
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

QString AlreadyRunningText() {
  return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "pageLoom 已在运行。"));
}

QString StatusSource(const TaskSnapshot& snapshot) {
  if (snapshot.status == TaskStatus::kBanned) return BannedSource(snapshot.banMinutes);
  if (snapshot.status == TaskStatus::kPreparing && snapshot.scriptsBlocked)
    return QString::fromUtf8(ScriptsBlockedWord());
  const int missing = static_cast<int>(snapshot.missing.size());
  if (snapshot.status == TaskStatus::kIncomplete && missing > 0)
    return QString::fromUtf8("未完成，缺%1张").arg(missing).left(kRowTextUnits);
  return QString::fromUtf8(StatusWord(snapshot.status));
}

QString StatusShown(const TaskSnapshot& snapshot) {
  if (snapshot.status == TaskStatus::kBanned) return BannedText(snapshot.banMinutes);
  if (snapshot.status == TaskStatus::kPreparing && snapshot.scriptsBlocked)
    return Tr(ScriptsBlockedWord());
  const int missing = static_cast<int>(snapshot.missing.size());
  if (snapshot.status == TaskStatus::kIncomplete && missing > 0)
    return QCoreApplication::translate("pageloom::CoreTexts", "未完成，缺%n张", nullptr, missing);
  return Tr(StatusWord(snapshot.status));
}

QString ProgressSource(const TaskSnapshot& snapshot) {
  return QStringLiteral("%1/%2")
      .arg(snapshot.fileNumber)
      .arg(snapshot.ShownCount())
      .left(kRowTextUnits);
}

QString ReasonText(const FailureReason& reason) {
  switch (reason.kind) {
    case FailureKind::kHttpStatus:
      return QStringLiteral("HTTP %1").arg(reason.httpStatus);
    case FailureKind::kTimedOut:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "超时"));
    case FailureKind::kNoConnection:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法连接"));
    case FailureKind::kCertificateRefused:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "证书或网址被拒绝"));
    case FailureKind::kNotAPicture:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "不是图片")) + QStringLiteral(" (") +
             (reason.contentType.empty() ? QStringLiteral("-")
                                         : QString::fromStdString(reason.contentType)) +
             QStringLiteral(")");
    case FailureKind::kDiskFull:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法写入磁盘"));
    case FailureKind::kTooLarge:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "文件过大"));
    case FailureKind::kCancelled:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "已取消"));
    case FailureKind::kBrokenTransfer:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "传输中断"));
    case FailureKind::kUnreadablePage:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法解析页面"));
    case FailureKind::kLimitReached:
      return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "已到达下载上限"));
    case FailureKind::kUnknown:
      break;
  }
  return Tr(QT_TRANSLATE_NOOP("pageloom::CoreTexts", "原因不明"));
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
    lines << QCoreApplication::translate("pageloom::CoreTexts", "……另有%n张", nullptr,
                                         missing - kMissingNamed);
  if (missing == 0 && snapshot.lastError && snapshot.status != TaskStatus::kFinished)
    lines << ReasonText(*snapshot.lastError);
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
