// The process's resident memory as /proc tells it, for the benchmarks' memory counters.
#pragma once

#include <fstream>
#include <string>

namespace pageloom::bench {

// A value in kB from /proc/self/status ("VmHWM", "VmRSS").
inline long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) return std::stol(line.substr(prefix.size()));
  return 0;
}

// Sets the peak resident size back to the current one; returns the current one.
inline long ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return StatusKb("VmRSS");
}

}  // namespace pageloom::bench
