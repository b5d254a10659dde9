// The language of the window in effect: Chinese, the language its texts are written in, or
// English from the catalogue built into the program (app/ui_language.h chooses).
#pragma once

#include <memory>

#include "app/ui_language.h"

class QTranslator;

namespace pageloom {

// Puts a language into effect for the whole application while it lives: the program's
// catalogue (none for Chinese) and Qt's own texts of that language where the system has
// them (the buttons of message boxes, the file dialogs). Widgets hear of it through a
// LanguageChange event. Window thread. Scopes nest: the latest one made speaks, and
// when it goes the one before it speaks again.
class LanguageScope {
 public:
  explicit LanguageScope(UiLanguage language);
  ~LanguageScope();
  LanguageScope(const LanguageScope&) = delete;
  LanguageScope& operator=(const LanguageScope&) = delete;

  UiLanguage Language() const { return m_language; }
  // False when the program's catalogue of the language could not be loaded.
  bool CatalogueLoaded() const { return m_catalogueLoaded; }

 private:
  UiLanguage m_language;
  bool m_catalogueLoaded = false;
  std::unique_ptr<QTranslator> m_program;
  std::unique_ptr<QTranslator> m_toolkit;
};

}  // namespace pageloom
