#include "terminalreporter.h"

#include <cctype>

std::string TerminalReporter::TerminalText(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

void TerminalReporter::AppendLog(const std::string &text)
{
    const std::string t = TerminalText(text);
    std::fwrite(t.data(), 1, t.size(), m_out);
    // The summary has no line end of its own.
    if (!t.empty() && t.back() != '\n')
        std::fputc('\n', m_out);
    std::fflush(m_out);
}

OverwriteAnswer TerminalReporter::AskOverwrite(const std::string &message)
{
    if (!m_in) {
        std::fprintf(m_err, "velmora-batch: an output exists and there is no terminal to ask; "
                            "use --overwrite rename or --overwrite overwrite\n");
        return OverwriteAnswer{OverwriteChoice::Cancel, false};
    }
    for (;;) {
        std::fprintf(m_err, "%s\n[r] rename  [o] overwrite  [c] cancel; add ! to keep the answer (r!, o!): ",
                     TerminalText(message).c_str());
        std::fflush(m_err);
        char line[64];
        if (!std::fgets(line, sizeof line, m_in))
            return OverwriteAnswer{OverwriteChoice::Cancel, false};
        std::string answer;
        for (const char *p = line; *p; ++p)
            if (!std::isspace(static_cast<unsigned char>(*p)))
                answer += char(std::tolower(static_cast<unsigned char>(*p)));
        const bool remember = !answer.empty() && answer.back() == '!';
        if (remember)
            answer.pop_back();
        if (answer == "r" || answer == "rename")
            return OverwriteAnswer{OverwriteChoice::AutoRename, remember};
        if (answer == "o" || answer == "overwrite")
            return OverwriteAnswer{OverwriteChoice::Overwrite, remember};
        if (answer == "c" || answer == "cancel")
            return OverwriteAnswer{OverwriteChoice::Cancel, false};
    }
}
