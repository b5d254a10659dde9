#include "support/processes.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace pageloom::test {

std::vector<pid_t> ChildProcesses() {
  std::vector<pid_t> children;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;  // gone meanwhile
    // "pid (name) state ppid ...": the name may hold anything, so read behind its ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    if (rest >> state >> parent && parent == getpid())
      children.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return children;
}

std::string ProcessStatusField(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) != 0) continue;
    const auto value = line.find_first_not_of(" \t", field.size() + 1);
    return value == std::string::npos ? std::string() : line.substr(value);
  }
  return {};
}

}  // namespace pageloom::test
