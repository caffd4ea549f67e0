#include "convert/outputsizes.h"

#include "convert/filltext.h"

#include <QCoreApplication>

#include <algorithm>
#include <climits>

namespace {

// Decimal digits only, 1 to INT_MAX.
bool ReadSide(std::string_view text, std::int32_t &value)
{
    if (text.empty() || text.size() > 10)
        return false;
    long long v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > INT_MAX)
        return false;
    value = std::int32_t(v);
    return true;
}

bool ReadItem(std::string_view item, OutputSize &size)
{
    if (const std::size_t x = item.find('x'); x != std::string_view::npos) {
        size.kind = OutputSize::Kind::Box;
        return ReadSide(item.substr(0, x), size.width) && ReadSide(item.substr(x + 1), size.height);
    }
    if (!item.empty() && (item.back() == 'w' || item.back() == 'h')) {
        const bool width = item.back() == 'w';
        size.kind = width ? OutputSize::Kind::Width : OutputSize::Kind::Height;
        return ReadSide(item.substr(0, item.size() - 1), width ? size.width : size.height);
    }
    size.kind = OutputSize::Kind::LongEdge;
    return ReadSide(item, size.width);
}

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string Say(const char *text, std::initializer_list<std::string_view> args)
{
    return FillText(QCoreApplication::translate("velmora-batch", text), args);
}

} // namespace

bool ParseSizeList(std::string_view text, std::vector<OutputSize> &sizes, std::string &problem)
{
    std::vector<OutputSize> read;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string_view item = Trimmed(text.substr(from, comma - from));
        if (read.size() == std::size_t(kMaxOutputSizes)) {
            problem = Say(QT_TRANSLATE_NOOP("velmora-batch", "at most %1 sizes"),
                          {std::to_string(kMaxOutputSizes)});
            return false;
        }
        OutputSize size;
        if (!ReadItem(item, size)) {
            // Shown cut: the text may be anything.
            problem =
                Say(QT_TRANSLATE_NOOP("velmora-batch", "'%1' is no size: give Nw, Nh, N or WxH, each number "
                                                       "from 1 to 2147483647"),
                    {CutText(item, 40)});
            return false;
        }
        if (std::find(read.begin(), read.end(), size) != read.end()) {
            problem = Say(QT_TRANSLATE_NOOP("velmora-batch", "%1 is given twice"), {SizeTag(size)});
            return false;
        }
        read.push_back(size);
        if (comma == text.size())
            break;
        from = comma + 1;
    }
    sizes = std::move(read);
    return true;
}

std::string SizeTag(const OutputSize &size)
{
    switch (size.kind) {
    case OutputSize::Kind::Width:
        return std::to_string(size.width) + "w";
    case OutputSize::Kind::Height:
        return std::to_string(size.height) + "h";
    case OutputSize::Kind::LongEdge:
        return std::to_string(size.width) + "px";
    case OutputSize::Kind::Box:
        break;
    }
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::string SizeListText(const std::vector<OutputSize> &sizes)
{
    std::string text;
    for (const OutputSize &size : sizes) {
        if (!text.empty())
            text += ',';
        // A long edge is written bare: "1024px" is no item.
        text += size.kind == OutputSize::Kind::LongEdge ? std::to_string(size.width) : SizeTag(size);
    }
    return text;
}

void ApplySize(CConvertJob &job, const OutputSize &size)
{
    job.SetResizeFlag(true);
    switch (size.kind) {
    case OutputSize::Kind::Width:
        job.SetResizeType(1);
        job.SetSize(size.width, 0);
        break;
    case OutputSize::Kind::Height:
        job.SetResizeType(2);
        job.SetSize(0, size.height);
        break;
    case OutputSize::Kind::LongEdge:
        job.SetResizeType(RESIZE_LONG_EDGE);
        job.SetSize(0, 0);
        job.m_nEdgeSize = size.width;
        break;
    case OutputSize::Kind::Box:
        job.SetResizeType(0);
        job.SetSize(size.width, size.height);
        break;
    }
}

void SetSizes(CConvertJob &job, std::vector<OutputSize> sizes)
{
    job.m_sizes = std::move(sizes);
    if (!job.m_sizes.empty())
        ApplySize(job, job.m_sizes.front());
}

CConvertJob CConvertJob::ForSize(std::size_t size) const
{
    CConvertJob job = *this;
    if (size >= m_sizes.size())
        return job;
    job.m_sizes.clear();
    ApplySize(job, m_sizes[size]);
    job.m_szSizeTag = SizeTag(m_sizes[size]);
    return job;
}
