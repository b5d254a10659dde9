// The application object: the Qt application, the dialog font, the language, and one run
// of the main dialog; the program ends when the dialog closes.
#pragma once

#include <QString>
#include <memory>

#include "app/controller_settings.h"

class QApplication;

namespace pageloom {

class LanguageScope;

class CpageLoomApp {
 public:
  // Set (to anything) in the environment, this opens the window restored instead of
  // minimised, e.g. to photograph it.
  static constexpr const char* kShowNormalVariable = "PAGELOOM_SHOW_NORMAL";

  CpageLoomApp(int& argc, char** argv);
  ~CpageLoomApp();
  CpageLoomApp(const CpageLoomApp&) = delete;
  CpageLoomApp& operator=(const CpageLoomApp&) = delete;

  // Shows the main dialog and serves it until it closes, keeping what outlives the run
  // (the cookies, the queue) in DataFolder(). Returns the program's exit code.
  int Run();
  // The body of Run: one modal run of the main dialog in the current QApplication, made
  // with `settings` (by default nothing outlives it). SIGTERM, SIGINT and SIGHUP close the
  // dialog as its close button does. With a `settingsFile`, the window's settings are read
  // from it once the window shows and written to it when the window closes.
  static int RunMainDialog(ControllerSettings settings = {}, const QString& settingsFile = {});
  // The settings of the program's dialog.
  static ControllerSettings ProgramSettings();

  // Whether the window opens minimised (unless kShowNormalVariable is set).
  static bool StartsMinimised();
  // Sets the application-wide name, icon and font; used by the constructor and by tests.
  static void Prepare(QApplication& app);

 private:
  std::unique_ptr<QApplication> m_app;
  std::unique_ptr<LanguageScope> m_language;
};

}  // namespace pageloom
