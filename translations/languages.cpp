#include "translations/languages.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// The translators live as long as the program.
QTranslator *NewTranslator()
{
    return new QTranslator(QCoreApplication::instance());
}

bool InstallQt(const QLocale &locale)
{
    QTranslator *qt = NewTranslator();
    if (!qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(qt);
}

} // namespace

UiLanguage ChooseLanguage(const QStringList &uiLanguages, const QString &stored)
{
    if (stored == QLatin1String(kLanguageChinese))
        return UiLanguage::Chinese;
    if (stored == QLatin1String(kLanguageEnglish))
        return UiLanguage::English;
    for (const QString &name : uiLanguages) {
        if (name == QLatin1String("C") || name == QLatin1String("POSIX"))
            return UiLanguage::Source;
        const QString language = name.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        if (language == QLatin1String("zh"))
            return UiLanguage::Chinese;
        if (language == QLatin1String("en"))
            return UiLanguage::English;
    }
    return UiLanguage::English;
}

bool InstallTranslations(UiLanguage language, bool window)
{
    bool ok = true;
    if (language == UiLanguage::English) {
        QTranslator *own = NewTranslator();
        ok = own->load(QStringLiteral(":/translations/velmora_en.qm")) && QCoreApplication::installTranslator(own);
    }
    if (!window)
        return ok;
    // Qt's dialogs, the file type names and numbers follow the language
    // shown; Qt's texts are English already.
    if (language != UiLanguage::English) {
        const QLocale chinese(QLocale::Chinese, QLocale::China);
        QLocale::setDefault(chinese);
        return InstallQt(chinese) && ok;
    }
    const QLocale system = QLocale::system();
    QLocale::setDefault(system.language() == QLocale::English ? system
                                                              : QLocale(QLocale::English, QLocale::UnitedStates));
    return ok;
}
