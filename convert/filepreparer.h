// The part of converting one file that needs nothing from the files before
// it: decoding, the transformations, the depth step and encoding into
// memory. A run does this ahead, on several threads, and writes the results
// in source order.
#pragma once

#include "convert/convertjob.h"
#include "convert/runrecord.h"
#include "imaging/cximage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// An open file descriptor, owned: closed when it goes.
class OwnedFd {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    OwnedFd(OwnedFd &&other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    OwnedFd &operator=(OwnedFd &&other) noexcept;
    ~OwnedFd();
    int Get() const { return m_fd; }

private:
    int m_fd = -1;
};

// Encoded output bytes, owned: in memory, or (a large output of a run that
// allows it) size bytes in an unnamed temporary file.
struct EncodedBytes {
    struct Free {
        void operator()(std::uint8_t *p) const;
    };
    std::unique_ptr<std::uint8_t, Free> data;
    std::size_t size = 0;
    OwnedFd spool;
    bool Spooled() const { return spool.Get() >= 0; }
};

struct PreparedFile {
    enum class Kind {
        NotLoaded, // missing, not a regular file, or not decodable
        Copy,      // no transformation and the same type: a plain copy
        Animated,  // an animation staying one (GIF or WebP): converted when written
        Failed,    // a transformation failed: nothing to write
        Encoded,   // bytes ready for the output file
        EncodeFailed,
        Stopped, // a stop came first
        Skipped, // the output exists and the policy keeps it: nothing was decoded
    };
    Kind kind = Kind::NotLoaded;
    std::uint32_t sourceType{}; // none until read
    std::uint32_t outType{};
    int frames = 0;
    std::int64_t width = 0, height = 0; // the output's size, for names that tell it
    EncodedBytes bytes;
    std::string reason; // why it was not loaded, transformed or encoded
    std::string keptOutput; // for Skipped: the output left alone
    bool lossless = false; // the steps are done on the compressed data
    std::int64_t microseconds = 0; // spent preparing
    FileWay way = FileWay::Usual;
    SizeFit fit; // under a size limit: how the output was made to fit
    // The watermark's text for this file where it names the file.
    std::optional<std::string> stampText;
    // With several sizes this is the first size's output; the others follow
    // here in the list's order, each made from the same decoded picture.
    std::vector<PreparedFile> more;
};

// Folders, pipes and devices are never opened (a pipe would block): false
// for them, with reason (when given) saying what the path is instead.
bool IsRegularFile(const std::string &path, std::string *reason = nullptr);

// The existing output the policy keeps for source, decided without decoding
// it; "" when it is not kept or the name depends on decoding.
std::string KeptOutput(const CConvertJob &job, int index);

// The folder source's output is written to.
std::string OutputFolder(const CConvertJob &job, const std::string &source);

// One output's bytes from its processed picture: the depth and the quality
// outType needs (95 where a watermark was drawn), then the encoder with the
// job's settings. Every output a decoded picture gives is encoded here.
// False, with reason set, when it cannot be encoded.
bool EncodeOutput(CxImage &picture, std::uint32_t outType, const CConvertJob &job, bool stampDrawn,
                  EncodedBytes &bytes, std::string &reason);

// How many times PrepareFile has started decoding a picture in this process.
long long DecodeCount();

// Told on the preparing thread, at most once a file, when all that is left
// of it is encoding the picture given (one thread's work; a file whose rows
// stream encodes as it decodes and never tells). A run that prepares one
// file at a time starts decoding the next one then. Empty: nobody is told.
using EncodeStartsHook = std::function<void(const CxImage &picture)>;
void SetEncodeStartsHook(EncodeStartsHook hook);
// Tells this thread's hook (once; nothing when none is set).
void EncodeStarts(const CxImage &picture);

// Does everything for source that does not depend on naming, with image as
// the reusable decoding buffer. A JPEG that the resize shrinks a lot is
// decoded at a reduced scale. When the output's name does not depend on
// decoding and the policy keeps an existing output, nothing is decoded.
// With several sizes the picture is decoded once, as large as the largest
// size needs, and each size's output is made from a copy of it.
// Never reports anything.
PreparedFile PrepareFile(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop);

// PrepareFile for a run that writes its outputs itself: an output encoded
// as its rows come that grows past spoolAbove bytes is kept in an unnamed
// temporary file beside where it goes (EncodedBytes::spool), not in memory.
PreparedFile PrepareFileSpooling(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop,
                                 std::size_t spoolAbove);

// How large an output a run holds in memory before spooling it to disk.
inline constexpr std::size_t kSpoolAbove = std::size_t(32) << 20;

// For a document that takes a JPEG's bytes as its page: a JPEG the job
// would copy as it is, read and its structure checked but never decoded;
// any other file as PrepareFile.
PreparedFile PrepareForDocument(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop);

// What PrepareFile would make of the file, from its headers alone: Copy,
// Encoded (bytes left empty), Skipped or NotLoaded, with the output's size
// for the names that tell it. Nothing is decoded or written.
PreparedFile PlanFile(const CConvertJob &job, int index);
