// Output names, the overwrite policy and the plain copy of a conversion run.
#pragma once

#include "convert/convertjob.h"
#include "imaging/atomicfile.h"

#include <cstdint>
#include <functional>
#include <string>

struct OutputName {
    std::string path;
    std::uint32_t type{}; // none yet
    // Folders a name template puts below baseFolder ("a/b"), made as the
    // file is written; empty for none.
    std::string baseFolder;
    std::string templateFolders;
    // The folder the user named (the destination, or the source's folder):
    // every folder below it is entered without following links.
    std::string root;
    std::string problem; // why this file's name cannot be made; empty when it can
};

// What only the decoded picture tells a name template: the output's size.
// And the list entry's page: of a document of pageCount pages (0, 0 for a
// file taken as one picture).
struct NameFacts {
    std::int64_t width = 0;
    std::int64_t height = 0;
    int page = 0;
    int pageCount = 0;
};

// Splits a path at its last "/": folder (without the "/"), base name and
// extension (the text after the file name's last "."; a dot in a folder
// name does not count). hasDot tells whether the name had a "." at all.
struct PathParts {
    std::string folder;
    std::string base;
    std::string ext;
    bool hasSeparator = false;
    bool hasDot = false;
};
PathParts SplitPath(const std::string &path);

// Lower-cased extension of the file name ("" when it has none).
std::string LowerExtension(const std::string &path);

// The output path and type for a source: destination folder (or the
// source's), renamed base name with the zero-padded running number (which
// advances in job), and the format's capital extension when the format
// changes. With no folder, format or renaming the source path itself. A
// source only read that is not a plain copy is written in the format its
// row names (HEIC as JPG, PNM, ICO and TGA as PNG).
// A subfolder (with an output folder) goes between the folder and the name.
OutputName MakeOutputPath(CConvertJob &job, const std::string &source, std::uint32_t sourceType,
                          int fileCount, const std::string &subfolder = {}, const NameFacts &facts = {});

// Why a name template is refused on its own text: empty, absolute, a ".."
// (or empty) part, a control character or an unknown token. Empty when it
// is taken.
std::string NameTemplateProblem(const std::string &text);

// Whether a name template holds {size}: the size tag of one of several
// sizes ("320w"), empty for a job of one size.
bool NameTemplateTellsSize(const std::string &text);

// Makes the folders of relative ("a/b") below base one by one, never
// through a link; false (error set) when one is in the way or cannot be made.
bool MakeFoldersBelow(const std::string &base, const std::string &relative, std::string &error);

// Whether the output's name is known before the file is decoded: true unless
// running numbers are given out in turn (only to the files that decode; a
// share of a list has them fixed by place) or a name template names the
// output's size.
bool NameKnownBeforeDecoding(const CConvertJob &job);
// The output path of the job's file index when NameKnownBeforeDecoding(job),
// with its subfolder and its fixed number, if any.
OutputName PlannedOutputPath(const CConvertJob &job, int index, std::uint32_t sourceType);

// The watermark text for the job's file index: the name template's tokens
// ({name}, {n}, {n:W}, {date}, {date:FORMAT}, {folder}) filled in for that
// file, {n} counting from the rename's start (or 1) by the file's place in
// the list. Anything else in braces, {w} and {h} too, is drawn as written.
std::string StampTextFor(const CConvertJob &job, int index);
// Whether a tag's value holds the template's tokens; the tags the job
// writes into the file index's output, those tokens filled in as for a
// watermark.
bool TagsNameFiles(const CConvertJob &job);
cxmeta::TagEdits TagEditsFor(const CConvertJob &job, int index);
// The facts given with the job's entry index's page added.
NameFacts PageFacts(const CConvertJob &job, int index, NameFacts facts = {});
// The place of path in the job's list; -1 when it is not there.
int ListIndexOf(const CConvertJob &job, const std::string &path);
// The job as it draws the file at path: a watermark naming its file gets
// that file's text.
CConvertJob JobDrawing(const CConvertJob &job, const std::string &path);

// Whether the policy leaves an existing output alone: always for skip; for
// update when the source is not newer than the output. False when there is
// no output of that name.
bool KeepsExistingOutput(const CConvertJob &job, const std::string &source, const std::string &output);

// The output type MakeOutputPath gives, without naming anything.
std::uint32_t OutputTypeFor(const CConvertJob &job, const std::string &source, std::uint32_t sourceType);

// True when the file system has an entry of that name (a dangling link counts).
bool FileExists(const std::string &path);

// The first free name of the form stem_NNN.ext, continuing from a _NNN the
// name already ends with; past 999 the number simply grows longer. A name
// taken (when given) counts as not free too.
std::string MakeUniqueName(const std::string &path,
                           const std::function<bool(const std::string &)> &taken = {});

// Why a prefix or suffix cannot be part of a file name (it holds a "/" or a
// control character); empty when it can.
std::string RenamePartProblem(const std::string &part);

// The question shown when an output exists, its lines ended by lineEnd.
std::string OverwriteQuestion(const std::string &outputPath, const char *lineEnd = "\r\n");

// Copies a file byte for byte through a temporary file renamed into place.
// False when the source cannot be read or the target written; reason (when
// given) then says why.
bool CopyFileAtomically(const std::string &source, const std::string &target, std::string *reason = nullptr);
// The same up to the flush: true means staged holds the whole copy, for an
// OutputCommitter to put in place; sha256 and size (when given) tell what
// was copied.
bool StageCopy(const std::string &source, const std::string &target, StagedFile &staged,
               std::string *reason = nullptr, std::string *sha256 = nullptr, std::int64_t *size = nullptr);
