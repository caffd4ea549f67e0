// One document of many pictures, a page each, written as the pictures come:
// a PDF through cairo (a JPEG's own bytes embedded as they are, other
// pictures as lossless Flate data), or a multi-page TIFF through libtiff.
// Only the page being written is held in memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

class CxFile;
class CxImage;

enum class DocumentKind { Pdf, Tiff };

// A PDF page: the picture's own size at its DPI, or a paper size.
enum : std::int32_t {
    PAGESIZE_IMAGE = 0,
    PAGESIZE_A4 = 1,
    PAGESIZE_LETTER = 2,
};
inline constexpr std::int32_t kMaxPageMargin = 100; // millimetres

// "image", "a4" or "letter", as --page-size and the stored settings name
// them; "image" for any other value.
const char *PageSizeName(std::int32_t size);
// The PAGESIZE_* of such a name; -1 for any other text.
int PageSizeOf(std::string_view name);

// How a PDF's pages are laid out: their size, the margin around the
// picture in millimetres, and the pictures' DPI (0: 72).
struct PageLayout {
    std::int32_t size = PAGESIZE_IMAGE;
    std::int32_t margin = 0;
    std::int32_t dpi = 0;
};

// The kind a document's name asks for (.pdf, .tif, .tiff in any case);
// false for any other name.
bool DocumentKindOf(std::string_view path, DocumentKind &kind);

// A page's size and where the picture goes on it, in points (1/72 inch).
struct PagePlace {
    double pageWidth = 0, pageHeight = 0;
    double x = 0, y = 0, width = 0, height = 0;
};

// The page of a width x height picture at the layout's DPI (72 where 0): the picture's
// own size plus the margins (PAGESIZE_IMAGE), or A4 / Letter upright with
// the picture scaled to fit inside the margins; centred either way.
PagePlace PlacePicture(int width, int height, const PageLayout &layout);

// The PDF format's encoder: the picture as a one-page PDF laid out by its
// encoder settings (page size, margin, DPI), its pixels as Flate data.
bool EncodePdf(const CxImage &picture, CxFile &file, std::string *why);
// Encoded bytes as a one-page PDF, as AddEncoded adds them: a JPEG goes in
// as its bytes themselves. The layout comes from settings' encoder settings.
bool EncodePdfOfEncoded(const std::uint8_t *data, std::size_t size, const CxImage &settings, CxFile &file,
                        std::string *why);

class DocumentWriter {
public:
    // Writes into file (open, empty, positioned at its start; it stays
    // open). PDF pages as layout says; a TIFF's compression and DPI come
    // from each picture's encoder settings. title and created go into a
    // PDF's information.
    DocumentWriter(DocumentKind kind, std::FILE *file, PageLayout layout, std::string title, std::time_t created);
    ~DocumentWriter();
    DocumentWriter(const DocumentWriter &) = delete;
    DocumentWriter &operator=(const DocumentWriter &) = delete;

    // The picture as the next page.
    bool AddPicture(const CxImage &picture);
    // An encoded picture (a file's bytes) as the next page: in a PDF a JPEG
    // goes in as its bytes themselves; anything else is decoded, upright,
    // and added as AddPicture does, with settings' encoder settings and
    // quality for a TIFF.
    bool AddEncoded(const std::uint8_t *data, std::size_t size, const CxImage &settings);
    // Ends the document; false when any page or the end failed to write.
    bool Finish();

    int Pages() const { return m_pages; }
    // Why the document failed: no page can follow.
    const std::string &Error() const { return m_error; }
    // Why the last AddEncoded left its page out (bytes it cannot decode).
    const std::string &PageError() const { return m_pageError; }

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
    int m_pages = 0;
    std::string m_error, m_pageError;
};
