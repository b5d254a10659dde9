// The language both programs speak: Chinese, the language their texts are written in, or
// English. The user's locale chooses (Chinese for zh*, English otherwise); PAGELOOM_LANG=zh
// or PAGELOOM_LANG=en overrides it.
#pragma once

#include <string>
#include <vector>

namespace pageloom {

enum class UiLanguage { kChinese, kEnglish };

constexpr const char* kLanguageVariable = "PAGELOOM_LANG";

// `requested`: the value of PAGELOOM_LANG (null when unset); `uiLanguages`: the user's
// languages, most wanted first, as QLocale::uiLanguages gives them.
[[nodiscard]] UiLanguage ChooseLanguage(const char* requested,
                                        const std::vector<std::string>& uiLanguages);
// The same from the environment and the system locale.
[[nodiscard]] UiLanguage LanguageFromEnvironment();

}  // namespace pageloom
