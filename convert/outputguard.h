// What a run keeps in mind about the names it writes, so that no output
// replaces a source, two names that differ only in letter case do not both
// get written (on FAT, exFAT, SMB or macOS volumes one would replace the
// other), and the temporary files of dead runs go.
#pragma once

#include "convert/convertjob.h"

#include <string>
#include <sys/types.h>
#include <unordered_set>
#include <utility>
#include <vector>

class OutputGuard {
public:
    explicit OutputGuard(const CConvertJob &job) : m_job(job) {}

    // An output this run wrote whose name differs from path only in letter
    // case; empty when there is none.
    std::string CaseTwin(const std::string &path) const;
    void NoteOutput(const std::string &path);
    // Whether this run wrote path, in this very case.
    bool Wrote(const std::string &path) const;
    // MakeUniqueName, also passing over the names this run wrote in another case.
    std::string UniqueName(const std::string &path) const;

    // Why writing over the existing file at output would cost a source:
    // it is the file of another source of the run, or source's own file
    // under another name (a link). Empty when it is safe, and when output is
    // source's own path.
    std::string SourceClash(const std::string &source, const std::string &output);

    // The first time the run writes into folder, the temporary files that
    // dead runs left there are removed.
    void BeforeWritingInto(const std::string &folder);

private:
    // Names compared whatever their letter case.
    struct FoldedHash {
        std::size_t operator()(const std::string &name) const;
    };
    struct FoldedEqual {
        bool operator()(const std::string &a, const std::string &b) const;
    };

    const CConvertJob &m_job;
    // The names written, in their case, each once whatever its case: a run
    // of many files keeps one string for each.
    std::unordered_set<std::string, FoldedHash, FoldedEqual> m_written;
    std::unordered_set<std::string> m_swept;
    bool m_haveSourceIds = false;
    std::vector<std::pair<dev_t, ino_t>> m_sourceIds; // sorted
};
