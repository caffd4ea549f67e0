#include "outputwriter.h"

#include "atomicfile.h"

WriteResult WriteAtomically(const std::string &path, const std::stop_token &stop,
                            const std::function<bool(CxFile &)> &encode)
{
    AtomicFileWriter writer;
    if (!writer.Begin(path))
        return WriteResult::Failed;
    bool ok;
    {
        CxIOFile file(writer.Stream());
        ok = encode(file) && file.Flush() && !file.Error();
    }
    if (stop.stop_requested()) {
        writer.Abort();
        return WriteResult::Stopped;
    }
    if (!ok) {
        writer.Abort();
        return WriteResult::Failed;
    }
    return writer.Commit() ? WriteResult::Written : WriteResult::Failed;
}

WriteResult WriteImage(CxImage &img, const std::string &path, std::uint32_t type, const std::stop_token &stop)
{
    return WriteAtomically(path, stop, [&](CxFile &file) { return img.Encode(&file, type); });
}
