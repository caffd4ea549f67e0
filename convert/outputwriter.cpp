#include "convert/outputwriter.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>

WriteResult StageAtomically(const std::string &path, const std::stop_token &stop,
                            const std::function<bool(CxFile &)> &encode, StagedFile &staged,
                            std::string *reason)
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
    return writer.Stage(staged) ? WriteResult::Written : failed(writer.Error());
}

WriteResult WriteAtomically(const std::string &path, const std::stop_token &stop,
                            const std::function<bool(CxFile &)> &encode, std::string *reason)
{
    StagedFile staged;
    const WriteResult staging = StageAtomically(path, stop, encode, staged, reason);
    if (staging != WriteResult::Written)
        return staging;
    std::vector<StagedFile *> one{&staged};
    CommitGroup(one);
    if (staged.Committed())
        return WriteResult::Written;
    if (reason)
        *reason = staged.Error();
    return WriteResult::Failed;
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

OutputCommitter::OutputCommitter(CommitCalls &calls, Clock clock)
    : m_calls(calls), m_clock(clock ? std::move(clock) : Clock(&std::chrono::steady_clock::now)),
      m_thread([this] { Loop(); })
{
}

OutputCommitter::~OutputCommitter()
{
    CommitAll();
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool OutputCommitter::DueLocked() const
{
    return !m_pending.empty() &&
           (!m_anyClosed || m_pending.size() >= kMaxFiles || m_clock() - m_opened >= kMaxAge);
}

void OutputCommitter::CloseLocked(std::unique_lock<std::mutex> &lock)
{
    // Memory stays flat: a group waits only behind the one being committed.
    m_changed.wait(lock, [this] { return m_closed.empty(); });
    if (m_pending.empty())
        return;
    m_closed.push_back(std::move(m_pending));
    m_pending.clear();
    m_anyClosed = true;
    m_changed.notify_all();
}

std::shared_ptr<OutputCommitter::Slot> OutputCommitter::Add(StagedFile file)
{
    auto slot = std::make_shared<Slot>();
    slot->file = std::move(file);
    std::unique_lock lock(m_mutex);
    if (DueLocked())
        CloseLocked(lock);
    if (m_pending.empty())
        m_opened = m_clock();
    m_pending.push_back(slot);
    if (DueLocked())
        CloseLocked(lock);
    m_changed.notify_all();
    return slot;
}

bool OutputCommitter::Done(const Slot &slot) const
{
    std::lock_guard lock(m_mutex);
    return slot.done;
}

void OutputCommitter::CommitAll()
{
    std::unique_lock lock(m_mutex);
    CloseLocked(lock);
    m_changed.wait(lock, [this] { return m_closed.empty() && !m_committing; });
}

void OutputCommitter::Loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_closed.empty()) {
            Group group = std::move(m_closed.front());
            m_closed.pop_front();
            m_committing = true;
            lock.unlock();
            std::vector<StagedFile *> files;
            for (const auto &slot : group)
                files.push_back(&slot->file);
            if (m_beforeGroup)
                m_beforeGroup();
            CommitGroup(files, m_calls);
            lock.lock();
            for (const auto &slot : group)
                slot->done = true;
            m_committing = false;
            m_changed.notify_all();
        } else if (m_quit) {
            return;
        } else if (DueLocked()) {
            CloseLocked(lock);
        } else if (m_pending.empty()) {
            m_changed.wait(lock);
        } else {
            // A group closes on time even while the run is busy with one
            // long file.
            const auto left = m_opened + kMaxAge - m_clock();
            m_changed.wait_for(
                lock, std::max<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(1)));
        }
    }
}
