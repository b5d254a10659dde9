#include "app/chinese_texts.h"

#include <QtGlobal>  // QT_TRANSLATE_NOOP: marks the words for the window's catalogue

namespace pageloom::zh {

const char* MessageWords(MessageKind kind) {
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
      return nullptr;  // made of parts
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

const char* WorkerNotStartedWords(std::u16string_view site) {
  return site == u"DMZJ" ? QT_TRANSLATE_NOOP("pageloom::CoreTexts", "创建DMZJ下载线程失败")
                         : QT_TRANSLATE_NOOP("pageloom::CoreTexts", "创建EH下载线程失败");
}

const char* StatusWords(TaskStatus status) {
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

const char* ScriptsBlockedWords() {
  return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "准备中（无法安全运行页面脚本）");
}

const char* MissingCountWords() {
  return QT_TRANSLATE_N_NOOP("pageloom::CoreTexts", "未完成，缺%n张");
}

const char* BannedWords() {
  return QT_TRANSLATE_N_NOOP("pageloom::CoreTexts", "被封禁，%n分钟后重试");
}

const char* MoreMissingWords() { return QT_TRANSLATE_N_NOOP("pageloom::CoreTexts", "……另有%n张"); }

const char* ReasonWords(FailureKind kind) {
  switch (kind) {
    case FailureKind::kHttpStatus:
      return nullptr;
    case FailureKind::kTimedOut:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "超时");
    case FailureKind::kNoConnection:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法连接");
    case FailureKind::kCertificateRefused:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "证书或网址被拒绝");
    case FailureKind::kNotAPicture:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "不是图片");
    case FailureKind::kDiskFull:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法写入磁盘");
    case FailureKind::kTooLarge:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "文件过大");
    case FailureKind::kCancelled:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "已取消");
    case FailureKind::kBrokenTransfer:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "传输中断");
    case FailureKind::kUnreadablePage:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法解析页面");
    case FailureKind::kLimitReached:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "已到达下载上限");
    case FailureKind::kPathTooLong:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "文件路径过长");
    case FailureKind::kUnknown:
      break;
  }
  return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "原因不明");
}

const char* PackRefusalWords(PackRefusal refusal) {
  switch (refusal) {
    case PackRefusal::kNone:
      return nullptr;
    case PackRefusal::kNoFolder:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "文件夹不存在");
    case PackRefusal::kNotATaskFolder:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "不是pageLoom的任务文件夹");
    case PackRefusal::kPictureInFlight:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "还有图片正在下载");
    case PackRefusal::kNoPictures:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "文件夹里没有图片");
    case PackRefusal::kPicturesMissing:
      return MissingCountWords();
    case PackRefusal::kUnfinished:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "任务未完成");
    case PackRefusal::kNoTask:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "任务不存在");
    case PackRefusal::kTakenByOther:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "同名的CBZ属于其他来源，未覆盖");
    case PackRefusal::kBusy:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "另一个程序正在打包该文件夹");
    case PackRefusal::kWriteFailed:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "打包CBZ失败");
    case PackRefusal::kNotNamed:
      return QT_TRANSLATE_NOOP("pageloom::CoreTexts", "打包CBZ失败：无法命名");
  }
  return nullptr;
}

std::string WithNumber(const char* words, long long number) {
  std::string text(words);
  const std::string shown = std::to_string(number);
  for (std::size_t at = text.find("%n"); at != std::string::npos; at = text.find("%n", at)) {
    text.replace(at, 2, shown);
    at += shown.size();
  }
  return text;
}

}  // namespace pageloom::zh
