// The application object: the Qt application, the dialog font, and one run of the main
// dialog; the program ends when the dialog closes.
#pragma once

#include <memory>

class QApplication;

namespace pageloom {

class CpageLoomApp {
 public:
  // Set (to anything) in the environment, this opens the window restored instead of
  // minimised, e.g. to photograph it.
  static constexpr const char* kShowNormalVariable = "PAGELOOM_SHOW_NORMAL";

  CpageLoomApp(int& argc, char** argv);
  ~CpageLoomApp();
  CpageLoomApp(const CpageLoomApp&) = delete;
  CpageLoomApp& operator=(const CpageLoomApp&) = delete;

  // Shows the main dialog and serves it until it closes. Returns the program's exit code.
  int Run();
  // The body of Run: one modal run of the main dialog in the current QApplication.
  static int RunMainDialog();

  // Whether the window opens minimised (unless kShowNormalVariable is set).
  static bool StartsMinimised();
  // Sets the application-wide name, icon and font; used by the constructor and by tests.
  static void Prepare(QApplication& app);

 private:
  std::unique_ptr<QApplication> m_app;
};

}  // namespace pageloom
