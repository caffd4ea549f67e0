// A multi-page TIFF written page by page into an open file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

class CxImage;

namespace cxcodec {

// One directory per page, written from the file's start, every page with
// its own picture's compression and DPI (as EncodeTiff writes them);
// nothing but the page being written is held in memory.
class TiffPages {
public:
    explicit TiffPages(std::FILE *file);
    ~TiffPages(); // closes the TIFF (the file stays open)
    TiffPages(const TiffPages &) = delete;
    TiffPages &operator=(const TiffPages &) = delete;
    bool Add(const CxImage &img);
    // False when any write failed.
    bool Close();
    const std::string &Error() const { return m_error; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::string m_error;
};

} // namespace cxcodec
