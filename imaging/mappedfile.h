// A file's bytes read where they lie, through a read-only mapping of the
// file, instead of being copied into memory of our own first.
//
// A mapping has a hazard that a read has not: when the file shrinks while it
// is mapped (another program truncates it to write it again) or the disk
// fails under it, touching a lost page raises SIGBUS, which would end the
// process. The first mapping installs a handler that puts a page of zeros in
// place of a lost page of ours and marks the mapping, so the reader carries
// on over zeros and Changed() tells its caller to refuse what it made.
// Changed() also compares the file's size and modification time with those it
// had when mapped, which catches a program writing over it in place.
#pragma once

#include <cstddef>
#include <cstdint>

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    // Maps the whole of an open regular file, which must stay open until
    // Unmap. False when it cannot be mapped (empty, not a regular file, a file
    // system that does not map, too many mappings at once): read it instead.
    bool Map(int fd);
    void Unmap();

    // Size() bytes, followed by zeros (at least one).
    const std::uint8_t *Data() const { return m_data; }
    std::size_t Size() const { return m_size; }
    // A page was lost under the reader, or the file was written since Map.
    bool Changed() const;
    // The reader is done with the bytes before at: their pages leave this
    // process's memory (the page cache keeps them; a later read maps them
    // again), so a file read front to back never makes it large.
    void Release(const std::uint8_t *at) const;

private:
    // The length mapped for a file of size bytes: its pages and one of zeros.
    static std::size_t Span(std::size_t size);

    const std::uint8_t *m_data = nullptr;
    std::size_t m_size = 0;
    int m_fd = -1;
    int m_slot = -1;
    // The file's modification time when mapped.
    std::int64_t m_modifiedSeconds = 0;
    long m_modifiedNanoseconds = 0;
};
