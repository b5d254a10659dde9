// What the window keeps between runs: the save folder, its options (check boxes and
// checkable menu entries, by object name), its size and the widths of the table's columns.
// They are kept in an INI file, by default $XDG_CONFIG_HOME/pageLoom/pageLoom.conf
// (~/.config/pageLoom/pageLoom.conf). A file that is missing, or a key that is missing or
// holds no usable value, leaves the window as it is made.
//
// A new option is kept by adding its object name and key to kKeptOptions (window_settings.cpp).
#pragma once

#include <QString>

namespace pageloom {

class CpageLoomDlg;

class WindowSettings {
 public:
  explicit WindowSettings(QString file);

  // The settings file of the program: pageLoom/pageLoom.conf in the user's config folder.
  [[nodiscard]] static QString DefaultFile();

  // Lays what the file keeps over the dialog. Options are changed by clicking them, so the
  // logic learns of them as of a user's click. Call it once the dialog has been shown.
  void Restore(CpageLoomDlg& dialog) const;
  // Writes the dialog's settings; false when the file could not be written.
  [[nodiscard]] bool Save(const CpageLoomDlg& dialog) const;

  [[nodiscard]] const QString& File() const { return m_file; }

 private:
  QString m_file;
};

}  // namespace pageloom
