#include "gui/application.h"

#include <QApplication>
#include <QIcon>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/task_controller.h"
#include "base/debug_line.h"
#include "base/version.h"
#include "gui/dialog_units.h"
#include "gui/language.h"
#include "gui/main_dialog.h"
#include "gui/stop_signals.h"
#include "gui/window_beacon.h"
#include "gui/window_settings.h"
#include "store/data_folder.h"

namespace pageloom {

namespace {

// How long a second start waits for the first window to answer.
constexpr std::chrono::seconds kBeaconWait{5};

}  // namespace

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

int CpageLoomApp::Run() { return RunMainDialog(ProgramSettings(), WindowSettings::DefaultFile()); }

ControllerSettings CpageLoomApp::ProgramSettings() {
  ControllerSettings settings;
  settings.dataFolder = DataFolder();
  return settings;
}

int CpageLoomApp::RunMainDialog(ControllerSettings settings, const QString& settingsFile) {
  // The engine first: the window is handed it, and it outlives the window.
  TaskController engine(std::move(settings));
  CpageLoomDlg dialog(engine);
  const std::filesystem::path& dataFolder = engine.Settings().dataFolder;
  if (engine.Queue() == QueueState::kInUse) {
    // Another pageLoom has the queue: two programs never write one queue. Its window comes
    // to the front instead; only when it does not answer is it said.
    if (WindowBeacon::AskToShow(WindowBeacon::SocketName(dataFolder), kBeaconWait)) return 0;
    dialog.ShowAlreadyRunning();
    return 1;
  }
  std::optional<WindowBeacon> beacon;
  if (!dataFolder.empty())
    beacon.emplace(WindowBeacon::SocketName(dataFolder), [&dialog] {
      dialog.setWindowState((dialog.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
      dialog.show();
      dialog.raise();
      dialog.activateWindow();
      DebugLine(u"the window came to the front at another start's request");
    });
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
  const std::optional<WindowSettings> kept =
      settingsFile.isEmpty() ? std::nullopt : std::make_optional<WindowSettings>(settingsFile);
  if (kept) kept->Restore(dialog);
  dialog.exec();
  if (kept && !kept->Save(dialog)) DebugLine(u"the window's settings could not be written");
  return 0;
}

}  // namespace pageloom
