#include "ui/languages.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace hitsieve {

namespace {

// Beside an installed program (bin/ and share/ under one prefix), then in the build tree.
QStringList OwnTranslationFolders() {
  QStringList folders = {QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/hitsieve/translations")};
#ifdef HITSIEVE_BUILD_TRANSLATIONS
  folders << QStringLiteral(HITSIEVE_BUILD_TRANSLATIONS);
#endif
  return folders;
}

bool Install(QCoreApplication& app, const QString& name, const QStringList& folders) {
  for (const QString& folder : folders) {
    auto* translator = new QTranslator(&app);
    if (translator->load(name, folder) && QCoreApplication::installTranslator(translator))
      return true;
    delete translator;
  }
  return false;
}

}  // namespace

UiLanguage ChooseLanguage() {
  const QByteArray forced = qgetenv("HITSIEVE_LANG").toLower();
  if (forced == "en") return UiLanguage::kEnglish;
  if (forced == "ru") return UiLanguage::kRussian;
  return QLocale::system().language() == QLocale::English ? UiLanguage::kEnglish
                                                          : UiLanguage::kRussian;
}

bool InstallTranslations(QCoreApplication& app, UiLanguage language) {
  if (language == UiLanguage::kEnglish) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return Install(app, QStringLiteral("hitsieve_en"), OwnTranslationFolders());
  }
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  return Install(app, QStringLiteral("qtbase_ru"),
                 {QLibraryInfo::path(QLibraryInfo::TranslationsPath)});
}

}  // namespace hitsieve
