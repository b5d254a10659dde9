// The child processes of the test program, as /proc shows them.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace pageloom::test {

// The processes whose parent is this one, zombies included.
std::vector<pid_t> ChildProcesses();

// A field of /proc/<pid>/status ("State", "Seccomp", ...) without its name; "" when the
// process or the field is not there.
std::string ProcessStatusField(pid_t pid, const std::string& field);

}  // namespace pageloom::test
