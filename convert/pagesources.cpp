#include "convert/pagesources.h"

#include "convert/filltext.h"
#include "imaging/imageheader.h"

#include <QCoreApplication>

#include <charconv>

namespace {

// A page number: digits only, 1 and up.
bool ReadNumber(std::string_view text, int &n)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && end == text.data() + text.size() && n >= 1;
}

} // namespace

bool ParsePageChoice(std::string_view text, PageChoice &choice)
{
    PageChoice read;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t end = std::min(text.find(',', from), text.size());
        const std::string_view part = text.substr(from, end - from);
        const std::size_t dash = part.find('-');
        int first = 0, last = 0;
        if (dash == std::string_view::npos) {
            if (!ReadNumber(part, first))
                return false;
            last = first;
        } else if (!ReadNumber(part.substr(0, dash), first) ||
                   (dash + 1 < part.size() && (!ReadNumber(part.substr(dash + 1), last) || last < first))) {
            return false;
        }
        read.ranges.emplace_back(first, last);
        from = end + 1;
    }
    choice = std::move(read);
    return true;
}

bool ChosenPages(const PageChoice &choice, int pageCount, std::vector<int> &pages, std::string &problem)
{
    pages.clear();
    if (!choice.Given()) {
        for (int p = 1; p <= pageCount; ++p)
            pages.push_back(p);
        return true;
    }
    for (const auto &[first, last] : choice.ranges) {
        if (first > pageCount || last > pageCount) {
            problem = FillText(
                QCoreApplication::translate("velmora-batch", "page %1 is past the end: it has %2 pages"),
                {std::to_string(last > pageCount ? last : first), std::to_string(pageCount)});
            return false;
        }
        for (int p = first; p <= (last == 0 ? pageCount : last); ++p)
            pages.push_back(p);
    }
    return true;
}

bool ExpandPages(CConvertJob &job, const PageChoice &choice, std::string &problem)
{
    struct Entry {
        int index, page, count;
    };
    std::vector<Entry> entries;
    bool paged = false;
    std::vector<int> pages;
    for (int i = 0; i < job.GetFileCount(); ++i) {
        const std::string &path = job.GetFile(i);
        const std::uint32_t type = ProbeImageType(path.c_str());
        const bool document = type == CXIMAGE_FORMAT_PDF || (type == CXIMAGE_FORMAT_TIF && choice.Given());
        const int count = document ? CountPages(path.c_str()) : 0;
        // A TIFF of one page is a picture as any other.
        if (count <= 0 || (type == CXIMAGE_FORMAT_TIF && count == 1)) {
            entries.push_back({i, job.GetPage(i), job.GetPageCount(i)});
            continue;
        }
        std::string why;
        if (!ChosenPages(choice, count, pages, why)) {
            problem = path + ": " + why;
            return false;
        }
        for (int p : pages)
            entries.push_back({i, p, count});
        paged = true;
    }
    if (!paged)
        return true;
    const CConvertJob from = job;
    job.SetFileCount(int(entries.size()));
    for (int k = 0; k < int(entries.size()); ++k) {
        const Entry &e = entries[std::size_t(k)];
        job.SetFile(k, from.GetFile(e.index));
        job.SetOutputSubfolder(k, from.GetOutputSubfolder(e.index));
        job.SetFilePage(k, e.page, e.count);
    }
    return true;
}
