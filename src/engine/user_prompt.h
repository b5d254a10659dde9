// What the download logic may ask of the user: a message to read, a folder to pick.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pageloom {

class UserPrompt {
 public:
  virtual ~UserPrompt() = default;

  // A modal message box: the text, the exclamation icon, the caption "pageLoom", an OK
  // button. Returns when the user has closed it. May be called from any thread; a call
  // from another thread is carried out on the window thread and waits for it. Once the
  // window is closing it returns at once.
  virtual void ShowMessage(std::u16string_view text) = 0;

  // A folder picker with the given title. Returns the picked folder's path, or nothing
  // when the user cancelled (or the window is closing). Same threading as ShowMessage.
  virtual std::optional<std::u16string> PickFolder(std::u16string_view title) = 0;
};

}  // namespace pageloom
