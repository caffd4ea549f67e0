// SVG drawings (and SVGZ, the same gzip-compressed) rendered by Qt SVG at the
// size the caller asks for. Every document is examined before the renderer
// sees it: Qt's renderer loads the files an <image> names, so a reference to
// anything but the document itself or a data: URI refuses the file.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/rendersize.h"
#include "imaging/codecs/probes.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using cxcodec::RefuseImage;

// Larger documents, inflated or not, are refused: no drawing needs more, and
// the renderer holds the whole document as a tree several times its size.
constexpr std::size_t kMaxDocumentBytes = std::size_t(64) << 20;
// How much of a compressed file is inflated to recognise it.
constexpr std::size_t kSniffBytes = 16 << 10;
// A drawing's own size is in CSS pixels, 96 to the inch.
constexpr double kOwnDpi = 96.0;

bool IsGzip(const std::uint8_t *d, std::size_t n)
{
    return n >= 3 && d[0] == 0x1F && d[1] == 0x8B && d[2] == 8;
}

enum class Inflated { Whole, Partial, TooLarge, Damaged };

// Inflates a gzip stream into out, at most limit bytes. Partial: the input
// ended before the stream did.
Inflated Gunzip(const std::uint8_t *data, std::size_t size, std::size_t limit, std::string &out)
{
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return Inflated::Damaged;
    out.clear();
    Inflated result = Inflated::Partial;
    std::size_t fed = 0;
    char chunk[64 << 10];
    for (;;) {
        if (z.avail_in == 0 && fed < size) {
            const std::size_t take = std::min<std::size_t>(size - fed, 1u << 30);
            z.next_in = const_cast<Bytef *>(data + fed);
            z.avail_in = uInt(take);
            fed += take;
        }
        z.next_out = reinterpret_cast<Bytef *>(chunk);
        z.avail_out = sizeof chunk;
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = sizeof chunk - z.avail_out;
        if (out.size() + got > limit) {
            out.append(chunk, limit - out.size());
            result = Inflated::TooLarge;
            break;
        }
        out.append(chunk, got);
        if (rc == Z_STREAM_END) {
            result = Inflated::Whole;
            break;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0 && fed == size)
            break; // the input ran out
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            result = Inflated::Damaged;
            break;
        }
    }
    inflateEnd(&z);
    return result;
}

bool StartsWith(std::string_view s, std::size_t at, std::string_view what)
{
    return s.size() - std::min(at, s.size()) >= what.size() && s.compare(at, what.size(), what) == 0;
}

bool IsNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '-' || c == '.';
}

// An XML document, as far as these bytes go, whose root element is <svg>
// (with or without a prefix): what comes before it is whitespace, the XML
// declaration, comments, processing instructions and a DOCTYPE.
bool LooksLikeSvg(std::string_view s)
{
    std::size_t i = StartsWith(s, 0, "\xEF\xBB\xBF") ? 3 : 0;
    for (;;) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
            ++i;
        if (StartsWith(s, i, "<?")) {
            const std::size_t end = s.find("?>", i + 2);
            if (end == std::string_view::npos)
                return false;
            i = end + 2;
        } else if (StartsWith(s, i, "<!--")) {
            const std::size_t end = s.find("-->", i + 4);
            if (end == std::string_view::npos)
                return false;
            i = end + 3;
        } else if (StartsWith(s, i, "<!DOCTYPE")) {
            bool subset = false;
            std::size_t j = i + 9;
            for (; j < s.size(); ++j) {
                if (s[j] == '[')
                    subset = true;
                else if (s[j] == ']')
                    subset = false;
                else if (s[j] == '>' && !subset)
                    break;
            }
            if (j >= s.size())
                return false;
            i = j + 1;
        } else if (StartsWith(s, i, "<")) {
            std::size_t j = i + 1;
            while (j < s.size() && IsNameChar(s[j]))
                ++j;
            if (j >= s.size() ||
                !(std::isspace(static_cast<unsigned char>(s[j])) || s[j] == '>' || s[j] == '/'))
                return false;
            const std::string_view name = s.substr(i + 1, j - i - 1);
            const std::size_t colon = name.rfind(':');
            return (colon == std::string_view::npos ? name : name.substr(colon + 1)) == "svg";
        } else {
            return false;
        }
    }
}

// The local part of a name read without namespace processing (as Qt SVG
// reads it): "xlink:href" is "href".
QStringView Local(QStringView name)
{
    const qsizetype colon = name.lastIndexOf(u':');
    return colon < 0 ? name : name.mid(colon + 1);
}

