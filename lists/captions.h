// Texts shared by the two lists: the folder list's row caption, which the
// selected list reads back, and the selected list's size column.
#pragma once

#include <QString>

// A folder-list caption split into its parts.
struct CaptionParts {
    QString name;
    long width = 0;
    long height = 0;
};

// "WxH\nname" once the loader has reached the row, the bare name before.
QString FormatCaption(long width, long height, const QString &name);

// The two caption forms back into name, width and height: with a line feed,
// the width is before the first "x", the height between it and the line feed
// and the name after it; otherwise the whole caption is the name, 0 x 0.
CaptionParts ParseCaption(const QString &caption);

// Width and height of a row whose file name is known: the bare name gives
// 0 x 0, "WxH\n" + name gives W x H. Unlike ParseCaption this stays right
// for names that hold a line feed or an "x".
CaptionParts CaptionDimensions(const QString &caption, const QString &name);

// The shown form of a raw size: "%ldKB" above 1024 bytes, else "%ld 字节".
QString FormatSizeText(const QString &raw);

// True when text holds decimal digits only (the empty text too).
bool IsAllDigits(const QString &text);

// The leading decimal digits of text as a number, 0 when there are none.
long long LeadingNumber(const QString &text);

// folder + "/" + name, without doubling the root's separator.
QString JoinPath(const QString &folder, const QString &name);
