#ifndef HITSIEVE_UI_LANGUAGES_H_
#define HITSIEVE_UI_LANGUAGES_H_

class QCoreApplication;

namespace hitsieve {

// The window speaks Russian, the language its texts are written in, or English.
enum class UiLanguage { kRussian, kEnglish };

// HITSIEVE_LANG=en or ru when set; otherwise English when the system's language is English
// and Russian for every other.
UiLanguage ChooseLanguage();

// Installs the translations for `language` into `app`: Qt's own Russian texts (the standard
// dialogs and buttons) for Russian, our English texts for English. A missing file leaves those
// texts as written; returns false then. UI thread, before the first window is made.
bool InstallTranslations(QCoreApplication& app, UiLanguage language);

}  // namespace hitsieve

#endif  // HITSIEVE_UI_LANGUAGES_H_
