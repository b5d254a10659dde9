// The buttons of the main window, each handed to the engine as one of its commands.
#include <QCheckBox>
#include <array>
#include <optional>
#include <string>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "engine/task_folder.h"
#include "gui/main_dialog.h"

namespace pageloom {

void CpageLoomDlg::OnBnClickedAdd() {
  const std::u16string typed = AddressText();
  if (!typed.empty()) SetAddressText(std::u16string());
  m_controller.AddAddresses(typed, AddOptions());
}

void CpageLoomDlg::OnBnClickedBrowse() {
  std::array<char16_t, kPathCapacity> folder{};
  const std::optional<std::u16string> picked =
      PickFolder(Message{MessageKind::kPickSaveFolder, {}});
  // A path that does not fit the buffer is no path: cut, it would name another folder.
  if (picked && !picked->empty() && picked->size() < kPathCapacity) {
    CopyWide(folder.data(), kPathCapacity, *picked);
    SetSaveFolderText(std::u16string(WideView(folder.data(), kPathCapacity)));
  } else {
    ShowMessage(Message{MessageKind::kInvalidFolder, {}});
  }
}

void CpageLoomDlg::OnBnClickedStart() { m_controller.Start(); }

void CpageLoomDlg::OnBnClickedPause() { m_controller.Pause(); }

void CpageLoomDlg::OnBnClickedContinue() { m_controller.Continue(); }

void CpageLoomDlg::OnBnClickedDelete() { (void)m_controller.Delete(SelectedTasks()); }

void CpageLoomDlg::OnBnClickedOption() {
  m_autoRename = m_autoRenameBox->isChecked() ? 1 : 0;
  m_followNext = m_followNextBox->isChecked() ? 1 : 0;
}

char16_t* CpageLoomDlg::MakeTaskFolderPath(char16_t* output, char* title) const {
  return pageloom::MakeTaskFolderPath(output, title, SaveFolderText());
}

}  // namespace pageloom
