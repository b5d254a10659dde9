#include "app/task_controller.h"

namespace pageloom {

// Placeholders until the EH adapter lands.
int TaskController::FindEHFirstPage(char16_t*) { return 0; }
int TaskController::AddEHTask(const char16_t*) { return 0; }

}  // namespace pageloom