// A reference that stays inside the file: a fragment of this document or a
// data: URI.
bool StaysInside(QStringView ref)
{
    ref = ref.trimmed();
    if (ref.startsWith(u'"') || ref.startsWith(u'\''))
        ref = ref.mid(1).trimmed();
    return ref.startsWith(u'#') || ref.startsWith(u"data:", Qt::CaseInsensitive);
}

// Every url(...) and @import in a style or attribute stays inside.
bool UrlsStayInside(QStringView text)
{
    for (QStringView key : {QStringView(u"url("), QStringView(u"@import")}) {
        for (qsizetype at = text.indexOf(key, 0, Qt::CaseInsensitive); at >= 0;
             at = text.indexOf(key, at + 1, Qt::CaseInsensitive)) {
            QStringView rest = text.mid(at + key.size()).trimmed();
            if (key == u"@import" && rest.startsWith(u"url(", Qt::CaseInsensitive))
                rest = rest.mid(4);
            if (!StaysInside(rest))
                return false;
        }
    }
    return true;
}

// A length of the root element in CSS pixels; 0 when missing, relative (%)
// or not a positive number.
double Length(QStringView value)
{
    const std::string text = value.trimmed().toString().toStdString();
    if (text.empty())
        return 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    const std::string_view unit(end);
    double perUnit = 0;
    if (unit.empty() || unit == "px")
        perUnit = 1;
    else if (unit == "pt")
        perUnit = kOwnDpi / 72;
    else if (unit == "pc")
        perUnit = kOwnDpi / 6;
    else if (unit == "mm")
        perUnit = kOwnDpi / 25.4;
    else if (unit == "cm")
        perUnit = kOwnDpi / 2.54;
    else if (unit == "in")
        perUnit = kOwnDpi;
    else if (unit == "em")
        perUnit = 16;
    else if (unit == "ex")
        perUnit = 8;
    const double px = v * perUnit;
    return std::isfinite(px) && px > 0 ? px : 0;
}

// What the examination found: the root's size (0 where it gives none), its
// viewBox, whether it draws text.
struct Drawing {
    double width = 0, height = 0;
    double boxX = 0, boxY = 0, boxW = 0, boxH = 0;
    bool text = false;
};

void ReadRoot(const QXmlStreamAttributes &attrs, Drawing &d)
{
    d.width = Length(attrs.value(QLatin1StringView("width")));
    d.height = Length(attrs.value(QLatin1StringView("height")));
    const QString box = attrs.value(QLatin1StringView("viewBox")).toString();
    const QStringList parts = box.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    if (parts.size() == 4) {
        bool ok[4];
        const double x = parts[0].toDouble(&ok[0]), y = parts[1].toDouble(&ok[1]),
                     w = parts[2].toDouble(&ok[2]), h = parts[3].toDouble(&ok[3]);
        if (ok[0] && ok[1] && ok[2] && ok[3] && std::isfinite(x) && std::isfinite(y) && std::isfinite(w) &&
            std::isfinite(h) && w > 0 && h > 0) {
            d.boxX = x;
            d.boxY = y;
            d.boxW = w;
            d.boxH = h;
        }
    }
    // A missing side follows the viewBox's shape; neither: the viewBox's size.
    if (d.boxW > 0 && d.width <= 0 && d.height <= 0) {
        d.width = d.boxW;
        d.height = d.boxH;
    } else if (d.boxW > 0 && d.width <= 0) {
        d.width = d.height * d.boxW / d.boxH;
    } else if (d.boxW > 0 && d.height <= 0) {
        d.height = d.width * d.boxH / d.boxW;
    }
}

