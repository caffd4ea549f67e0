#include "convert/outputwriter.h"

#include "imaging/atomicfile.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>

WriteResult WriteAtomically(const std::string &path, const std::stop_token &stop,
                            const std::function<bool(CxFile &)> &encode, std::string *reason)
{
    auto failed = [&](std::string why) {
        if (reason)
            *reason = std::move(why);
        return WriteResult::Failed;
    };
    AtomicFileWriter writer;
    if (!writer.Begin(path))
        return failed(writer.Error());
    bool ok;
    int writeErrno = 0;
    {
        CxIOFile file(writer.Stream());
        errno = 0;
        ok = encode(file) && file.Flush() && !file.Error();
        writeErrno = errno;
    }
    if (stop.stop_requested()) {
        writer.Abort();
        return WriteResult::Stopped;
    }
    if (!ok) {
        writer.Abort();
        return failed(writeErrno ? std::strerror(writeErrno)
                                 : QT_TRANSLATE_NOOP("FileRecord", "cannot encode the image"));
    }
    return writer.Commit() ? WriteResult::Written : failed(writer.Error());
}

WriteResult WriteImage(CxImage &img, const std::string &path, std::uint32_t type, const std::stop_token &stop,
                       std::string *reason)
{
    bool encoded = true;
    const WriteResult result = WriteAtomically(
        path, stop, [&](CxFile &file) { return encoded = img.Encode(&file, type); }, reason);
    if (result == WriteResult::Failed && !encoded && reason && *img.GetLastError())
        *reason = img.GetLastError();
    return result;
}
