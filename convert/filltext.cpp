#include "convert/filltext.h"

std::string FillText(const QString &pattern, std::initializer_list<std::string_view> values)
{
    const std::string text = pattern.toStdString();
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t n =
            text[i] == '%' && i + 1 < text.size() ? std::size_t(text[i + 1] - '1') : values.size();
        if (n < values.size()) {
            out += values.begin()[n];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