// Reads the whole document as Qt SVG will (no namespace processing, its
// entities expanded) and checks every reference; the reason when it must be
// refused, else null.
const char *Examine(const QByteArray &doc, Drawing &d)
{
    QXmlStreamReader xml(doc);
    xml.setNamespaceProcessing(false);
    bool root = false;
    int inStyle = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            for (const QXmlStreamEntityDeclaration &e : xml.entityDeclarations())
                if (!e.systemId().isEmpty() || !e.publicId().isEmpty())
                    return "the drawing declares an external entity";
            break;
        case QXmlStreamReader::ProcessingInstruction:
            if (xml.processingInstructionTarget() == u"xml-stylesheet")
                return "the drawing refers to a style sheet outside the file";
            break;
        case QXmlStreamReader::StartElement: {
            const QStringView name = Local(xml.name());
            if (!root) {
                if (name != u"svg")
                    return "the document is not an SVG drawing";
                ReadRoot(xml.attributes(), d);
                root = true;
            }
            d.text |= name.startsWith(u"text") || name == u"tspan" || name == u"tref";
            inStyle += name == u"style";
            for (const QXmlStreamAttribute &a : xml.attributes()) {
                if (Local(a.name()) == u"href" && !StaysInside(a.value()))
                    return "the drawing refers to a file or address outside it";
                if (!UrlsStayInside(a.value()))
                    return "the drawing refers to a file or address outside it";
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            inStyle -= Local(xml.name()) == u"style" && inStyle > 0;
            break;
        case QXmlStreamReader::Characters:
            if (inStyle > 0 && !UrlsStayInside(xml.text()))
                return "the drawing refers to a file or address outside it";
            break;
        default:
            break;
        }
    }
    if (xml.hasError())
        return "the drawing is not a well-formed XML document";
    return root ? nullptr : "the document is not an SVG drawing";
}

// Raw markup an entity could hide from the reader's view: an external
// entity declared in a parameter entity's text, say.
bool DeclaresExternalEntity(std::string_view s)
{
    for (std::size_t at = s.find("<!ENTITY"); at != std::string_view::npos; at = s.find("<!ENTITY", at + 1)) {
        const std::size_t end = s.find('>', at);
        const std::string_view decl = s.substr(at, end == std::string_view::npos ? s.npos : end - at);
        if (decl.find("SYSTEM") != std::string_view::npos || decl.find("PUBLIC") != std::string_view::npos)
            return true;
    }
    return false;
}

// The document, inflated when compressed, examined; the reason when it is
// refused, else null.
const char *ReadDocument(const std::uint8_t *data, std::size_t size, QByteArray &doc, Drawing &d)
{
    if (size > kMaxDocumentBytes)
        return "the drawing is larger than 64 MB";
    if (IsGzip(data, size)) {
        std::string inflated;
        switch (Gunzip(data, size, kMaxDocumentBytes, inflated)) {
        case Inflated::Whole:
            break;
        case Inflated::TooLarge:
            return "the compressed drawing inflates past 64 MB";
        default:
            return "the compressed drawing is damaged";
        }
        doc = QByteArray(inflated.data(), qsizetype(inflated.size()));
    } else {
        doc = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    }
    // Never gzip again, which the renderer would inflate without a bound.
    if (!LooksLikeSvg(std::string_view(doc.constData(), std::size_t(doc.size()))))
        return "the document is not an SVG drawing";
    if (DeclaresExternalEntity(std::string_view(doc.constData(), std::size_t(doc.size()))))
        return "the drawing declares an external entity";
    return Examine(doc, d);
}

// The drawing's own size at dpi; false when it has none or passes the
// picture limits.
bool OwnSize(const Drawing &d, QSvgRenderer &renderer, int dpi, int &width, int &height, const char *&why)
{
    double w = d.width, h = d.height;
    if (w <= 0 || h <= 0) {
        w = renderer.defaultSize().width();
        h = renderer.defaultSize().height();
    }
    why = "the drawing declares no size";
    if (!(w > 0 && h > 0))
        return false;
    w *= dpi / kOwnDpi;
    h *= dpi / kOwnDpi;
    why = "the drawing's size is over the picture limits";
    if (!(w <= CxImage::kMaxDimension && h <= CxImage::kMaxDimension && w * h <= double(CxImage::kMaxPixels)))
        return false;
    width = std::max(1, int(std::lround(w)));
    height = std::max(1, int(std::lround(h)));
    return cxcodec::FitsPixelLimits(width, height);
}


// The rendered premultiplied pixels into the picture, 24 bits with alpha
// where any pixel is not opaque.
bool TakeRendered(const QImage &canvas, CxImage &out)
{
    const int w = canvas.width(), h = canvas.height();
    if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_SVG) || !out.AlphaCreate())
        return RefuseImage(out, "out of memory");
    bool translucent = false;
    for (int y = 0; y < h; ++y) {
        const QRgb *s = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        BYTE *dst = out.GetBits(y);
        BYTE *alpha = out.AlphaGetPointer(y);
        for (int x = 0; x < w; ++x) {
            const QRgb c = qUnpremultiply(s[x]);
            dst[3 * x] = BYTE(qBlue(c));
            dst[3 * x + 1] = BYTE(qGreen(c));
            dst[3 * x + 2] = BYTE(qRed(c));
            alpha[x] = BYTE(qAlpha(c));
            translucent |= alpha[x] != 255;
        }
    }
    if (!translucent)
        out.AlphaDelete();
    return true;
}

} // namespace

