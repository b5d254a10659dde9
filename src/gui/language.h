// The language of the window: Chinese, the language its texts are written in, or English
// from the catalogue built into the program. The user's locale chooses (Chinese for zh*,
// English otherwise); PAGELOOM_LANG=zh or PAGELOOM_LANG=en overrides it.
#pragma once

#include <QStringList>
#include <memory>

class QTranslator;

namespace pageloom {

enum class UiLanguage { kChinese, kEnglish };

constexpr const char* kLanguageVariable = "PAGELOOM_LANG";

// `requested`: the value of PAGELOOM_LANG (null when unset); `uiLanguages`: the user's
// languages, most wanted first, as QLocale::uiLanguages gives them.
[[nodiscard]] UiLanguage ChooseLanguage(const char* requested, const QStringList& uiLanguages);
// The same from the environment and the system locale.
[[nodiscard]] UiLanguage LanguageFromEnvironment();

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
