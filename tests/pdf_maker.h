// Documents for tests, drawn by cairo: one page per entry, each of its own
// size in points and filled with its own colour.
#pragma once

#include <cairo-pdf.h>
#include <cairo.h>

#include <string>
#include <vector>

namespace testsupport {

struct PdfPage {
    double width, height; // points
    double r, g, b;
};

inline void MakePdf(const std::string &path, const std::vector<PdfPage> &pages)
{
    cairo_surface_t *surface = cairo_pdf_surface_create(path.c_str(), pages[0].width, pages[0].height);
    cairo_t *cr = cairo_create(surface);
    for (const PdfPage &p : pages) {
        cairo_pdf_surface_set_size(surface, p.width, p.height);
        cairo_set_source_rgb(cr, p.r, p.g, p.b);
        cairo_paint(cr);
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

} // namespace testsupport
