// The question Add asks about galleries and chapters downloaded before.
#pragma once

#include <vector>

#include "app/window_port.h"

class QWidget;

namespace pageloom {

// One task: "已下载过：<title>（<date>）。仍然下载？" with Yes (all) and No (none). Several
// (a chain of `total` chapters): how many were downloaded before, with "only the new ones",
// "all" and "none". A box closed without an answer downloads none of them.
AgainChoice RunAgainQuestion(QWidget* parent, const std::vector<DownloadedBefore>& before,
                             int total);

}  // namespace pageloom
