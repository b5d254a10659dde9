#include "app/task_controller.h"

namespace pageloom {

// Placeholders until the DMZJ adapter lands.
int TaskController::FindDMZJFirstChapter(char16_t*) { return 0; }
int TaskController::AddDMZJTask(char16_t*) { return 0; }
int TaskController::AddDMZJTaskChain(char16_t*) { return 1; }

}  // namespace pageloom
