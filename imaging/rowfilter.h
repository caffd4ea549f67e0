// A square kernel run over rows as they come, for pictures whose rows go
// from the decoder to the encoder without the picture ever being whole.
#pragma once

#include "imaging/cxtypes.h"

#include <memory>

class CxRowFilter {
public:
    // The kernel as CxImage::Filter takes it.
    CxRowFilter(const long *kernel, long ksize, long kfactor, long koffset);
    ~CxRowFilter();
    CxRowFilter(const CxRowFilter &) = delete;
    CxRowFilter &operator=(const CxRowFilter &) = delete;

    // False for a kernel Filter refuses.
    bool Valid() const;
    // Rows above and below an output row that it is made from.
    int Radius() const;
    // Output row out, width pixels of three bytes, from the 2 * Radius() + 1
    // rows around it, top to bottom: past the picture's top and bottom the
    // caller repeats its first and last rows, and the first and last pixels
    // are repeated here past its sides, so the bytes are Filter's. False
    // when memory is short. One thread at a time.
    bool Row(const BYTE *const *rows, int width, BYTE *out);

private:
    struct Kernel;
    std::unique_ptr<Kernel> m_kernel;
};
