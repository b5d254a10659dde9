#include "text/script_eval.h"

namespace pageloom {

int EvalPictureList(const char*, std::list<std::u16string>&, std::chrono::milliseconds) { return 0; }

}  // namespace pageloom
