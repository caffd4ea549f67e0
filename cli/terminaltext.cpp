#include "cli/terminaltext.h"

#include <unistd.h>

namespace {

// The length of the well-formed UTF-8 sequence at text[at], 0 when none
// starts there.
std::size_t SequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    // The second byte's range also rules out overlong forms, surrogates and
    // code points past U+10FFFF.
    const unsigned char second = byte(at + 1);
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high)
        return 0;
    for (std::size_t i = at + 2; i < at + length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

void AppendEscaped(std::string &out, unsigned char c)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
}

} // namespace

std::string EscapeControls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F)
                AppendEscaped(out, c);
            else
                out += char(c);
            ++at;
            continue;
        }
        const std::size_t length = SequenceLength(text, at);
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
        if (length == 0) {
            // Not UTF-8: a lone byte a terminal may take as a C1 control.
            if (c <= 0x9F)
                AppendEscaped(out, c);
            else
                out += char(c);
            ++at;
            continue;
        }
        for (std::size_t i = at; i < at + length; ++i) {
            if (c1)
                AppendEscaped(out, static_cast<unsigned char>(text[i]));
            else
                out += text[i];
        }
        at += length;
    }
    return out;
}

std::string ForStream(std::string_view text, std::FILE *stream)
{
    return isatty(fileno(stream)) ? EscapeControls(text) : std::string(text);
}
