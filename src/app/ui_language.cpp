#include "app/ui_language.h"

#include <QLocale>
#include <QStringList>
#include <cstdlib>
#include <cstring>

namespace pageloom {

UiLanguage ChooseLanguage(const char* requested, const std::vector<std::string>& uiLanguages) {
  if (requested != nullptr) {
    if (std::strcmp(requested, "zh") == 0) return UiLanguage::kChinese;
    if (std::strcmp(requested, "en") == 0) return UiLanguage::kEnglish;
  }
  const bool chinese = !uiLanguages.empty() && uiLanguages.front().size() >= 2 &&
                       (uiLanguages.front()[0] | 0x20) == 'z' &&
                       (uiLanguages.front()[1] | 0x20) == 'h';
  return chinese ? UiLanguage::kChinese : UiLanguage::kEnglish;
}

UiLanguage LanguageFromEnvironment() {
  std::vector<std::string> languages;
  for (const QString& language : QLocale::system().uiLanguages())
    languages.push_back(language.toStdString());
  return ChooseLanguage(std::getenv(kLanguageVariable), languages);
}

}  // namespace pageloom
