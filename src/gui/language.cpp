#include "gui/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace pageloom {

namespace {

// Where the build puts the English catalogue among the program's resources.
constexpr const char* kEnglishCatalogue = ":/i18n/pageloom_en.qm";

bool InstallFrom(QTranslator& translator, const QString& file, const QString& folder = {}) {
  return translator.load(file, folder) && QCoreApplication::installTranslator(&translator);
}

}  // namespace

LanguageScope::LanguageScope(UiLanguage language)
    : m_language(language),
      m_program(std::make_unique<QTranslator>()),
      m_toolkit(std::make_unique<QTranslator>()) {
  const QString toolkitFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (language == UiLanguage::kEnglish) {
    m_catalogueLoaded = InstallFrom(*m_program, QString::fromLatin1(kEnglishCatalogue));
    InstallFrom(*m_toolkit, QStringLiteral("qtbase_en"), toolkitFolder);
  } else {
    m_catalogueLoaded = true;  // the texts are written in Chinese
    InstallFrom(*m_toolkit, QStringLiteral("qtbase_zh_CN"), toolkitFolder);
  }
}

LanguageScope::~LanguageScope() {
  QCoreApplication::removeTranslator(m_program.get());
  QCoreApplication::removeTranslator(m_toolkit.get());
}

}  // namespace pageloom
