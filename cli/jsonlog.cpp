#include "cli/jsonlog.h"

#include <cstdio>

namespace jsonlog {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
std::size_t Utf8Length(const std::string &s, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    std::size_t n;
    unsigned lo = 0x80, hi = 0xBF;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0; // no overlong forms
        if (c == 0xED)
            hi = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F; // nothing past U+10FFFF
    } else
        return 0;
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned v = b(i + k);
        if (v < (k == 1 ? lo : 0x80u) || v > (k == 1 ? hi : 0xBFu))
            return 0;
    }
    return n;
}

std::string Base64(const std::string &bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63] : '=';
    }
    return out;
}

const char *Status(const FileRecord &r)
{
    return r.outcome == FileOutcome::Skipped ? "skipped" : r.Failed() ? "error" : "ok";
}

const char *Outcome(FileOutcome o, FileWay way)
{
    if (o == FileOutcome::Converted || o == FileOutcome::Copied) {
        switch (way) {
        case FileWay::Lossless:
            return "lossless";
        case FileWay::Transcoded:
            return "transcoded";
        case FileWay::Kept:
            return "kept";
        case FileWay::Usual:
            break;
        }
    }
    switch (o) {
    case FileOutcome::Converted:
        return "converted";
    case FileOutcome::Copied:
        return "copied";
    case FileOutcome::Missing:
        return "missing";
    case FileOutcome::OpenError:
        return "open_error";
    case FileOutcome::FrameError:
        return "frame_error";
    case FileOutcome::ConvertError:
        return "convert_error";
    case FileOutcome::SaveError:
        return "save_error";
    case FileOutcome::Skipped:
        return "skipped";
    }
    return "";
}

// "name":"text" and, for a name that is not UTF-8, "name_b64":"..." too.
std::string NameField(const char *name, const std::string &text)
{
    bool exact = true;
    std::string out = std::string("\"") + name + "\":" + Quote(text, &exact);
    if (!exact)
        out += std::string(",\"") + name + "_b64\":\"" + Base64(text) + "\"";
    return out;
}

} // namespace

std::string Quote(const std::string &text, bool *exact)
{
    std::string out = "\"";
    bool valid = true;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD
            valid = false;
            ++i;
            continue;
        }
        const char c = text[i];
        if (n > 1) {
            out.append(text, i, n);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
            out += esc;
        } else {
            out += c;
        }
        i += n;
    }
    if (exact)
        *exact = valid;
    return out + "\"";
}

std::string FileLine(const FileRecord &r)
{
    // A dry run's record is a plan, whatever its action; a failure it met is
    // reported as such.
    const bool planned = !r.action.empty() && !r.Failed();
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, ",\"ms\":%.3f,\"bytes_in\":%lld,\"bytes_out\":%lld}",
                  double(r.microseconds) / 1000.0, static_cast<long long>(r.bytesIn),
                  static_cast<long long>(r.bytesOut));
    std::string line = "{\"type\":\"file\"," + NameField("source", r.source) + "," +
                       NameField("output", r.output) + ",\"status\":\"" + Status(r) + "\",\"outcome\":\"" +
                       (planned ? "planned" : Outcome(r.outcome, r.way)) + "\",\"reason\":" + Quote(r.reason) +
                       numbers;
    if (!r.action.empty())
        line.insert(line.size() - 1, ",\"action\":" + Quote(r.action));
    // How a size limit was met: the quality (0 for a format without one),
    // the encodes tried, and the size when the picture was scaled down.
    if (r.fit.limited) {
        std::string fit = ",\"quality\":" + std::to_string(r.fit.quality) +
                          ",\"encodes\":" + std::to_string(r.fit.encodes);
        if (r.fit.shrunk)
            fit += ",\"width\":" + std::to_string(r.fit.width) + ",\"height\":" + std::to_string(r.fit.height);
        line.insert(line.size() - 1, fit);
    }
    return line;
}

std::string DocumentLine(const DocumentRecord &record)
{
    using State = DocumentRecord::State;
    const char *status = record.state == State::Written   ? "ok"
                         : record.state == State::Planned ? "planned"
                         : record.state == State::Skipped ? "skipped"
                                                          : "error";
    std::string line = "{\"type\":\"document\",\"output\":" + Quote(record.path) + ",\"status\":\"" + status +
                       "\",\"pages\":" + std::to_string(record.pages) +
                       ",\"bytes_out\":" + std::to_string(record.bytes);
    if (!record.reason.empty())
        line += ",\"reason\":" + Quote(record.reason);
    return line + "}";
}

std::string SummaryLine(const RunTotals &t)
{
    char text[200];
    if (t.planned)
        std::snprintf(text, sizeof text,
                      "{\"type\":\"summary\",\"files\":%d,\"converted\":0,\"planned\":%d,\"skipped\":%d,\"errors\":%d}",
                      t.files, t.converted, t.skipped, t.errors);
    else
        std::snprintf(text, sizeof text,
                      "{\"type\":\"summary\",\"files\":%d,\"converted\":%d,\"skipped\":%d,\"errors\":%d}",
                      t.files, t.converted, t.skipped, t.errors);
    return text;
}

} // namespace jsonlog
