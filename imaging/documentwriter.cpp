#include "imaging/documentwriter.h"

#include "imaging/codecs/codecs.h"
#include "imaging/codecs/tiffpages.h"
#include "imaging/cxfile.h"
#include "imaging/cximage.h"
#include "imaging/imageheader.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;

bool EndsWithNoCase(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - std::ptrdiff_t(end.size()),
                      [](char e, char c) { return e == std::tolower(static_cast<unsigned char>(c)); });
}

cairo_status_t WriteToFile(void *closure, const unsigned char *data, unsigned int length)
{
    return std::fwrite(data, 1, length, static_cast<std::FILE *>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                     : CAIRO_STATUS_WRITE_ERROR;
}

struct SurfaceFree {
    void operator()(cairo_surface_t *s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceFree>;

// The picture as cairo's premultiplied ARGB; cairo writes an alpha mask
// only where some pixel is not opaque.
SurfacePtr PictureSurface(const CxImage &picture)
{
    const int w = picture.GetWidth(), h = picture.GetHeight();
    SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    cairo_surface_flush(s.get());
    unsigned char *base = cairo_image_surface_get_data(s.get());
    const int stride = cairo_image_surface_get_stride(s.get());
    std::vector<std::uint8_t> rgba(std::size_t(w) * 4);
    for (int y = 0; y < h; ++y) {
        cxcodec::RowToRGBA(picture, y, rgba.data());
        auto *row = reinterpret_cast<std::uint32_t *>(base + std::ptrdiff_t(y) * stride);
        for (int x = 0; x < w; ++x) {
            const std::uint8_t *p = &rgba[std::size_t(x) * 4];
            const unsigned a = p[3];
            const auto pre = [a](unsigned c) { return (c * a + 127) / 255; };
            row[x] = a << 24 | pre(p[0]) << 16 | pre(p[1]) << 8 | pre(p[2]);
        }
    }
    cairo_surface_mark_dirty(s.get());
    return s;
}

std::string IsoDate(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

} // namespace

namespace {
constexpr const char *kPageSizeNames[] = {"image", "a4", "letter"}; // as PAGESIZE_*
}

const char *PageSizeName(std::int32_t size)
{
    return size > PAGESIZE_IMAGE && size <= PAGESIZE_LETTER ? kPageSizeNames[size] : kPageSizeNames[0];
}

int PageSizeOf(std::string_view name)
{
    for (int i = 0; i < int(std::size(kPageSizeNames)); ++i)
        if (name == kPageSizeNames[i])
            return i;
    return -1;
}

bool DocumentKindOf(std::string_view path, DocumentKind &kind)
{
    if (EndsWithNoCase(path, ".pdf"))
        kind = DocumentKind::Pdf;
    else if (EndsWithNoCase(path, ".tif") || EndsWithNoCase(path, ".tiff"))
        kind = DocumentKind::Tiff;
    else
        return false;
    return true;
}

PagePlace PlacePicture(int width, int height, const PageLayout &layout)
{
    const std::int32_t pageSize = layout.size;
    const double margin = std::clamp(layout.margin, 0, kMaxPageMargin) * kPointsPerMm;
    const double scale = 72.0 / (layout.dpi > 0 ? layout.dpi : 72);
    const double w = std::max(width, 1) * scale, h = std::max(height, 1) * scale;
    PagePlace p;
    if (pageSize == PAGESIZE_A4 || pageSize == PAGESIZE_LETTER) {
        p.pageWidth = pageSize == PAGESIZE_A4 ? 210 * kPointsPerMm : 612;
        p.pageHeight = pageSize == PAGESIZE_A4 ? 297 * kPointsPerMm : 792;
        // A margin that leaves no room still leaves a point of picture.
        const double roomW = std::max(p.pageWidth - 2 * margin, 1.0);
        const double roomH = std::max(p.pageHeight - 2 * margin, 1.0);
        const double fit = std::min(roomW / w, roomH / h);
        p.width = w * fit;
        p.height = h * fit;
    } else {
        p.width = w;
        p.height = h;
        p.pageWidth = w + 2 * margin;
        p.pageHeight = h + 2 * margin;
    }
    p.x = (p.pageWidth - p.width) / 2;
    p.y = (p.pageHeight - p.height) / 2;
    return p;
}

struct DocumentWriter::Impl {
    DocumentKind kind = DocumentKind::Pdf;
    std::FILE *file = nullptr;
    std::string title;
    std::time_t created = 0;
    PageLayout layout;
    SurfacePtr pdf;                              // made with the first page's size
    std::optional<cxcodec::TiffPages> tiff;

    // One PDF page: a w x h picture drawn at its place from a surface of
    // surfaceW x surfaceH.
    bool PdfPage(cairo_surface_t *picture, int w, int h, int surfaceW, int surfaceH, std::string &error)
    {
        const PagePlace place = PlacePicture(w, h, layout);
        if (!pdf) {
            pdf.reset(cairo_pdf_surface_create_for_stream(WriteToFile, file, place.pageWidth, place.pageHeight));
            cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_TITLE, title.c_str());
            cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATE_DATE, IsoDate(created).c_str());
        } else {
            cairo_pdf_surface_set_size(pdf.get(), place.pageWidth, place.pageHeight);
        }
        cairo_t *cr = cairo_create(pdf.get());
        cairo_translate(cr, place.x, place.y);
        cairo_scale(cr, place.width / surfaceW, place.height / surfaceH);
        cairo_set_source_surface(cr, picture, 0, 0);
        cairo_paint(cr);
        cairo_show_page(cr);
        const cairo_status_t status = cairo_status(cr);
        cairo_destroy(cr);
        const cairo_status_t surface = cairo_surface_status(pdf.get());
        if (status == CAIRO_STATUS_SUCCESS && surface == CAIRO_STATUS_SUCCESS)
            return true;
        error = cairo_status_to_string(status != CAIRO_STATUS_SUCCESS ? status : surface);
        return false;
    }
};

DocumentWriter::DocumentWriter(DocumentKind kind, std::FILE *file, PageLayout layout, std::string title,
                               std::time_t created)
    : m_impl(std::make_unique<Impl>())
{
    m_impl->layout = layout;
    m_impl->kind = kind;
    m_impl->file = file;
    m_impl->title = std::move(title);
    m_impl->created = created;
    if (kind == DocumentKind::Tiff) {
        m_impl->tiff.emplace(file);
        m_error = m_impl->tiff->Error();
    }
}

DocumentWriter::~DocumentWriter() = default;

bool DocumentWriter::AddPicture(const CxImage &picture)
{
    if (!m_error.empty())
        return false;
    if (!picture.IsValid()) {
        m_error = "cannot encode the image";
        return false;
    }
    bool ok;
    if (m_impl->tiff) {
        ok = m_impl->tiff->Add(picture);
        if (!ok)
            m_error = m_impl->tiff->Error();
    } else {
        const SurfacePtr surface = PictureSurface(picture);
        ok = surface && m_impl->PdfPage(surface.get(), picture.GetWidth(), picture.GetHeight(), picture.GetWidth(),
                                             picture.GetHeight(), m_error);
        if (!surface)
            m_error = std::strerror(ENOMEM);
    }
    m_pages += ok;
    return ok;
}

bool DocumentWriter::AddEncoded(const std::uint8_t *data, std::size_t size, const CxImage &settings)
{
    if (!m_error.empty())
        return false;
    ImageHeader header;
    const bool jpeg = data && ProbeImageHeader(data, size, header) && header.type == CXIMAGE_FORMAT_JPG &&
                      header.width > 0 && header.height > 0;
    // A TIFF takes pixels, and so does a JPEG its EXIF turns: a PDF shows
    // the bytes as they are stored.
    if (m_impl->tiff || !jpeg || header.orientation != 1) {
        CxImage picture;
        if (!data || !picture.Decode(data, size)) {
            // The page is left out; the document goes on.
            m_pageError = *picture.GetLastError() ? picture.GetLastError() : "cannot decode the image";
            return false;
        }
        picture.SetEncoderSettings(settings.GetEncoderSettings());
        picture.SetJpegQuality(settings.GetJpegQuality());
        return AddPicture(picture);
    }
    // cairo writes the bytes as the image's DCTDecode data, at the size
    // they give, and a PDF draws every image into a unit square: a surface
    // of one pixel carrying them draws the same page. One of the picture's
    // size would be copied whole when destroyed, as the document still
    // holds a snapshot of it.
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
    auto *copy = static_cast<unsigned char *>(std::malloc(size));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS || !copy) {
        std::free(copy);
        m_error = std::strerror(ENOMEM);
        return false;
    }
    std::memcpy(copy, data, size);
    if (cairo_surface_set_mime_data(surface.get(), CAIRO_MIME_TYPE_JPEG, copy, (unsigned long)size, std::free,
                                    copy) != CAIRO_STATUS_SUCCESS) {
        std::free(copy);
        m_error = std::strerror(ENOMEM);
        return false;
    }
    const bool ok = m_impl->PdfPage(surface.get(), header.width, header.height, 1, 1, m_error);
    m_pages += ok;
    return ok;
}

