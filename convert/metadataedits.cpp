#include "convert/metadataedits.h"

#include "convert/filltext.h"

#include <QCoreApplication>

#include <array>
#include <cctype>

namespace {

constexpr std::array<std::pair<cxmeta::Tag, const char *>, 5> kTags = {{{cxmeta::Tag::Artist, "Artist"},
                                                                         {cxmeta::Tag::Copyright, "Copyright"},
                                                                         {cxmeta::Tag::Caption, "ImageDescription"},
                                                                         {cxmeta::Tag::Keywords, "Keywords"},
                                                                         {cxmeta::Tag::Rating, "Rating"}}};

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Tr(const char *text)
{
    return QCoreApplication::translate("velmora-batch", text).toStdString();
}

} // namespace

const char *TagName(cxmeta::Tag tag)
{
    for (const auto &[t, name] : kTags)
        if (t == tag)
            return name;
    return "";
}

std::vector<cxmeta::Tag> AllTags()
{
    std::vector<cxmeta::Tag> all;
    for (const auto &row : kTags)
        all.push_back(row.first);
    return all;
}

std::string TagValueProblem(cxmeta::Tag tag, std::string_view value)
{
    if (tag == cxmeta::Tag::Rating)
        return value.size() == 1 && value[0] >= '0' && value[0] <= '5'
                   ? std::string()
                   : FillText(QCoreApplication::translate("velmora-batch", "Rating takes 0 to 5, not '%1'"), {value});
    if (value.size() > kMaxTagValueBytes)
        return FillText(QCoreApplication::translate("velmora-batch", "%1 takes at most %2 bytes"),
                        {TagName(tag), std::to_string(kMaxTagValueBytes)});
    for (const char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return FillText(QCoreApplication::translate("velmora-batch", "%1 may not hold a control character"),
                            {TagName(tag)});
    return {};
}

std::string ParseTagAssignment(std::string_view text, cxmeta::TagValue &out)
{
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return FillText(QCoreApplication::translate("velmora-batch", "'%1' is no TAG=VALUE"), {text});
    const std::string_view name = text.substr(0, eq), value = text.substr(eq + 1);
    for (const auto &[tag, tagName] : kTags) {
        if (!SameName(name, tagName))
            continue;
        if (std::string problem = TagValueProblem(tag, value); !problem.empty())
            return problem;
        out = {tag, std::string(value)};
        return {};
    }
    return FillText(QCoreApplication::translate(
                        "velmora-batch", "unknown tag '%1' (Artist, Copyright, ImageDescription, Keywords, Rating)"),
                    {name});
}

std::string ParseDateShift(std::string_view text, std::int64_t &seconds)
{
    const std::string bad =
        FillText(QCoreApplication::translate("velmora-batch", "'%1' is no shift like +1h30m, -2d or +45s"), {text});
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-'))
        ++i;
    if (i == text.size())
        return bad;
    std::int64_t total = 0;
    std::string seen;
    while (i < text.size()) {
        std::int64_t n = 0;
        const std::size_t start = i;
        // Twelve digits of seconds already pass the bound: no overflow.
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 12)
            n = n * 10 + (text[i++] - '0');
        if (i == start || i == text.size())
            return bad;
        const char unit = char(std::tolower(static_cast<unsigned char>(text[i++])));
        const std::int64_t scale = unit == 'd' ? 86400 : unit == 'h' ? 3600 : unit == 'm' ? 60 : unit == 's' ? 1 : 0;
        if (scale == 0 || seen.find(unit) != std::string::npos)
            return bad;
        seen += unit;
        total += n * scale;
        if (total > kMaxDateShiftSeconds)
            return FillText(QCoreApplication::translate("velmora-batch", "'%1' moves the dates more than 100 years"),
                            {text});
    }
    seconds = negative ? -total : total;
    return {};
}

std::string DateShiftText(std::int64_t seconds)
{
    if (seconds == 0)
        return {};
    std::string out = seconds < 0 ? "-" : "+";
    std::int64_t rest = seconds < 0 ? -seconds : seconds;
    for (const auto &[unit, scale] : {std::pair{'d', 86400LL}, {'h', 3600LL}, {'m', 60LL}, {'s', 1LL}})
        if (rest >= scale) {
            out += std::to_string(rest / scale) + unit;
            rest %= scale;
        }
    return out;
}

std::string TagValuesText(const std::vector<cxmeta::TagValue> &values)
{
    std::string out;
    for (const cxmeta::TagValue &v : values) {
        if (!out.empty())
            out += '|';
        out += TagName(v.tag);
        out += '=';
        for (const char c : v.value) {
            if (c == '|' || c == '\\')
                out += '\\';
            out += c;
        }
    }
    return out;
}

bool ReadTagValuesText(std::string_view text, std::vector<cxmeta::TagValue> &values, std::string &problem)
{
    std::vector<cxmeta::TagValue> read;
    std::string item;
    for (std::size_t i = 0; i <= text.size() && !text.empty(); ++i) {
        if (i < text.size() && text[i] == '\\') {
            if (++i == text.size() || (text[i] != '\\' && text[i] != '|')) {
                problem = Tr("a lone '\\' in the tags");
                return false;
            }
            item += text[i];
            continue;
        }
        if (i < text.size() && text[i] != '|') {
            item += text[i];
            continue;
        }
        cxmeta::TagValue v;
        if (problem = ParseTagAssignment(item, v); !problem.empty())
            return false;
        read.push_back(std::move(v));
        item.clear();
    }
    values = std::move(read);
    return true;
}
