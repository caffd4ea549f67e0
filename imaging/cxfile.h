// Byte streams the codecs read from and write to: a file on disk (CxIOFile)
// or a growing buffer in memory (CxMemFile).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class CxFile {
public:
    virtual ~CxFile() = default;
    virtual bool Close() = 0;
    // Reads up to size * count bytes; returns the number of whole items read.
    virtual std::size_t Read(void *buffer, std::size_t size, std::size_t count) = 0;
    // Returns the number of whole items written.
    virtual std::size_t Write(const void *buffer, std::size_t size, std::size_t count) = 0;
    virtual bool Seek(std::int64_t offset, int origin) = 0;  // SEEK_SET, SEEK_CUR, SEEK_END
    virtual std::int64_t Tell() = 0;
    virtual std::int64_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual bool Error() = 0;  // a read or write has failed since opening
    virtual bool IsOpen() const = 0;
    // Where an encoder may make scratch files beside this stream (the
    // output's folder), or empty for the system's temporary folder.
    virtual std::string ScratchFolder() const { return {}; }

    bool PutC(unsigned char c) { return Write(&c, 1, 1) == 1; }
    // -1 at the end or on error.
    int GetC()
    {
        unsigned char c;
        return Read(&c, 1, 1) == 1 ? c : -1;
    }

    // Reads everything from the current position to the end, refusing more
    // than maxBytes. False on a read error or an over-long stream.
    bool ReadAll(std::string &out, std::size_t maxBytes);
};

class CxIOFile final : public CxFile {
public:
    CxIOFile() = default;
    explicit CxIOFile(FILE *fp) : m_fp(fp) {}  // not owned: Close leaves it open
    ~CxIOFile() override;
    CxIOFile(const CxIOFile &) = delete;
    CxIOFile &operator=(const CxIOFile &) = delete;

    // Opens a path (bytes as stored on disk) with an fopen mode ("rb", "wb").
    // Only regular files are opened for reading, so a pipe or a device named
    // like an image can never block or feed endless data.
    bool Open(const char *path, const char *mode);
    bool Close() override;
    std::size_t Read(void *buffer, std::size_t size, std::size_t count) override;
    std::size_t Write(const void *buffer, std::size_t size, std::size_t count) override;
    bool Seek(std::int64_t offset, int origin) override;
    std::int64_t Tell() override;
    std::int64_t Size() override;
    bool Flush() override;
    bool Eof() override;
    bool Error() override;
    bool IsOpen() const override { return m_fp != nullptr; }
    FILE *GetFP() const { return m_fp; }

private:
    FILE *m_fp = nullptr;
    bool m_owned = false;
    bool m_failed = false;
};

class CxMemFile final : public CxFile {
public:
    CxMemFile() = default;
    // Wraps caller bytes for reading; they are not copied and must outlive the stream.
    CxMemFile(const void *data, std::size_t size);
    ~CxMemFile() override;
    CxMemFile(const CxMemFile &) = delete;
    CxMemFile &operator=(const CxMemFile &) = delete;

    // Opens an empty, growing buffer for writing.
    bool Open();
    bool Close() override;
    std::size_t Read(void *buffer, std::size_t size, std::size_t count) override;
    std::size_t Write(const void *buffer, std::size_t size, std::size_t count) override;
    bool Seek(std::int64_t offset, int origin) override;
    std::int64_t Tell() override;
    std::int64_t Size() override;
    bool Flush() override { return IsOpen(); }
    bool Eof() override;
    bool Error() override { return m_failed; }
    bool IsOpen() const override { return m_open; }

    // Hands over the written bytes. With detach the caller owns them and must
    // free them with CxMemFile::FreeBuffer; Size() still tells their length.
    std::uint8_t *GetBuffer(bool detach = true);
    static void FreeBuffer(std::uint8_t *buffer);

private:
    bool Reserve(std::size_t size);

    std::uint8_t *m_data = nullptr;
    const std::uint8_t *m_readOnly = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    std::size_t m_pos = 0;
    bool m_open = false;
    bool m_failed = false;
    bool m_detached = false;
};

// A scratch file for a store of its own (tiles, coefficients): unnamed
// (O_TMPFILE: nothing of it outlives the process), made in folder, else in
// $TMPDIR or /tmp, readable and writable by this process only. The file
// descriptor, or -1 (why saying so, in words that go on "... to <do what>")
// where none can be made or its file system has not bytes free.
int OpenScratchFile(const std::string &folder, std::uint64_t bytes, const char *&why);

// A stream written in memory until it passes `threshold` bytes, then moved
// into an unnamed file in `folder` (O_TMPFILE: nothing of it outlives the
// process) and written on there, so a large output is never held whole in
// memory. Where no such file can be made it stays in memory.
class CxSpillFile final : public CxFile {
public:
    CxSpillFile(std::string folder, std::size_t threshold);
    ~CxSpillFile() override;
    CxSpillFile(const CxSpillFile &) = delete;
    CxSpillFile &operator=(const CxSpillFile &) = delete;

    bool Open();
    bool Close() override;
    std::size_t Read(void *buffer, std::size_t size, std::size_t count) override;
    std::size_t Write(const void *buffer, std::size_t size, std::size_t count) override;
    bool Seek(std::int64_t offset, int origin) override;
    std::int64_t Tell() override;
    std::int64_t Size() override;
    bool Flush() override { return IsOpen(); }
    bool Eof() override;
    bool Error() override { return m_failed || m_memory.Error(); }
    bool IsOpen() const override { return m_fd >= 0 || m_memory.IsOpen(); }
    std::string ScratchFolder() const override { return m_folder; }

    bool Spilled() const { return m_fd >= 0; }
    // The written bytes: in memory (as CxMemFile::GetBuffer(true)) when not
    // spilled, else null.
    std::uint8_t *TakeBuffer() { return Spilled() ? nullptr : m_memory.GetBuffer(true); }
    // The file once spilled, handed over to the caller (who closes it); -1
    // when in memory.
    int TakeFd();

private:
    bool Spill();

    const std::string m_folder;
    const std::size_t m_threshold;
    CxMemFile m_memory;
    int m_fd = -1;
    std::int64_t m_pos = 0;
    std::int64_t m_size = 0;
    bool m_cannotSpill = false;
    bool m_failed = false;
};

