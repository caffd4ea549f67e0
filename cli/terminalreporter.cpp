#include "terminalreporter.h"

#include "naming.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

void TerminalReporter::WriteLine(const std::string &line)
{
    std::fwrite(line.data(), 1, line.size(), m_out);
    std::fputc('\n', m_out);
}

void TerminalReporter::FileStarted(const std::string &source)
{
    WriteLine(convertlog::FromLine(source));
    std::fflush(m_out);
}

void TerminalReporter::FileDone(const FileRecord &record)
{
    for (const std::string &line : convertlog::RecordLines(record))
        WriteLine(line);
    std::fflush(m_out);
    if (record.Failed()) {
        std::fprintf(m_err, "velmora-batch: %s: %s\n", record.source.c_str(), record.reason.c_str());
        std::fflush(m_err);
    }
}

void TerminalReporter::SetSummary(const RunTotals &totals)
{
    m_summarised = true;
    // A blank line sets the totals apart.
    WriteLine("");
    WriteLine(convertlog::SummaryLine(totals));
    std::fflush(m_out);
}

OverwriteAnswer TerminalReporter::AskOverwrite(const std::string &outputPath)
{
    if (m_in < 0) {
        std::fprintf(m_err, "velmora-batch: an output exists and there is no terminal to ask; "
                            "use --overwrite rename or --overwrite overwrite\n");
        return OverwriteAnswer{OverwriteChoice::Cancel, false};
    }
    for (;;) {
        std::fprintf(m_err, "%s\n[r] rename  [o] overwrite  [c] cancel; add ! to keep the answer (r!, o!): ",
                     OverwriteQuestion(outputPath, "\n").c_str());
        std::fflush(m_err);
        std::string line;
        if (!ReadLine(line))
            return OverwriteAnswer{OverwriteChoice::Cancel, false};
        std::string answer;
        for (const char c : line)
            if (!std::isspace(static_cast<unsigned char>(c)))
                answer += char(std::tolower(static_cast<unsigned char>(c)));
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

bool TerminalReporter::ReadLine(std::string &line)
{
    line.clear();
    // A blocking read would not notice a stop: wait for the input or for the
    // stop's byte on a pipe of our own, and read byte by byte so nothing
    // waits unseen in a buffer.
    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0)
        return false;
    bool got = false;
    {
        std::stop_callback onStop(m_stop, [&wake] {
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = write(wake[1], &byte, 1);
        });
        for (;;) {
            pollfd fds[2] = {{wake[0], POLLIN, 0}, {m_in, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[0].revents)
                break;
            char c;
            const ssize_t n = read(m_in, &c, 1);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                got = !line.empty(); // a last line without its line end counts
                break;
            }
            if (c == '\n') {
                got = true;
                break;
            }
            if (line.size() < 256)
                line += c;
        }
    }
    close(wake[0]);
    close(wake[1]);
    return got;
}
