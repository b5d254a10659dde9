#include "cli/cli_texts.h"

#include <cstdlib>

#include "app/chinese_texts.h"
#include "app/task_controller.h"
#include "base/fixed_text.h"

namespace pageloom::cli {

namespace {

std::string PackFailedText(const Message& message, UiLanguage language);

std::string ChineseStatus(const TaskSnapshot& snapshot) {
  if (snapshot.status == TaskStatus::kPreparing && snapshot.scriptsBlocked)
    return zh::ScriptsBlockedWords();
  if (snapshot.status == TaskStatus::kIncomplete && !snapshot.missing.empty())
    return zh::WithNumber(zh::MissingCountWords(), static_cast<long long>(snapshot.missing.size()));
  if (snapshot.status == TaskStatus::kBanned)
    return zh::WithNumber(zh::BannedWords(), snapshot.banMinutes);
  return zh::StatusWords(snapshot.status);
}

std::string ChineseMessage(const Message& message) {
  const std::string arg = message.args.empty() ? std::string() : ToUtf8(message.args.front());
  switch (message.kind) {
    case MessageKind::kWorkerNotStarted:
      return zh::WorkerNotStartedWords(message.args.empty() ? u"" : message.args.front());
    case MessageKind::kBanned:
      return zh::WithNumber(zh::BannedWords(), std::atoll(arg.c_str()));
    case MessageKind::kPackFailed:
      return PackFailedText(message, UiLanguage::kChinese);
    case MessageKind::kLoginNeeded:  // the window's words send the user to its own command
      return "解析网址失败，该图库可能只对登录用户显示。请用浏览器登录，导出其cookie，并用 "
             "--cookies 文件 传给本程序";
    case MessageKind::kFolderNotCreated:
      return "无法创建任务文件夹，请用 --save 指定一个可写的文件夹：" + arg;
    case MessageKind::kDataFolderNotMade:
    case MessageKind::kRecordUnavailable:
      return zh::MessageWords(message.kind) + arg +
             (message.args.size() > 1 ? " (" + ToUtf8(message.args[1]) + ")" : "");
    default:
      break;
    case MessageKind::kCheckedRecently: {
      std::string comics;
      for (const std::u16string& comic : message.args)
        comics += (comics.empty() ? "" : "、") + ToUtf8(comic);
      return zh::MessageWords(message.kind) + comics;
    }
  }
  const char* words = zh::MessageWords(message.kind);
  return (words != nullptr ? std::string(words) : std::string("?")) + arg;
}

std::string ChineseReason(const FailureReason& reason) {
  if (reason.kind == FailureKind::kHttpStatus) return "HTTP " + std::to_string(reason.httpStatus);
  std::string text = zh::ReasonWords(reason.kind);
  if (reason.kind == FailureKind::kNotAPicture)
    text += " (" + (reason.contentType.empty() ? std::string("-") : reason.contentType) + ")";
  return text;
}

// "reason: archive" of a kPackFailed message.
std::string PackFailedText(const Message& message, UiLanguage language) {
  PackResult result;
  result.refusal = RefusalOf(message);
  const auto arg = [&](std::size_t i) {
    return i < message.args.size() ? ToUtf8(message.args[i]) : std::string();
  };
  result.missingCount = std::atoi(arg(2).c_str());
  result.detail = arg(3);
  return PackRefusalText(result, language) + ": " + arg(0);
}

std::string EnglishRefusal(PackRefusal refusal, int missing) {
  switch (refusal) {
    case PackRefusal::kNone:
      break;
    case PackRefusal::kNoFolder:
      return "no such folder";
    case PackRefusal::kNotATaskFolder:
      return "not a task folder of pageLoom";
    case PackRefusal::kPictureInFlight:
      return "a picture is still being downloaded";
    case PackRefusal::kNoPictures:
      return "no picture in the folder";
    case PackRefusal::kPicturesMissing:
      return std::to_string(missing) + (missing == 1 ? " picture" : " pictures") + " missing";
    case PackRefusal::kUnfinished:
      return "the task has not finished";
    case PackRefusal::kNoTask:
      return "no such task";
    case PackRefusal::kTakenByOther:
      return "a CBZ of another source has that name; left as it is";
    case PackRefusal::kBusy:
      return "another program is packing the folder";
    case PackRefusal::kWriteFailed:
      return "cannot write the CBZ";
    case PackRefusal::kNotNamed:
      return "cannot give the CBZ its name";
  }
  return "not packed";
}

}  // namespace

std::string PackRefusalText(const PackResult& result, UiLanguage language) {
  std::string text;
  if (language == UiLanguage::kChinese) {
    const char* words = zh::PackRefusalWords(result.refusal);
    text = words == nullptr ? "?" : zh::WithNumber(words, result.missingCount);
  } else {
    text = EnglishRefusal(result.refusal, result.missingCount);
  }
  return result.detail.empty() ? text : text + " (" + result.detail + ")";
}

std::string Say(UiLanguage language, const char* english, const char* chinese,
                const std::vector<std::string>& args) {
  const std::string pattern = language == UiLanguage::kChinese ? chinese : english;
  std::string text;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (pattern[i] == '%' && next >= '1' && next <= '9') {
      const std::size_t arg = static_cast<std::size_t>(next - '1');
      if (arg < args.size()) text += args[arg];
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

std::string StatusWord(const TaskSnapshot& snapshot, UiLanguage language) {
  if (snapshot.notSaved) {
    TaskSnapshot saved = snapshot;
    saved.notSaved = false;
    return StatusWord(saved, language) + Say(language, " (not saved)", "（进度未保存）");
  }
  if (language == UiLanguage::kChinese) return ChineseStatus(snapshot);
  switch (snapshot.status) {
    case TaskStatus::kPreparing:
      return snapshot.scriptsBlocked ? "queued (page scripts cannot run safely here)" : "queued";
    case TaskStatus::kWaiting:
      return "waiting";
    case TaskStatus::kDownloading:
      return "downloading";
    case TaskStatus::kPaused:
      return "paused";
    case TaskStatus::kFinished:
      return "finished";
    case TaskStatus::kIncomplete:
      if (snapshot.missing.empty()) return "unfinished";
      return std::to_string(snapshot.missing.size()) + " missing";
    case TaskStatus::kBanned:
      return "banned, retry in " + std::to_string(snapshot.banMinutes) + " min";
    case TaskStatus::kUnknown:
      break;
  }
  return "unknown";
}

std::string ProgressText(const TaskSnapshot& snapshot) {
  return std::to_string(snapshot.fileNumber) + "/" + std::to_string(snapshot.ShownCount());
}

std::string MessageText(const Message& message, UiLanguage language) {
  if (language == UiLanguage::kChinese) return ChineseMessage(message);
  const std::string arg = message.args.empty() ? std::string() : ToUtf8(message.args.front());
  switch (message.kind) {
    case MessageKind::kEnterAddress:
      return "no address given";
    case MessageKind::kUnsupportedSite:
      return "addresses of this site are not supported";
    case MessageKind::kInvalidFolder:
      return "not a folder that can be used";
    case MessageKind::kSelectRows:
      return "no task chosen";
    case MessageKind::kWorkerNotStarted:
      return "cannot start the " + arg + " download thread";
    case MessageKind::kLimitReached:
      return "the site's download limit is reached: clear its cookies and try again from "
             "another address";
    case MessageKind::kLoginNeeded:
      return "cannot read the gallery: it may be shown to members only; log in with a browser, "
             "export its cookies and pass them with --cookies FILE";
    case MessageKind::kPickSaveFolder:
      return "choose a save folder";
    case MessageKind::kFolderNotCreated:
      return "cannot create the task's folder; use --save with a folder that can be written: " +
             arg;
    case MessageKind::kQueueUnavailable:
      return "cannot open the queue file: the tasks of this run will not last";
    case MessageKind::kQueueSetAside:
      return "the queue file was damaged and has been set aside as " + arg;
    case MessageKind::kPackFailed:
      return "cannot pack the task: " + PackFailedText(message, language);
    case MessageKind::kScriptsUnsafe:
      return "this system cannot confine page scripts (no seccomp): the picture lists of DMZJ "
             "chapters cannot be read, and those chapters stay queued";
    case MessageKind::kBanned:
      return "banned by the site, retry in " + arg + " min";
    case MessageKind::kPathTooLong:
      return "the file's path is too long; the picture was not saved: " + arg;
    case MessageKind::kTaskFolderNotMade:
      return "cannot create the task's folder; the task was not added: " + arg;
    case MessageKind::kDataFolderNotMade:
      return "cannot create the data folder or its lock file; the tasks of this run will not "
             "last: " +
             arg + (message.args.size() > 1 ? " (" + ToUtf8(message.args[1]) + ")" : "");
    case MessageKind::kQueueSaveFailing:
      return "the tasks' progress cannot be saved to the queue file; tried again at the next "
             "step: " +
             arg;
    case MessageKind::kQueueSavingAgain:
      return "the tasks' progress is saved to the queue file again";
    case MessageKind::kCannotOpenFolder:
      return "cannot open the folder: " + arg;
    case MessageKind::kCheckedRecently: {
      std::string comics;
      for (const std::u16string& comic : message.args)
        comics += (comics.empty() ? "" : ", ") + ToUtf8(comic);
      return "checked less than 10 minutes ago, not checked again (--force checks anyway): " +
             comics;
    }
    case MessageKind::kRecordUnavailable:
      return "cannot open the download record; this run's downloads are not recorded: " + arg +
             (message.args.size() > 1 ? " (" + ToUtf8(message.args[1]) + ")" : "");
  }
  return "?";
}

std::string ReasonText(const FailureReason& reason, UiLanguage language) {
  if (language == UiLanguage::kChinese) return ChineseReason(reason);
  switch (reason.kind) {
    case FailureKind::kHttpStatus:
      return "HTTP " + std::to_string(reason.httpStatus);
    case FailureKind::kTimedOut:
      return "timed out";
    case FailureKind::kNoConnection:
      return "no connection";
    case FailureKind::kCertificateRefused:
      return "certificate or address refused";
    case FailureKind::kNotAPicture:
      return "not a picture (" +
             (reason.contentType.empty() ? std::string("no type") : reason.contentType) + ")";
    case FailureKind::kDiskFull:
      return "cannot write to the disk";
    case FailureKind::kTooLarge:
      return "too large";
    case FailureKind::kCancelled:
      return "cancelled";
    case FailureKind::kBrokenTransfer:
      return "transfer broken off";
    case FailureKind::kUnreadablePage:
      return "page not understood";
    case FailureKind::kLimitReached:
      return "download limit reached";
    case FailureKind::kPathTooLong:
      return "path too long";
    case FailureKind::kUnknown:
      break;
  }
  return "reason unknown";
}

const char* StatusKey(TaskStatus status) {
  switch (status) {
    case TaskStatus::kPreparing:
      return "preparing";
    case TaskStatus::kWaiting:
      return "waiting";
    case TaskStatus::kDownloading:
      return "downloading";
    case TaskStatus::kPaused:
      return "paused";
    case TaskStatus::kFinished:
      return "finished";
    case TaskStatus::kIncomplete:
      return "incomplete";
    case TaskStatus::kBanned:
      return "banned";
    case TaskStatus::kUnknown:
      break;
  }
  return "unknown";
}

const char* ReasonKey(FailureKind kind) { return FailureKindKey(kind); }

}  // namespace pageloom::cli
