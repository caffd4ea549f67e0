// Which language the programs speak, and the translators that make them
// speak it. The source texts are Chinese; English is a translation.
#pragma once

#include <QString>
#include <QStringList>

enum class UiLanguage {
    Source,  // the C and POSIX locales: the texts as written, nothing loaded
    Chinese, // the source texts too, with Qt's own Chinese translation
    English,
};

// The stored "Language" values: empty follows the desktop.
inline constexpr const char *kLanguageChinese = "zh";
inline constexpr const char *kLanguageEnglish = "en";

// The language for the desktop's preferred languages, most wanted first, as
// QLocale::system().uiLanguages() gives them ("zh-CN", "en-GB", "C"): the
// first Chinese or English one; "C" or "POSIX" before any of them gives the
// source texts; a list with neither gives English. A stored choice ("zh",
// "en") overrides the list.
UiLanguage ChooseLanguage(const QStringList &uiLanguages, const QString &stored = QString());

// Installs the program's translation for language into the running
// application; for the window also Qt's own (its dialogs) and the default
// locale to match. False when a translation could not be loaded. Call once,
// after the application object exists.
bool InstallTranslations(UiLanguage language, bool window);
