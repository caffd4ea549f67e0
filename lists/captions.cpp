#include "lists/captions.h"

#include <QCoreApplication>

#include <limits>

namespace {

// "WxH" (any text after the height is ignored) as two numbers.
void ParseSize(const QString &text, long &width, long &height)
{
    const qsizetype x = text.indexOf(QLatin1Char('x'));
    if (x < 0) {
        width = height = 0;
        return;
    }
    width = long(LeadingNumber(text.left(x)));
    height = long(LeadingNumber(text.mid(x + 1)));
}

} // namespace

QString FormatCaption(long width, long height, const QString &name)
{
    return QStringLiteral("%1x%2\n%3").arg(width).arg(height).arg(name);
}

CaptionParts ParseCaption(const QString &caption)
{
    CaptionParts parts;
    const qsizetype lf = caption.indexOf(QLatin1Char('\n'));
    if (lf < 0) {
        parts.name = caption;
        return parts;
    }
    ParseSize(caption.left(lf), parts.width, parts.height);
    parts.name = caption.mid(lf + 1);
    return parts;
}

CaptionParts CaptionDimensions(const QString &caption, const QString &name)
{
    CaptionParts parts;
    parts.name = name;
    const QString tail = QLatin1Char('\n') + name;
    if (caption != name && caption.endsWith(tail))
        ParseSize(caption.left(caption.size() - tail.size()), parts.width, parts.height);
    return parts;
}

QString FormatSizeText(const QString &raw)
{
    const long long v = LeadingNumber(raw);
    if (v > 1024)
        return QStringLiteral("%1KB").arg(v / 1024);
    return QCoreApplication::translate("SelectedListCtrl", "%1 字节").arg(v);
}

bool IsAllDigits(const QString &text)
{
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

long long LeadingNumber(const QString &text)
{
    long long v = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        // Saturate rather than overflow on absurdly long digit runs.
        if (v > (std::numeric_limits<long long>::max() - 9) / 10)
            return std::numeric_limits<long long>::max();
        v = v * 10 + (c.unicode() - '0');
    }
    return v;
}

QString JoinPath(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}
