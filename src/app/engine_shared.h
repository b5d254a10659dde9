// What the parts of an engine share: its settings, its sites, its internet session and the
// switch that cancels its transfers, its front end, and its tasks. Owned by the engine
// (TaskController), which makes them before its parts and frees them after.
#pragma once

#include "app/controller_settings.h"
#include "app/task_registry.h"
#include "app/window_port.h"
#include "base/cancellation.h"
#include "engine/site_list.h"
#include "net/session.h"

namespace pageloom {

struct EngineShared {
  const ControllerSettings& settings;
  const SiteList& sites;
  Session& session;
  Cancellation& cancel;
  WindowPort& port;
  TaskRegistry& tasks;
};

}  // namespace pageloom
