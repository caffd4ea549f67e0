#include "convert/outputbytes.h"

#include "convert/animation.h"
#include "convert/naming.h"
#include "imaging/cxfile.h"

#include <QtGlobal>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A plain copy's bytes are the source's own.
bool ReadWhole(const std::string &path, EncodedBytes &out, std::string &reason)
{
    std::FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp) {
        reason = std::strerror(errno);
        return false;
    }
    CxMemFile mem;
    bool ok = mem.Open();
    std::uint8_t chunk[1 << 16];
    std::size_t n;
    while (ok && (n = std::fread(chunk, 1, sizeof chunk, fp)) > 0)
        ok = mem.Write(chunk, 1, n) == n;
    ok = ok && !std::ferror(fp);
    std::fclose(fp);
    if (!ok) {
        reason = std::strerror(EIO);
        return false;
    }
    out.size = std::size_t(mem.Size());
    out.data.reset(mem.GetBuffer(true));
    return true;
}

} // namespace

OutputBytes MakeOutputBytes(const CConvertJob &job, const std::string &source, const std::stop_token &stop)
{
    // Its place in the list gives a watermark naming the file its number.
    int index = ListIndexOf(job, source);
    CConvertJob one = job;
    if (index < 0) {
        index = 0;
        one.SetFileCount(1);
        one.SetFile(0, source);
    }
    // An existing output the policy would keep must not hide what is written.
    one.SetOverwritePolicy(OVERWRITE_REPLACE);
    // Of several sizes the first is shown: the job's resize holds its rule.
    one.m_sizes.clear();
    CxImage image;
    PreparedFile prepared = PrepareFile(one, index, image, stop);
    OutputBytes out;
    out.outType = prepared.outType;
    out.reason = prepared.reason;
    out.fit = prepared.fit;
    using Kind = PreparedFile::Kind;
    switch (prepared.kind) {
    case Kind::Encoded:
        out.kind = OutputBytes::Kind::Encoded;
        out.bytes = std::move(prepared.bytes);
        break;
    case Kind::Copy:
        out.bytes = std::move(prepared.bytes);
        if (out.bytes.data || ReadWhole(source, out.bytes, out.reason))
            out.kind = OutputBytes::Kind::Copied;
        break;
    case Kind::Animated:
        if (prepared.stampText)
            one.m_szStampText = *prepared.stampText;
        switch (AnimationBytes(source, prepared.frames, prepared.outType, one, nullptr, stop, out.bytes,
                               &out.reason, &out.fit)) {
        case AnimatedResult::Written:
            out.kind = OutputBytes::Kind::Encoded;
            break;
        case AnimatedResult::Stopped:
            out.kind = OutputBytes::Kind::Stopped;
            break;
        default:
            break;
        }
        break;
    case Kind::Stopped:
        out.kind = OutputBytes::Kind::Stopped;
        break;
    case Kind::NotLoaded:
    case Kind::Failed:
    case Kind::EncodeFailed:
    case Kind::Skipped:
        if (out.reason.empty())
            out.reason = QT_TRANSLATE_NOOP("FileRecord", "cannot decode the image");
        break;
    }
    if (stop.stop_requested())
        out.kind = OutputBytes::Kind::Stopped;
    return out;
}
