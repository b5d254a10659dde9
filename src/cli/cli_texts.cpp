#include "cli/cli_texts.h"

#include "base/fixed_text.h"

namespace pageloom::cli {

std::string StatusWord(const TaskSnapshot& snapshot) {
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

std::string MessageText(const Message& message) {
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
      return "cannot create the task's folder; use --save with a folder that can be written";
    case MessageKind::kQueueUnavailable:
      return "cannot open the queue file: the tasks of this run will not last";
    case MessageKind::kQueueSetAside:
      return "the queue file was damaged and has been set aside as " + arg;
    case MessageKind::kPackFailed:
      return "cannot pack the task: " + arg;
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

std::string ReasonText(const FailureReason& reason) {
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

const char* ReasonKey(FailureKind kind) {
  switch (kind) {
    case FailureKind::kHttpStatus:
      return "http";
    case FailureKind::kTimedOut:
      return "timeout";
    case FailureKind::kNoConnection:
      return "no_connection";
    case FailureKind::kCertificateRefused:
      return "refused";
    case FailureKind::kNotAPicture:
      return "not_a_picture";
    case FailureKind::kDiskFull:
      return "disk_full";
    case FailureKind::kTooLarge:
      return "too_large";
    case FailureKind::kCancelled:
      return "cancelled";
    case FailureKind::kBrokenTransfer:
      return "broken_transfer";
    case FailureKind::kUnreadablePage:
      return "unreadable_page";
    case FailureKind::kLimitReached:
      return "limit_reached";
    case FailureKind::kUnknown:
      break;
  }
  return "unknown";
}

}  // namespace pageloom::cli
