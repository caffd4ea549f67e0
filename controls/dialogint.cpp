#include "controls/dialogint.h"

bool ParseDialogInt(const QString &text, long long &value)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    if (i >= t.size())
        return false;
    long long v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return false;
        if (v < 10'000'000'000LL) // far past int: saturate, stay out of range
            v = v * 10 + (t[i].unicode() - '0');
    }
    value = negative ? -v : v;
    return true;
}