namespace cxcodec {

// The size to render at: covering the size the steps after want (the
// render rule's, any size), else the hint's when that is smaller than the
// drawing's own; the drawing's shape kept.
void RenderSize(const DecodeRequest &req, int ownW, int ownH, double &w, double &h)
{
    w = ownW;
    h = ownH;
    int hintW = 0, hintH = 0;
    bool anySize = false;
    if (req.renderRule) {
        req.renderRule(ownW, ownH, hintW, hintH);
        anySize = hintW > 0 || hintH > 0;
    }
    if (!anySize)
        req.Hint(ownW, ownH, 1, hintW, hintH);
    if (hintW <= 0 && hintH <= 0)
        return;
    const double scale = std::max(double(std::max(hintW, 0)) / ownW, double(std::max(hintH, 0)) / ownH);
    if (!anySize && scale >= 1)
        return;
    // Where one side meets its hint exactly, rounding must not add a pixel.
    w = std::max(1.0, std::ceil(ownW * scale - 1e-6));
    h = std::max(1.0, std::ceil(ownH * scale - 1e-6));
}

bool IsSvg(const std::uint8_t *data, std::size_t size)
{
    if (IsGzip(data, size)) {
        std::string head;
        const Inflated r = Gunzip(data, size, kSniffBytes, head);
        return r != Inflated::Damaged && LooksLikeSvg(head);
    }
    return LooksLikeSvg(std::string_view(reinterpret_cast<const char *>(data), size));
}

bool DecodeSvg(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    QByteArray doc;
    Drawing drawing;
    if (const char *why = ReadDocument(data, size, doc, drawing))
        return RefuseImage(out, why);
    // Text needs the font system, which only a GUI application starts;
    // without one Qt would abort the program.
    if (drawing.text && !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return RefuseImage(out, "the drawing has text, and this program runs without fonts");
    QSvgRenderer renderer(doc);
    if (!renderer.isValid())
        return RefuseImage(out, "Qt SVG cannot read the drawing");
    // User units are CSS pixels, whatever unit the size is given in.
    if (drawing.boxW > 0)
        renderer.setViewBox(QRectF(drawing.boxX, drawing.boxY, drawing.boxW, drawing.boxH));
    else if (drawing.width > 0 && drawing.height > 0)
        renderer.setViewBox(QRectF(0, 0, drawing.width, drawing.height));

    const int dpi = req.renderDpi > 0 ? req.renderDpi : int(kOwnDpi);
    int ownW = 0, ownH = 0;
    const char *why = nullptr;
    if (!OwnSize(drawing, renderer, dpi, ownW, ownH, why))
        return RefuseImage(out, why);
    double w = 0, h = 0;
    RenderSize(req, ownW, ownH, w, h);
    if (!FitsPixelLimits((long long)std::min(w, 1e12), (long long)std::min(h, 1e12)))
        return RefuseImage(out, "the size to render the drawing at is over the picture limits");
    if (req.cancel && req.cancel->load())
        return RefuseImage(out, "cancelled");

    QImage canvas(int(w), int(h), QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return RefuseImage(out, "out of memory");
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, w, h));
    }
    if (req.cancel && req.cancel->load())
        return RefuseImage(out, "cancelled");
    if (!TakeRendered(canvas, out))
        return false;
    CxImageAccess::SetSourceSize(out, ownW, ownH);
    return true;
}

} // namespace cxcodec

namespace cxprobe {

bool ProbeSvg(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    QByteArray doc;
    Drawing drawing;
    if (ReadDocument(data, size, doc, drawing))
        return false;
    // Only the renderer knows the size of a drawing that declares none.
    QSvgRenderer renderer;
    if ((drawing.width <= 0 || drawing.height <= 0) && !renderer.load(doc))
        return false;
    int w = 0, ht = 0;
    const char *why = nullptr;
    if (!OwnSize(drawing, renderer, int(kOwnDpi), w, ht, why))
        return false;
    h.width = w;
    h.height = ht;
    h.orientation = 1;
    h.frames = 1;
    h.hasProfile = false;
    return true;
}

} // namespace cxprobe
