// Documents as sources of pages: a run's list of files turned into entries
// that are a file, or one page of a file.
#pragma once

#include "convert/convertjob.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The pages chosen (--pages): ranges first..last, last 0 for "to the end";
// none given means every page.
struct PageChoice {
    std::vector<std::pair<int, int>> ranges;
    bool Given() const { return !ranges.empty(); }
    bool operator==(const PageChoice &) const = default;
};

// Reads "1-3,7", "5-" and single numbers, comma-separated; false when the
// text is not such a list (an empty text, a 0, a range backwards).
bool ParsePageChoice(std::string_view text, PageChoice &choice);

// The chosen pages of a document of pageCount pages, in the order chosen;
// false (problem set) when a range reaches past its end.
bool ChosenPages(const PageChoice &choice, int pageCount, std::vector<int> &pages, std::string &problem);

// Each PDF of the job's list becomes its chosen pages (a PDF that cannot be
// opened stays one entry, which then fails with its reason); with pages
// chosen each TIFF of several pages does too (one of a
// single page stays as it is); any other file stays as it
// is. False (problem naming the file and its page count) when a range
// reaches past a document's end; the list is then unchanged.
bool ExpandPages(CConvertJob &job, const PageChoice &choice, std::string &problem);
