// The window's pacing setting and the file that keeps it between runs.
#include <fstream>
#include <string>
#include <system_error>

#include "app/task_controller.h"

namespace pageloom {

namespace {

constexpr char kPacingFile[] = "pacing.txt";

}  // namespace

void TaskController::LoadPacing() {
  Pacing pacing = m_settings.pacing;
  if (pacing.Off() && !m_settings.dataFolder.empty()) {
    std::ifstream in(m_settings.dataFolder / kPacingFile);
    std::string line;
    if (in && std::getline(in, line)) pacing = ParsePacing(line).value_or(Pacing{});
  }
  m_session->SetPacing(pacing);
}

bool TaskController::SetPacing(Pacing pacing) {
  m_session->SetPacing(pacing);
  if (m_settings.dataFolder.empty()) return true;
  const std::filesystem::path file = m_settings.dataFolder / kPacingFile;
  std::error_code error;
  std::filesystem::create_directories(m_settings.dataFolder, error);
  std::ofstream out(file, std::ios::trunc);
  out << (pacing.Off() ? std::string("0") : PacingText(pacing)) << "\n";
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace pageloom
