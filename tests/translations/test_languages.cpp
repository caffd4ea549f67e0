#include "translations/languages.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>
#include <gtest/gtest.h>

namespace {

// What the running program says for one source text of the window, and
// what Qt's own dialogs say for their OK button.
QString Shown()
{
    return QCoreApplication::translate("CMainDlg", "添加");
}

bool QtSpeaksChinese()
{
    return QCoreApplication::translate("QPlatformTheme", "OK") != QLatin1String("OK");
}

} // namespace

TEST(Languages, TheDesktopsListAndTheStoredChoicePickTheTranslation)
{
    const struct {
        QStringList uiLanguages;
        const char *stored;
        UiLanguage language;
        const char *shown;
        QLocale::Language locale; // the window's default locale
    } rows[] = {
        {{"C"}, "", UiLanguage::Source, "添加", QLocale::Chinese},
        {{"POSIX"}, "", UiLanguage::Source, "添加", QLocale::Chinese},
        {{"zh-CN", "zh-Hans-CN", "zh"}, "", UiLanguage::Chinese, "添加", QLocale::Chinese},
        {{"zh-TW", "zh-Hant-TW"}, "", UiLanguage::Chinese, "添加", QLocale::Chinese},
        {{"en-US", "en-Latn-US", "en"}, "", UiLanguage::English, "Add", QLocale::English},
        {{"en_GB"}, "", UiLanguage::English, "Add", QLocale::English},
        {{"fr-FR", "fr-Latn-FR", "fr"}, "", UiLanguage::English, "Add", QLocale::English},
        {{}, "", UiLanguage::English, "Add", QLocale::English},
        // The first language with a translation wins (LANGUAGE=fr:zh_CN).
        {{"fr", "fr-FR", "zh-CN", "zh"}, "", UiLanguage::Chinese, "添加", QLocale::Chinese},
        {{"de", "en-US"}, "", UiLanguage::English, "Add", QLocale::English},
        // The about box's choice overrides the desktop.
        {{"zh-CN"}, "en", UiLanguage::English, "Add", QLocale::English},
        {{"en-US"}, "zh", UiLanguage::Chinese, "添加", QLocale::Chinese},
        {{"C"}, "en", UiLanguage::English, "Add", QLocale::English},
        {{"en-US"}, "klingon", UiLanguage::English, "Add", QLocale::English},
    };
    const QLocale before;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.uiLanguages.join(',').toStdString() + " / " + row.stored);
        const UiLanguage language = ChooseLanguage(row.uiLanguages, QString::fromLatin1(row.stored));
        EXPECT_EQ(language, row.language);
        EXPECT_TRUE(InstallTranslations(language, true));
        EXPECT_EQ(Shown(), QString::fromUtf8(row.shown));
        EXPECT_EQ(QLocale().language(), row.locale);
        EXPECT_EQ(QtSpeaksChinese(), row.locale == QLocale::Chinese);
        // Each row starts from a program that speaks its source texts.
        for (QTranslator *t : QCoreApplication::instance()->findChildren<QTranslator *>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
        QLocale::setDefault(before);
        EXPECT_EQ(Shown(), QStringLiteral("添加"));
    }
    // velmora-batch loads only its own translation.
    EXPECT_TRUE(InstallTranslations(UiLanguage::Chinese, false));
    EXPECT_FALSE(QtSpeaksChinese());
    EXPECT_EQ(QLocale().language(), before.language());
}
