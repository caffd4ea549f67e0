// Writes the parts of velmora-batch's manual page and bash completion that
// come from its table of options into their templates, at build time; and
// lists the options for the install check.
//   velmora-batch-docs manual|completion TEMPLATE OUTPUT
//   velmora-batch-docs options
#include "cli/batchoptions.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Where the completion's names wrap, and how far later lines are indented.
constexpr std::size_t kNamesWidth = 100;
constexpr std::size_t kNamesIndent = 12;

// A line holding the marker is replaced by the text; a marker within a line
// by a text made for the column it starts in.
bool Fill(const char *what, const std::string &templatePath, const std::string &outputPath)
{
    std::ifstream in(templatePath);
    if (!in) {
        std::fprintf(stderr, "velmora-batch-docs: cannot read %s\n", templatePath.c_str());
        return false;
    }
    const bool manual = std::string(what) == "manual";
    std::string out, line;
    int markers = 0;
    while (std::getline(in, line)) {
        if (line.find(manual ? "@OPTIONS@" : "@CASES@") != std::string::npos) {
            out += manual ? ManualOptions() : CompletionCases();
            ++markers;
            continue;
        }
        if (const std::size_t at = line.find("@NAMES@"); !manual && at != std::string::npos) {
            line.replace(at, 7, CompletionNames(at, kNamesIndent, kNamesWidth));
            ++markers;
        }
        out += line + "\n";
    }
    if (markers != (manual ? 1 : 2)) {
        std::fprintf(stderr, "velmora-batch-docs: %s lacks its markers\n", templatePath.c_str());
        return false;
    }
    std::ofstream file(outputPath, std::ios::binary | std::ios::trunc);
    file << out;
    file.close();
    if (!file) {
        std::fprintf(stderr, "velmora-batch-docs: cannot write %s\n", outputPath.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    if (argc == 4 && (what == "manual" || what == "completion"))
        return Fill(argv[1], argv[2], argv[3]) ? 0 : 1;
    if (argc == 2 && what == "options") {
        // A line per option: its names as listed, then the words its value
        // completes to.
        for (const BatchOption &option : BatchOptions()) {
            if (option.value == OptionValue::Literal)
                continue;
            std::string names = option.shortName && option.shortListed ? option.shortName : "";
            if (option.name)
                names += (names.empty() ? "" : " ") + std::string(option.name);
            std::printf("%s\t%s\n", names.c_str(), OptionChoices(option, " ").c_str());
        }
        return 0;
    }
    std::fputs("usage: velmora-batch-docs manual|completion TEMPLATE OUTPUT, or velmora-batch-docs options\n",
               stderr);
    return 2;
}
