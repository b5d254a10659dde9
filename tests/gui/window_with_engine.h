// The main window with an engine of its own, made first and freed last, as the program
// makes them.
#pragma once

#include <utility>

#include "app/task_controller.h"
#include "gui/main_dialog.h"

namespace pageloom::test {

struct EngineHolder {
  explicit EngineHolder(ControllerSettings settings) : engine(std::move(settings)) {}
  TaskController engine;
};

class WindowWithEngine : private EngineHolder, public CpageLoomDlg {
 public:
  explicit WindowWithEngine(ControllerSettings settings = {})
      : EngineHolder(std::move(settings)), CpageLoomDlg(engine) {}
  // Closed as the program closes it before it goes: the engine's threads have ended before
  // the window is taken down.
  ~WindowWithEngine() override { done(QDialog::Rejected); }
};

}  // namespace pageloom::test
