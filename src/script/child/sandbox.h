// The limits the script helper puts on itself before it evaluates anything a page sent.
#pragma once

#include <sys/types.h>

namespace pageloom::script_child {

// Before anything else, while the process has one thread: dies with the thread that
// started it (`parent` must still be its parent), closes every descriptor but standard
// input, output and error, caps address space (512 MiB), CPU time, open files, file
// size (0: writes to files fail; output to a terminal or pipe still works) and core
// dumps, leaves the network when the system permits, and takes no new privileges.
// False when one of the limits that must hold could not be set.
[[nodiscard]] bool RestrictProcess(pid_t parent);

// Once the engine has started and has read what it reads once (time zone, settings):
// from here on only the calls evaluating needs are allowed (an allow list). No file can
// be opened at all, no socket made, no program run or traced, no process started (new
// threads only), no signal sent and no limit changed but the helper's own, no memory of
// another process read or written; everything else fails with EPERM. False when the
// system refused the filter.
[[nodiscard]] bool AllowOnlyEvaluation();

// Before each evaluation: lets it use a fixed span of CPU time beyond what the helper
// has used so far (SIGXCPU ends it then), within the helper's lifetime cap (SIGKILL).
void AllowCpuForNextEvaluation();

}  // namespace pageloom::script_child
