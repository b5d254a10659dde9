#include "gui/application.h"

#include <QApplication>
#include <QIcon>
#include <cstdlib>

#include "app/task_controller.h"
#include "base/version.h"
#include "gui/dialog_units.h"
#include "gui/language.h"
#include "gui/main_dialog.h"
#include "gui/stop_signals.h"
#include "store/data_folder.h"

namespace pageloom {

CpageLoomApp::CpageLoomApp(int& argc, char** argv)
    : m_app(std::make_unique<QApplication>(argc, argv)) {
  Prepare(*m_app);
  m_language = std::make_unique<LanguageScope>(LanguageFromEnvironment());
}

CpageLoomApp::~CpageLoomApp() = default;

void CpageLoomApp::Prepare(QApplication& app) {
  QApplication::setApplicationName(QStringLiteral("pageLoom"));
  QApplication::setApplicationVersion(QLatin1String(kVersion));
  QGuiApplication::setDesktopFileName(QStringLiteral("pageloom"));
  QApplication::setWindowIcon(AppIcon());
  // Message boxes and pickers share the dialogs' font, so the Chinese texts render.
  QApplication::setFont(DialogFont());
  app.setQuitOnLastWindowClosed(false);
}

bool CpageLoomApp::StartsMinimised() { return std::getenv(kShowNormalVariable) == nullptr; }

int CpageLoomApp::Run() { return RunMainDialog(ProgramSettings()); }

ControllerSettings CpageLoomApp::ProgramSettings() {
  ControllerSettings settings;
  settings.dataFolder = DataFolder();
  return settings;
}

int CpageLoomApp::RunMainDialog(ControllerSettings settings) {
  CpageLoomDlg dialog(std::move(settings));
  if (dialog.Controller().Queue() == QueueState::kInUse) {
    // Another pageLoom has the queue: two programs never write one queue.
    dialog.ShowAlreadyRunning();
    return 1;
  }
  // Asked to stop from outside: whatever box is open goes, then the window closes (after
  // the command that opened the box has returned).
  StopSignals stopSignals([&dialog] {
    for (int guard = 0; guard < 16; ++guard) {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal == &dialog) break;
      modal->close();
    }
    dialog.close();
  });
  if (StartsMinimised()) {
    dialog.showMinimized();  // opens as a taskbar entry; the user restores it
  } else {
    dialog.show();
  }
  dialog.exec();
  return 0;
}

}  // namespace pageloom