bool DocumentWriter::Finish()
{
    if (m_error.empty() && m_pages == 0)
        m_error = "no page to write";
    if (!m_error.empty())
        return false;
    if (m_impl->tiff) {
        if (!m_impl->tiff->Close())
            m_error = m_impl->tiff->Error();
    } else {
        cairo_surface_finish(m_impl->pdf.get());
        const cairo_status_t status = cairo_surface_status(m_impl->pdf.get());
        if (status != CAIRO_STATUS_SUCCESS)
            m_error = cairo_status_to_string(status);
        m_impl->pdf.reset();
    }
    return m_error.empty();
}

namespace {

// One page's document, made in memory and then written to file whole.
template <typename AddPage>
bool OnePagePdf(const CEncoderSettings &e, CxFile &file, std::string *why, AddPage add)
{
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *memory = open_memstream(&buffer, &size);
    if (!memory) {
        if (why)
            *why = std::strerror(errno);
        return false;
    }
    bool ok;
    {
        DocumentWriter writer(DocumentKind::Pdf, memory, PageLayout{e.m_nPageSize, e.m_nPageMargin, e.m_nDpi},
                              std::string(), std::time(nullptr));
        ok = add(writer) && writer.Finish();
        if (!ok && why)
            *why = writer.Error().empty() ? writer.PageError() : writer.Error();
    }
    // Closing sets buffer and size to all that was written.
    ok = std::fclose(memory) == 0 && ok;
    ok = ok && file.Write(buffer, 1, size) == size;
    std::free(buffer);
    return ok;
}

} // namespace

bool EncodePdf(const CxImage &picture, CxFile &file, std::string *why)
{
    return OnePagePdf(picture.GetEncoderSettings(), file, why,
                      [&picture](DocumentWriter &writer) { return writer.AddPicture(picture); });
}

bool EncodePdfOfEncoded(const std::uint8_t *data, std::size_t size, const CxImage &settings, CxFile &file,
                        std::string *why)
{
    return OnePagePdf(settings.GetEncoderSettings(), file, why,
                      [&](DocumentWriter &writer) { return writer.AddEncoded(data, size, settings); });
}
