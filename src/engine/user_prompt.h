// What the download logic may ask of the user: a message to read, a folder to pick. The
// logic names what it has to say; the front end chooses the words.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pageloom {

enum class MessageKind {
  kEnterAddress,       // the address box is empty
  kUnsupportedSite,    // no site takes the address
  kInvalidFolder,      // the folder picked is no folder
  kSelectRows,         // Delete with nothing selected
  kWorkerNotStarted,   // args: the site's short name ("EH", "DMZJ")
  kLimitReached,       // the site's download limit is used up
  kLoginNeeded,        // a gallery is only shown to a visitor who has logged in
  kPickSaveFolder,     // title of the save-folder picker
  kFolderNotCreated,   // title of the picker shown when a task folder cannot be made; args:
                       // that folder
  kQueueUnavailable,   // the lasting queue cannot be opened
  kQueueSetAside,      // args: where the damaged queue file was put
  kScriptsUnsafe,      // page scripts cannot be run safely here: chapters stay waiting
  kPackFailed,         // args: the archive, why it was not made (see PackFailedMessage)
  kBanned,             // args: the minutes the site's ban lasts yet
  kPathTooLong,        // args: the path a picture would have had
  kTaskFolderNotMade,  // args: the task folder that could not be made (the task is not added)
  kDataFolderNotMade,  // args: the data folder (this Add's tasks are not kept)
  kQueueSaveFailing,   // args: the queue file's reason; the next step tries again
  kQueueSavingAgain,   // the queue file can be written again
  kCannotOpenFolder,   // args: the folder the file manager could not show
  kRecordUnavailable,  // args: the download record's file, the reason (nothing is recorded)
  kCheckedRecently,    // args: the comics checked a moment ago, not checked again now
};

struct Message {
  MessageKind kind = MessageKind::kEnterAddress;
  std::vector<std::u16string> args;
  bool operator==(const Message& other) const { return kind == other.kind && args == other.args; }
};

class UserPrompt {
 public:
  virtual ~UserPrompt() = default;

  // A modal message box: the text, the exclamation icon, the caption "pageLoom", an OK
  // button. Returns when the user has closed it. May be called from any thread; a call
  // from another thread is carried out on the window thread and waits for it. Once the
  // window is closing it returns at once.
  virtual void ShowMessage(const Message& message) = 0;

  // A folder picker with the given title. Returns the picked folder's path, or nothing
  // when the user cancelled (or the window is closing). Same threading as ShowMessage.
  virtual std::optional<std::u16string> PickFolder(const Message& title) = 0;
};

}  // namespace pageloom
