#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

namespace {

QString ApplicationName()
{
    const QString exe = QCoreApplication::applicationFilePath();
    const QString base = exe.isEmpty() ? QString() : QFileInfo(exe).completeBaseName();
    return base.isEmpty() ? QStringLiteral("velmora") : base;
}

QString Key(const char *section, const char *entry)
{
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(entry);
}

QSettings Store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvane"), ApplicationName());
}

}  // namespace

int GetProfileInt(const char *section, const char *entry, int defaultValue)
{
    const QVariant v = Store().value(Key(section, entry));
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    const qlonglong n = v.toString().trimmed().toLongLong(&ok);
    if (!ok)
        return defaultValue;
    // Numbers are 32-bit: a value written unsigned reads back signed.
    return int(std::int32_t(std::uint32_t(quint64(n) & 0xFFFFFFFFu)));
}

QString GetProfileString(const char *section, const char *entry, const QString &defaultValue)
{
    const QVariant v = Store().value(Key(section, entry));
    // A value written by hand with commas and no quotes ("Crop=0,0,640,480")
    // reads as a list: its text is the list joined again.
    if (v.metaType().id() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.isValid() ? v.toString() : defaultValue;
}

bool WriteProfileInt(const char *section, const char *entry, int value)
{
    QSettings s = Store();
    s.setValue(Key(section, entry), value);
    s.sync();
    return s.status() == QSettings::NoError;
}

bool WriteProfileString(const char *section, const char *entry, const QString &value)
{
    QSettings s = Store();
    s.setValue(Key(section, entry), value);
    s.sync();
    return s.status() == QSettings::NoError;
}

SettingsSource StoreSource()
{
    const auto getInt = [](const char *entry, int defaultValue) {
        return GetProfileInt(kSettingsSection, entry, defaultValue);
    };
    const auto getString = [](const char *entry, const QString &defaultValue) {
        return GetProfileString(kSettingsSection, entry, defaultValue);
    };
    return {getInt, getString};
}

QByteArray OutputDirKey(int n)
{
    return "OutputDir" + QByteArray::number(n);
}

COLORREF ColourFromComponents(int red, int green, int blue)
{
    return RGB(red & 0xFF, green & 0xFF, blue & 0xFF);
}

COLORREF ReadStampColour(const SettingsSource &from)
{
    using namespace settingskey;
    return ColourFromComponents(from.getInt(kFontRed, 0), from.getInt(kFontGreen, 0),
                                from.getInt(kFontBlue, 0));
}

LOGFONT ReadStampFont(const SettingsSource &from)
{
    using namespace settingskey;
    LOGFONT lf;
    lf.lfHeight = from.getInt(kFontHeight, settingsdefault::kFontHeight);
    lf.lfWidth = from.getInt(kFontWidth, 0);
    lf.lfEscapement = from.getInt(kFontEscapement, 0);
    lf.lfItalic = BYTE(from.getInt(kFontItalic, 0));
    lf.lfWeight = from.getInt(kFontWeight, settingsdefault::kFontWeight);
    lf.lfUnderline = BYTE(from.getInt(kFontUnderline, 0));
    lf.lfStrikeOut = BYTE(from.getInt(kFontStrikeOut, 0));
    lf.lfCharSet = BYTE(from.getInt(kFontCharSet, 0));
    const QString face = from.getString(kFontFaceName, settingsdefault::kFontFaceName);
    lf.SetFaceName(face.toUtf8().constData());
    return lf;
}

void WriteStampFontAndColour(const LOGFONT &lf, COLORREF colour)
{
    using namespace settingskey;
    WriteProfileInt(kSettingsSection, kFontRed, GetRValue(colour));
    WriteProfileInt(kSettingsSection, kFontGreen, GetGValue(colour));
    WriteProfileInt(kSettingsSection, kFontBlue, GetBValue(colour));
    WriteProfileInt(kSettingsSection, kFontHeight, lf.lfHeight);
    WriteProfileInt(kSettingsSection, kFontWidth, lf.lfWidth);
    WriteProfileInt(kSettingsSection, kFontEscapement, lf.lfEscapement);
    WriteProfileInt(kSettingsSection, kFontItalic, lf.lfItalic);
    WriteProfileInt(kSettingsSection, kFontWeight, lf.lfWeight);
    WriteProfileInt(kSettingsSection, kFontUnderline, lf.lfUnderline);
    WriteProfileInt(kSettingsSection, kFontStrikeOut, lf.lfStrikeOut);
    WriteProfileInt(kSettingsSection, kFontCharSet, lf.lfCharSet);
    WriteProfileString(kSettingsSection, kFontFaceName, QString::fromUtf8(lf.lfFaceName));
}

COLORREF ReadPreviewBackground()
{
    using namespace settingskey;
    return ColourFromComponents(GetProfileInt(kSettingsSection, kBackRed, 0),
                                GetProfileInt(kSettingsSection, kBackGreen, 0),
                                GetProfileInt(kSettingsSection, kBackBlue, 0));
}

void WritePreviewBackground(COLORREF colour)
{
    using namespace settingskey;
    WriteProfileInt(kSettingsSection, kBackRed, GetRValue(colour));
    WriteProfileInt(kSettingsSection, kBackGreen, GetGValue(colour));
    WriteProfileInt(kSettingsSection, kBackBlue, GetBValue(colour));
}
