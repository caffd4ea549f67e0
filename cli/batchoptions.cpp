#include "cli/batchoptions.h"

#include "convert/convertjob.h"
#include "imaging/formats.h"

#include <QCoreApplication>

#include <cctype>
#include <string_view>
#include <vector>

namespace {

using enum BatchOptionId;

// In the order of --help, the manual page and the completion's list.
constexpr BatchOption kOptions[] = {
    {.id = Format,
     .name = "--format",
     .value = OptionValue::Formats,
     .help = QT_TRANSLATE_NOOP("velmora-batch", "output format (default keep)"),
     .manualText = "Output format (default keep). An output whose format changes is named with the format's "
                   "extension.\n"
                   "Under keep, a file of a format only read stays a plain copy while no option changes it, "
                   "and is\n"
                   "otherwise written as JPEG (HEIC, camera RAW) or PNG (PNM, ICO, TGA).\n"
                   "\\fIpdf\\fR writes each output as a one-page PDF laid out by \\fB\\-\\-page\\-size\\fR and "
                   "\\fB\\-\\-page\\-margin\\fR: a JPEG no\n"
                   "step changes is embedded as its bytes, any other picture losslessly.",
     .completion = Completion::Words,
     .unknownWhat = QT_TRANSLATE_NOOP("velmora-batch", "unknown format '%1' (%2)")},
    {.id = Quality,
     .name = "--quality",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "JPEG, WebP, AVIF and JXL quality 0-100 (default 95; 100 is\n"
                                                "lossless for WebP, AVIF and JXL)"),
     .manualText =
         "Quality 0\\-100 of JPEG, WebP, AVIF and JPEG XL outputs (default 95); 100 writes WebP, AVIF "
         "and JPEG XL\n"
         "lossless.",
     .least = 0, .most = 100, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 0 to 100")},
    {.id = MaxFileSize,
     .name = "--max-file-size",
     .value = OptionValue::Name,
     .valueText = "SIZE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "no output larger than SIZE (300K, 1.5MB, 512KiB; K and M\n"
                                                "are powers of 1000): the highest quality down to\n"
                                                "--min-quality that fits; a file that cannot fit fails"),
     .manualText = "No output larger than SIZE: a number (a \\(dq.\\(dq fraction allowed) with an optional "
                   "unit, any case:\n"
                   "none (bytes), K or KB, M or MB (powers of 1000), KiB, MiB; from 1 KB to 1 GiB. JPEG, "
                   "lossy WebP,\n"
                   "AVIF, JPEG XL and JPEG-compressed TIFF outputs get the highest quality at or under "
                   "\\fB\\-\\-quality\\fR\n"
                   "(also under a watermark, which otherwise writes 95) and at or over "
                   "\\fB\\-\\-min\\-quality\\fR that fits,\n"
                   "found in a few encodes "
                   "of the one processed picture. An output that cannot fit (or whose format has no quality) "
                   "is that\n"
                   "file's error, naming the size it reached, unless \\fB\\-\\-max\\-file\\-size\\-shrink\\fR "
                   "is given; nothing over\n"
                   "the limit is written. A copy or a lossless transform over the limit is encoded instead. "
                   "The log\n"
                   "gives each output's quality; JSON records get \\(dqquality\\(dq and \\(dqencodes\\(dq "
                   "(and \\(dqwidth\\(dq and\n"
                   "\\(dqheight\\(dq when shrunk). An animation's quality is searched too; it is never "
                   "shrunk."},
    {.id = MinQuality,
     .name = "--min-quality",
     .value = OptionValue::Name,
     .valueText = "Q",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the lowest quality --max-file-size may choose, 1-100\n"
                                                "(default 30, not above --quality)"),
     .manualText = "The lowest quality \\fB\\-\\-max\\-file\\-size\\fR may choose, 1\\-100 (default "
                   "30, or \\fB\\-\\-quality\\fR when that\n"
                   "is lower); above \\fB\\-\\-quality\\fR it is a usage error.",
     .least = 1, .most = 100, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 1 to 100")},
    {.id = MaxFileSizeShrink,
     .name = "--max-file-size-shrink",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "an output that does not fit --max-file-size even at\n"
                                                "--min-quality is scaled down a tenth at a time until it\n"
                                                "does"),
     .manualText = "An output that does not fit \\fB\\-\\-max\\-file\\-size\\fR at \\fB\\-\\-min\\-quality\\fR "
                   "(or whose format has no quality:\n"
                   "PNG, GIF, BMP, PCX, lossless WebP, TIFF not JPEG-compressed) is scaled down about a tenth "
                   "at a time\n"
                   "until it fits, then given the highest quality that fits at that size."},
    {.id = JpegProgressive,
     .name = "--jpeg-progressive",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "write progressive JPEGs"),
     .manualText = "Write progressive JPEGs (JPEG outputs are baseline by default)."},
    {.id = JpegSubsampling,
     .name = "--jpeg-subsampling",
     .value = OptionValue::Choices,
     .valueText = "444|422|420",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "JPEG chroma subsampling (default: 444 from quality 90 up,\n"
                                                "else 420)"),
     .manualText = "JPEG chroma subsampling (default: 444 from quality 90 up, else 420).",
     .completion = Completion::Words},
    {.id = PngLevel,
     .name = "--png-level",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "PNG compression level 0-9 (default 4)"),
     .manualText = "PNG compression level 0\\-9 (default 4); higher is smaller and slower.",
     .least = 0, .most = 9, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 0 to 9")},
    {.id = TifCompression,
     .name = "--tif-compression",
     .value = OptionValue::Choices,
     .valueText = "deflate|lzw|jpeg|none",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "TIFF compression (default deflate); jpeg is lossy at\n"
                                                "--quality and writes no transparency"),
     .manualText = "TIFF compression (default deflate); jpeg is lossy at \\fB\\-\\-quality\\fR and writes "
                   "no transparency.",
     .completion = Completion::Words},
    {.id = WebpEffort,
     .name = "--webp-effort",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "WebP effort 0-6 (default 4); higher is smaller and slower"),
     .manualText = "WebP effort 0\\-6 (default 4); higher is smaller and slower.",
     .least = 0, .most = 6, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 0 to 6")},
    {.id = WebpLossless,
     .name = "--webp-lossless",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "write WebP lossless at any quality"),
     .manualText = "Write WebP lossless at any quality."},
    {.id = AvifSpeed,
     .name = "--avif-speed",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "AVIF speed 0-10 (default 6); lower is smaller and slower"),
     .manualText = "AVIF speed 0\\-10 (default 6); lower is smaller and slower.",
     .least = 0, .most = 10, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 0 to 10")},
    {.id = JxlEffort,
     .name = "--jxl-effort",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "JPEG XL effort 1-9 (default 5, 3 when lossless)"),
     .manualText = "JPEG XL effort 1\\-9 (default 5, 3 when lossless); higher is smaller and slower.",
     .least = 1, .most = 9, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 1 to 9")},
    {.id = Dpi,
     .name = "--dpi",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "dots per inch written into JPEG (JFIF), PNG (pHYs), TIFF\n"
                                                "and any EXIF carried"),
     .manualText = "Dots per inch written into JPEG (JFIF), PNG (pHYs), TIFF and any EXIF block carried.",
     .least = 1, .most = 65535, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 1 to 65535")},
    {.id = RenderDpi,
     .name = "--render-dpi",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "dots per inch drawings (SVG) are rendered at (default 96);\n"
                                                "a resize renders them at its size directly"),
     .manualText = "Dots per inch drawings (SVG, SVGZ) are rendered at (default 96: a drawing at its own size); "
                   "a resize renders them at its size directly, and sizes a percentage from this one.",
     .least = kRenderDpiLeast, .most = kRenderDpiMost,
     .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 10 to 2400")},
    {.id = Combine,
     .name = "--combine",
     .value = OptionValue::Name,
     .valueText = "FILE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "every output, in list order, as a page of one document FILE\n"
                                                "(.pdf or .tif/.tiff) instead of files of their own"),
     .manualText = "Every output of the run, in list order and after every step, as a page of one document "
                   "\\fIFILE\\fR\n"
                   "instead of files of their own: a PDF (\\fI.pdf\\fR) or a multi-page TIFF "
                   "(\\fI.tif\\fR, \\fI.tiff\\fR). A JPEG no step\n"
                   "changes goes into a PDF as its own bytes, other pictures losslessly (as JPEG at "
                   "\\fB\\-\\-quality\\fR with\n"
                   "\\fB\\-\\-format jpg\\fR); a TIFF's pages take \\fB\\-\\-tif\\-compression\\fR. "
                   "A source that fails is left out; nothing is\n"
                   "written when all fail or the run is stopped. The overwrite policy applies to "
                   "\\fIFILE\\fR; \\fB\\-\\-update\\fR skips\n"
                   "the run when it is newer than every source. Not with \\fB\\-\\-out\\fR, "
                   "\\fB\\-\\-shard\\fR, \\fB\\-\\-sizes\\fR or \\fB\\-\\-max\\-file\\-size\\fR.",
     .completion = Completion::Files},
    {.id = PageSize,
     .name = "--page-size",
     .value = OptionValue::Choices,
     .valueText = "image|a4|letter",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "PDF page size (default image: the picture's size at its DPI,\n"
                                                "72 without --dpi); a4 and letter fit the picture upright"),
     .manualText = "PDF page size (default image: the picture's size at its \\fB\\-\\-dpi\\fR, 72 "
                   "without one); \\fIa4\\fR and \\fIletter\\fR\n"
                   "pages are upright and the picture is scaled to fit inside the margins, centred.",
     .completion = Completion::Words},
    {.id = PageMargin,
     .name = "--page-margin",
     .value = OptionValue::Name,
     .valueText = "MM",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "margin around the picture on PDF pages, 0-100 mm (default 0)"),
     .manualText = "Margin around the picture on PDF pages, 0\\-100 millimetres (default 0).",
     .least = 0, .most = 100, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 0 to 100")},
    {.id = Pages,
     .name = "--pages",
     .value = OptionValue::Name,
     .valueText = "LIST",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the pages of documents converted: 1-3,7 or 5- (to the end),\n"
                                                "comma-separated (default: every page of a PDF); a TIFF\n"
                                                "of several pages gives its pages only with this option;\n"
                                                "a page of several is named NAME_p001"),
     .manualText = "The pages of each document converted, each page an output: single numbers and ranges "
                   "(\\fB1\\-3,7\\fR; \\fB5\\-\\fR runs to the end), comma-separated. Without it every page "
                   "of a PDF is converted and a TIFF gives its first page only; with it a TIFF of several pages "
                   "gives the pages chosen too. A page of a document of several pages is named NAME_p001 "
                   "(before any size tag), or by the name template's {page}. A page past a document's end is "
                   "an error before anything is written."},
    {.id = Out,
     .name = "--out",
     .value = OptionValue::Name,
     .valueText = "DIR",
     .help = QT_TRANSLATE_NOOP("velmora-batch",
                               "destination folder, made when missing (default: beside each source)"),
     .manualText = "Destination folder, made when missing (default: beside each source).",
     .completion = Completion::Folders},
    {.id = Prefix,
     .name = "--prefix",
     .value = OptionValue::Name,
     .valueText = "TEXT",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "rename: text before the name (no / or control characters)"),
     .manualText = "Rename: text before and after the name; neither may hold a \\(lq/\\(rq or a control "
                   "character."},
    {.id = Suffix,
     .name = "--suffix",
     .value = OptionValue::Name,
     .valueText = "TEXT",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "rename: text after the name (no / or control characters)"),
     .manual = ManualEntry::WithPrevious},
    {.id = Start,
     .name = "--start",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "rename: running numbers from N (0 keeps the names)"),
     .manualText = "Rename: running numbers from N (0 keeps the names).",
     .least = 0, .most = 2147483647, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 0 up")},
    {.id = Name,
     .name = "--name",
     .value = OptionValue::Name,
     .valueText = "TEMPLATE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "rename from a template instead of --prefix/--suffix: {name},\n"
             "{n} or {n:W} (running number from --start, default 1, W\n"
             "digits), {date} or {date:FORMAT} (strftime; the photo's\n"
             "DateTimeOriginal, else the file's time), {w} and {h} (the\n"
             "output's size), {folder}; a / makes folders below --out"),
     .manualText =
         "Rename from a template instead of \\fB\\-\\-prefix\\fR and \\fB\\-\\-suffix\\fR: {name} is the source's "
         "name without\n"
         "its extension, {n} or {n:W} the running number from \\fB\\-\\-start\\fR (default 1; W digits), {date} "
         "or\n"
         "{date:FORMAT} (strftime) the photo's DateTimeOriginal or else the file's modification time, {w} "
         "and\n"
         "{h} the output's size, {folder} the source folder's name. A \\(lq/\\(rq makes folders below the "
         "destination;\n"
         "an absolute template, a \\(lq..\\(rq part or an unknown token is refused."},
    {.id = ExtCase,
     .name = "--ext-case",
     .value = OptionValue::Choices,
     .valueText = "auto|lower|upper",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the extension's case (default auto: the format's capitals\n"
             "when the format changes, else the source's)"),
     .manualText = "The extension's letter case (default auto: the format's capitals when the format "
                   "changes, else the\n"
                   "source's).",
     .completion = Completion::Words},
    {.id = Resize,
     .name = "--resize",
     .value = OptionValue::Choices,
     .valueText = "fit|width|height|stretch|long|short|percent|fill|pad",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "with --width W and/or --height H:\n"
             "fit needs both, width needs W, height needs H, stretch both;\n"
             "long and short set that side to --size N, percent scales by\n"
             "--percent P (1-1000); fill covers W x H and crops to it, pad\n"
             "fits inside W x H on a --background canvas"),
     .manualText = "With\n"
                   ".BI \\-\\-width \" W\"\n"
                   "and/or\n"
                   ".BI \\-\\-height \" H\\fR:\"\n"
                   "fit needs both, width needs W, height needs H, stretch both. long and short set the longer "
                   "or the\n"
                   "shorter side to\n"
                   ".BI \\-\\-size \" N\\fR,\"\n"
                   "percent scales by\n"
                   ".BI \\-\\-percent \" P\"\n"
                   "(1\\-1000). fill scales to cover W x H and crops to exactly that, pad scales to fit inside "
                   "it and\n"
                   "puts the picture on a W x H canvas; both place it by \\fB\\-\\-gravity\\fR.",
     .completion = Completion::Words,
     .unknownWhat = QT_TRANSLATE_NOOP("velmora-batch", "unknown resize rule '%1' (%2)")},
    {.id = Width,
     .name = "--width",
     .value = OptionValue::Name,
     .valueText = "W",
     .manual = ManualEntry::InText,
     .least = 0, .most = 2147483647, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number of pixels")},
    {.id = Height,
     .name = "--height",
     .value = OptionValue::Name,
     .valueText = "H",
     .manual = ManualEntry::InText,
     .least = 0, .most = 2147483647, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number of pixels")},
    {.id = Size,
     .name = "--size",
     .value = OptionValue::Name,
     .valueText = "N",
     .manual = ManualEntry::InText,
     .least = 1, .most = 2147483647, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number of pixels from 1 up")},
    {.id = Percent,
     .name = "--percent",
     .value = OptionValue::Name,
     .valueText = "P",
     .manual = ManualEntry::InText,
     .least = 1, .most = 1000, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 1 to 1000")},
    {.id = Sizes,
     .name = "--sizes",
     .value = OptionValue::Name,
     .valueText = "LIST",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "instead of --resize: an output per size, from one decode;\n"
             "up to 16 of Nw (width), Nh (height), N (long edge) or WxH\n"
             "(fit inside), comma-separated; each named NAME_320w,\n"
             "NAME_768h, NAME_1024px, NAME_800x600 (--name needs {size})"),
     .manualText = "Instead of \\fB\\-\\-resize\\fR: an output of each picture per size, all made from one "
                   "decode of it. LIST holds\n"
                   "up to 16 sizes, comma-separated: Nw sets the width, Nh the height, N the long edge and WxH "
                   "fits the\n"
                   "picture inside W x H. Each output's name gets its size after the base name (and after "
                   "\\fB\\-\\-prefix\\fR\n"
                   "and \\fB\\-\\-suffix\\fR): NAME_320w, NAME_768h, NAME_1024px, NAME_800x600. A "
                   "\\fB\\-\\-name\\fR template must hold\n"
                   "{size}, which becomes that text (and nothing without \\fB\\-\\-sizes\\fR). "
                   "\\fB\\-\\-no\\-enlarge\\fR, \\fB\\-\\-sharpen\\fR and every other option "
                   "apply to\n"
                   "each output."},
    {.id = Gravity,
     .name = "--gravity",
     .value = OptionValue::Choices,
     .valueText = "top-left|top|top-right|left|center|right|bottom-left|bottom|bottom-right|attention|entropy",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "where fill and --crop-ratio keep the picture and pad puts\n"
             "it (default center); attention keeps the part with the most\n"
             "edges, colour and skin tone, entropy the one with the most\n"
             "detail (both not with pad)"),
     .manualText = "Where fill and \\fB\\-\\-crop\\-ratio\\fR keep the picture and pad puts it (default "
                   "center).\n"
                   "attention keeps the part with the most edges, saturated colour and skin tone, entropy the "
                   "part whose\n"
                   "brightness holds the most information; both look at the pixels, and do not go with pad.",
     .completion = Completion::Words},
    {.id = Background,
     .name = "--background",
     .value = OptionValue::Name,
     .valueText = "RRGGBB",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the canvas colour of pad (default FFFFFF); a picture's\n"
             "transparency stays where the output keeps it"),
     .manualText = "The canvas colour of pad (default FFFFFF); a picture's transparency stays where the "
                   "output format\n"
                   "keeps it."},
    {.id = CropRatio,
     .name = "--crop-ratio",
     .value = OptionValue::Name,
     .valueText = "W:H",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "first cut every image to this ratio (1:1, 4:3, 16:9) around\n"
             "--gravity"),
     .manualText = "First cut every image to this ratio (1:1, 4:3, 16:9) around \\fB\\-\\-gravity\\fR, "
                   "before any resize."},
    {.id = NoEnlarge,
     .name = "--no-enlarge",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "never make an image larger"),
     .manualText = "Never make an image larger."},
    {.id = Sharpen,
     .name = "--sharpen",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "sharpen after resizing (needs --resize or --sizes)"),
     .manualText = "Sharpen after resizing (needs \\fB\\-\\-resize\\fR or \\fB\\-\\-sizes\\fR)."},
    {.id = Rotate,
     .name = "--rotate",
     .value = OptionValue::Choices,
     .valueText = "-90|90|180",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "turn every image"),
     .manualText = "Turn every image.",
     .completion = Completion::Words},
    {.id = Stamp,
     .name = "--stamp",
     .value = OptionValue::Name,
     .valueText = "TEXT",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "watermark text (lower right by default); {name}, {n}, {date}\n"
                                                "and {folder} become each file's own"),
     .manualText = "Watermark at the lower right (or where --stamp-position puts it). The name template's "
                   "tokens\n"
                   "{name}, {n}, {n:W}, {date}, {date:FORMAT} and {folder} are filled in for each file ({n} "
                   "is\n"
                   "its place in the list, from --start or 1); anything else in braces is drawn as written."},
    {.id = Font,
     .name = "--font",
     .value = OptionValue::Name,
     .valueText = "FACE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "watermark font (default: the system's sans font)"),
     .manualText =
         "The watermark's font (default: the system's sans font), character height in pixels (default "
         "16)\n"
         "and colour (default FF7A7A).",
     .completion = Completion::Fonts},
    {.id = FontSize,
     .name = "--font-size",
     .value = OptionValue::Name,
     .valueText = "PX",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "watermark character height in pixels (default 16)"),
     .manual = ManualEntry::WithPrevious,
     .least = 1, .most = 2000, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number of pixels from 1 to 2000")},
    {.id = Color,
     .name = "--color",
     .value = OptionValue::Name,
     .valueText = "RRGGBB",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "watermark colour (default FF7A7A)"),
     .manual = ManualEntry::WithPrevious},
    {.id = StampPosition,
     .name = "--stamp-position",
     .value = OptionValue::Choices,
     .valueText = "top-left|top|top-right|left|center|right|bottom-left|bottom|bottom-right",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "where the watermark goes (default bottom-right)"),
     .manualText = "Where the watermark (text, logo or both, the logo above the text) goes (default "
                   "bottom-right);\n"
                   "\\fB\\-\\-stamp\\-margin\\fR PX keeps it that many pixels from the edges (default 10) and "
                   "\\fB\\-\\-stamp\\-opacity\\fR N\n"
                   "makes it N percent opaque, 0 to 100 (default 100).",
     .completion = Completion::Words},
    {.id = StampMargin,
     .name = "--stamp-margin",
     .value = OptionValue::Name,
     .valueText = "PX",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the watermark's distance from the edges (default 10)"),
     .manual = ManualEntry::InText,
     .least = 0, .most = 10000, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number of pixels from 0 to 10000")},
    {.id = StampOpacity,
     .name = "--stamp-opacity",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the watermark's opacity, 0-100 (default 100)"),
     .manual = ManualEntry::InText,
     .least = 0, .most = 100, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 0 to 100")},
    {.id = StampSize,
     .name = "--stamp-size",
     .value = OptionValue::Name,
     .valueText = "PERCENT",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the watermark text's height as a share of the picture's\n"
             "height, instead of --font-size"),
     .manualText = "The watermark text's character height as a share of the picture's height, 1 to 100, "
                   "instead of\n"
                   "\\fB\\-\\-font\\-size\\fR, so that one setting suits a phone photo and a thumbnail.",
     .least = 1, .most = 100, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 1 to 100")},
    {.id = StampShadow,
     .name = "--stamp-shadow",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "a shadow under the watermark text, for any background"),
     .manualText = "A shadow under the watermark text (black under a light text, white under a dark one), "
                   "legible on any\nbackground."},
    {.id = Logo,
     .name = "--logo",
     .value = OptionValue::Name,
     .valueText = "FILE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "a picture as watermark (PNG, WebP or any the program reads;\n"
             "its transparency kept), with or without --stamp"),
     .manualText = "A picture as watermark (PNG, WebP or any format the program reads; its transparency "
                   "kept), placed\n"
                   "by \\fB\\-\\-stamp\\-position\\fR, with or without \\fB\\-\\-stamp\\fR, "
                   "and sized as a share of the picture's width, 1 to 100\n(default 20).",
     .completion = Completion::Files},
    {.id = LogoSize,
     .name = "--logo-size",
     .value = OptionValue::Name,
     .valueText = "PERCENT",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the logo's width as a share of the picture's (default 20)"),
     .manual = ManualEntry::WithPrevious,
     .least = 1, .most = 100, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 1 to 100")},
    {.id = Overwrite,
     .name = "--overwrite",
     .value = OptionValue::Choices,
     .valueText = "ask|rename|overwrite|skip",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "when an output exists (default ask);\n"
                                                "skip leaves it alone; a link there is replaced itself, and\n"
                                                "an output that is a source of the run is refused"),
     .manualText =
         "When an output exists (default ask); skip leaves it alone. A symbolic link at an output's "
         "name\n"
         "counts as an existing output, and overwriting replaces the link itself, never the file it "
         "points\n"
         "to; an output that is a source of the run (through a link, a hard link or another source's "
         "name) is\n"
         "refused. Names that differ only in letter case are one output within a run.",
     .completion = Completion::Words},
    {.id = Update,
     .name = "--update",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "convert only files newer than their existing output"),
     .manualText = "Convert only files newer than their existing output."},
    {.id = KeepDates,
     .name = "--keep-dates",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "give each output its source's modification time"),
     .manualText = "Give each output its source's modification time."},
    {.id = DateFromExif,
     .name = "--date-from-exif",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "date each output by the photo's DateTimeOriginal (else the\n"
             "source's time); --update counts an output so dated as up\n"
             "to date"),
     .manualText = "Date each output by the photo's DateTimeOriginal (local time, as cameras write it), "
                   "else by the\n"
                   "source's modification time. With \\fB\\-\\-update\\fR an output that bears the time the "
                   "run would give it\n"
                   "is up to date."},
    {.id = Recursive,
     .name = "--recursive",
     .shortName = "-r",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "a folder stands for the image files at any depth below it\n"
                                                "(hidden folders left out); with --out the folders below\n"
                                                "each folder given are made again there"),
     .manualText =
         "A folder stands for the image files at any depth below it (hidden folders left out); with\n"
         "\\fB\\-\\-out\\fR the folders below each folder given are made again there."},
    {.id = FilesFrom,
     .name = "--files-from",
     .value = OptionValue::Name,
     .valueText = "FILE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "read more files, one per line, from FILE (- for standard\n"
                                                "input)"),
     .manualText = "Read more files, one per line, from FILE (\\- for standard input).",
     .completion = Completion::Files},
    {.id = NulSeparated,
     .name = nullptr,
     .shortName = "-0",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the --files-from names end with a NUL, not a line end"),
     .manualText = "The \\fB\\-\\-files\\-from\\fR names end with a NUL, not a line end."},
    {.id = Shard,
     .name = "--shard",
     .value = OptionValue::Name,
     .valueText = "K/N",
     .help =
         QT_TRANSLATE_NOOP("velmora-batch", "convert only part K of N of the files (one machine's share);\n"
                                            "needs --overwrite overwrite or skip, or --update. Running\n"
                                            "numbers come from each file's place in the whole list, so a\n"
                                            "file that fails leaves its number unused"),
     .manualText =
         "Convert only part K of N of the files (one machine's share); needs \\fB\\-\\-overwrite "
         "overwrite\\fR or\n"
         "\\fBskip\\fR, or \\fB\\-\\-update\\fR. Running numbers come from each file's place in the "
         "whole list, so\n"
         "a file that fails leaves its number unused.",
     .completion = Completion::Words,
     .words = "auto"},
    {.id = Shard,
     .name = "--shard",
     .value = OptionValue::Literal,
     .valueText = "auto",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "K and N from a Slurm job array (SLURM_ARRAY_TASK_ID and\n"
                                                "its MIN/MAX/STEP/COUNT) or a Kubernetes Indexed Job\n"
                                                "(JOB_COMPLETION_INDEX, with --shards N)"),
     .manualText = "K and N from a Slurm job array (SLURM_ARRAY_TASK_ID and its MIN/MAX/STEP/COUNT) or a "
                   "Kubernetes\n"
                   "Indexed Job (JOB_COMPLETION_INDEX, with \\fB\\-\\-shards\\fR N)."},
    {.id = Shards,
     .name = "--shards",
     .value = OptionValue::Name,
     .valueText = "N",
     .manual = ManualEntry::InText,
     .least = 1, .most = 1000000, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 1 up")},
    {.id = Jobs,
     .name = "--jobs",
     .value = OptionValue::Name,
     .valueText = "N",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "files converted at once (default: one per core); the log,\n"
                                                "the questions and the outputs keep the order of the files"),
     .manualText = "Files converted at once (default: one per core).",
     .least = 1, .most = 64, .takes = QT_TRANSLATE_NOOP("velmora-batch", "a number from 1 to 64")},
    {.id = NoAutorotate,
     .name = "--no-autorotate",
     .help =
         QT_TRANSLATE_NOOP("velmora-batch", "keep photos as stored, not turned upright as their file says"),
     .manualText = "Keep photos as stored, not turned upright as their file says."},
    {.id = Strip,
     .name = "--strip",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "write no metadata (EXIF, XMP, IPTC) into the outputs"),
     .manualText = "Write no metadata (EXIF, XMP, IPTC) into the outputs."},
    {.id = StripLocation,
     .name = "--strip-location",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "drop only the GPS fields of the metadata"),
     .manualText = "Drop only the GPS fields of the metadata."},
    {.id = SetTag,
     .name = "--set",
     .value = OptionValue::Name,
     .valueText = "TAG=VALUE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "write a tag into each output's EXIF and XMP (after --strip;\n"
                                                "repeatable): Artist, Copyright, ImageDescription,\n"
                                                "Keywords (split at , or ;) or Rating (0-5); VALUE may\n"
                                                "hold the --name tokens ({date:%Y}, {name}, {n})"),
     .manualText = "Write a tag into each output's metadata; the option may be given for several tags (the "
                   "last value of a\n"
                   "tag counts). TAG is one of Artist, Copyright, ImageDescription (the caption), Keywords and "
                   "Rating, in\n"
                   "any case. Artist, Copyright and ImageDescription go to EXIF (only when VALUE is ASCII, as "
                   "EXIF's type\n"
                   "asks) and to XMP (dc:creator, dc:rights, dc:description); Keywords, split at commas or "
                   "semicolons, to\n"
                   "XMP dc:subject and IPTC Keywords (UTF\\-8, so marked); Rating, 0 to 5, to XMP xmp:Rating "
                   "and EXIF\n"
                   "Rating and RatingPercent. VALUE may hold the tokens of \\fB\\-\\-name\\fR ({name}, {n}, "
                   "{date:FORMAT}, {folder}),\n"
                   "filled in for each file. Tags are written after \\fB\\-\\-strip\\fR, so \\fB\\-\\-strip "
                   "\\-\\-set\\fR leaves only what is set. A\n"
                   "plain copy of an AVIF, HEIC or JPEG XL file is encoded instead, since its metadata cannot "
                   "be rewritten\n"
                   "in place. WebP has no place for IPTC: its keywords are in XMP only."},
    {.id = SetIfEmpty,
     .name = "--set-if-empty",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "--set writes only the tags a picture lacks (in EXIF and XMP)"),
     .manualText = "\\fB\\-\\-set\\fR writes only the tags a picture lacks: a tag present in its EXIF or "
                   "XMP (keywords: XMP or\n"
                   "IPTC) is left as it is."},
    {.id = ShiftDates,
     .name = "--shift-dates",
     .value = OptionValue::Name,
     .valueText = "[+-]N(d|h|m|s)...",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "move the shot's dates (DateTimeOriginal, CreateDate and\n"
                                                "their XMP twins) by +1h30m, -2d, +45s...; --date-from-exif,\n"
                                                "--update and {date} see the moved date"),
     .manualText = "Move the dates the photo was taken and digitized (EXIF DateTimeOriginal and "
                   "DateTimeDigitized, XMP\n"
                   "exif:DateTimeOriginal, xmp:CreateDate and photoshop:DateCreated, where present) by a "
                   "time: a sign and\n"
                   "numbers of days, hours, minutes and seconds (+1h30m, \\-2d, +45s), at most 100 years. "
                   "\\fB\\-\\-date\\-from\\-exif\\fR,\n"
                   "\\fB\\-\\-update\\fR and the {date} token see the moved date."},
    {.id = Lossless,
     .name = "--lossless",
     .value = OptionValue::Choices,
     .valueText = "auto|trim|off",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "a JPEG only rotated stays a JPEG turned without loss, its\n"
                                                "quality unused: where its blocks allow (auto, the\n"
                                                "default), dropping the partial edge blocks (trim), or\n"
                                                "never, encoded again (off)"),
     .manualText = "A JPEG only rotated, staying a JPEG, is turned on its DCT coefficients without loss "
                   "(the quality\n"
                   "unused, orientation 1 written): where its sides are whole blocks (auto, the default; "
                   "else it is\n"
                   "encoded again), always, dropping the partial edge blocks as jpegtran \\-trim does "
                   "(trim), or never\n"
                   "(off).",
     .completion = Completion::Words},
    {.id = IfLarger,
     .name = "--if-larger",
     .value = OptionValue::Choices,
     .valueText = "keep|write",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "an output in its source's format and size, nothing drawn\n"
                                                "on it and not rotated, that would be larger than its\n"
                                                "source: the source copied instead (keep), or written\n"
                                                "(write, the default)"),
     .manualText = "An output in its source's format and pixel size, with no stamp drawn and not rotated, "
                   "that would be\n"
                   "larger than its source: the source is copied instead, its metadata as the options say "
                   "(keep), or\n"
                   "the output written (write, the default).",
     .completion = Completion::Words},
    {.id = Log,
     .name = "--log",
     .value = OptionValue::Choices,
     .valueText = "text|json",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the log as text (default) or as one JSON object per file\n"
                                                "(source, output, status ok/skipped/error, reason, ms,\n"
                                                "bytes_in, bytes_out) and a last one with the totals"),
     .manualText = "The log as text (default) or as one JSON object per file (source, output, status "
                   "ok/skipped/error,\n"
                   "reason, ms, bytes_in, bytes_out) and a last one with the totals.",
     .completion = Completion::Words},
    {.id = Help,
     .name = "--help",
     .shortName = "-h",
     .shortListed = false,
     .help = QT_TRANSLATE_NOOP("velmora-batch", "this text"),
     .manualText = "Print the options and exit."},
    {.id = Version,
     .name = "--version",
     .shortName = "-V",
     .help =
         QT_TRANSLATE_NOOP("velmora-batch", "the version of the program and of the libraries it runs with"),
     .manualText = "Print the version of the program and of the image libraries it runs with, and exit."},
    {.id = DryRun,
     .name = "--dry-run",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "write nothing: tell for each file what the run would do\n"
                                                "(convert, copy, skip, overwrite or rename, and to which\n"
                                                "name); with --log json each record's outcome is\n"
                                                "\"planned\" and its \"action\" says which"),
     .manualText = "Write nothing: read only the files' headers and tell for each file what the run would "
                   "do (convert,\n"
                   "copy, lossless transform, skip, overwrite, rename, or ask) and to which name, running "
                   "numbers and\n"
                   "templates resolved as the run resolves them. No folder, temporary file or journal is "
                   "made and no\n"
                   "question is asked; with \\fB\\-\\-log json\\fR each record's outcome is \\(lqplanned\\(rq "
                   "and its\n"
                   "\\(lqaction\\(rq key says which, and the summary counts them as \\(lqplanned\\(rq. The "
                   "exit status is\n"
                   "the run's where it can be told: 1 when a file would fail, or when the run would ask "
                   "with no terminal\n"
                   "to answer."},
    {.id = TrashReplaced,
     .name = "--trash-replaced",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "keep each file an output replaces in the desktop trash, so\n"
                                                "--undo can give it back"),
     .manualText = "Keep each file an output replaces in the desktop trash (hard-linked there, or copied when "
                   "the trash is on\n"
                   "another device) before the output takes its name, so \\fB\\-\\-undo\\fR can give it "
                   "back."},
    {.id = Undo,
     .name = "--undo",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "undo the last run: remove its outputs and give back the\n"
                                                "files it replaced from the trash"),
     .manualText = "Undo the last run: remove the outputs its journal names (in "
                   "\\fI$XDG_STATE_HOME/velmora/runs\\fR) and give\n"
                   "back from the trash the files they replaced. An output changed since the run is left "
                   "alone; it, and\n"
                   "each replaced file that cannot be given back, is named, and the exit status is then 1."},
    {.id = UndoJournal,
     .name = "--undo-journal",
     .value = OptionValue::Name,
     .valueText = "FILE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "undo the run of that journal instead of the last"),
     .manualText = "Undo the run of that journal instead of the last.",
     .completion = Completion::Files},
    {.id = Preset,
     .name = "--preset",
     .value = OptionValue::Name,
     .valueText = "NAME|FILE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "every option of a saved preset (a name with a / is a file);\n"
                                                "options after it change it, those before it are replaced"),
     .manualText = "Take every option of the run (resize, names, rotation, watermark, format and its "
                   "settings, quality,\n"
                   "destination, metadata, dates) from the preset NAME, saved in the window or with "
                   "\\fB\\-\\-save\\-preset\\fR as\n"
                   "\\fI$XDG_CONFIG_HOME/Korvane/presets/NAME.ini\\fR, or from FILE when the value holds a "
                   "\\(lq/\\(rq. Options after it\n"
                   "change what it says; options before it are replaced by it. A damaged preset is a usage "
                   "error naming\n"
                   "its file and line.",
     .completion = Completion::Presets},
    {.id = SavePreset,
     .name = "--save-preset",
     .value = OptionValue::Name,
     .valueText = "NAME",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "save the other options as the preset NAME (with no files:\n"
                                                "save only)"),
     .manualText = "Save the other options as the preset NAME, replacing one of that name; with no files "
                   "given, only save.\n"
                   "A name may not be empty, start with a dot or hold a \\(lq/\\(rq or a control character."},
    {.id = ListPresets,
     .name = "--list-presets",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "list the saved presets, one name a line"),
     .manualText = "List the saved presets, one name a line, sorted, and exit."},
    {.id = Watch,
     .name = "--watch",
     .value = OptionValue::Name,
     .valueText = "DIR",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "keep converting what arrives in DIR (below it with -r) until\n"
                                                "stopped: the files there first, then each new or rewritten\n"
                                                "one once written; implies --update"),
     .manualText = "Keep converting what arrives in DIR (at any depth with \\fB\\-r\\fR, new folders "
                   "included) until stopped\n"
                   "by Ctrl-C or SIGTERM. The image files already there are converted first; then each new "
                   "or rewritten\n"
                   "file once its writer closes it or it is moved in, or, where no close is seen (network "
                   "folders), once\n"
                   "its size and time have held for \\fB\\-\\-settle\\fR. Files that became ready together "
                   "are one run.\n"
                   "Implies \\fB\\-\\-update\\fR unless \\fB\\-\\-overwrite\\fR is given "
                   "(not ask). The outputs and temporary files\n"
                   "of this program, named by the runs' journals, are never taken as sources, so a "
                   "destination inside\n"
                   "DIR is safe and a restart converts nothing twice. A file that fails is not tried again "
                   "until it\n"
                   "changes. The whole watch is one run for \\fB\\-\\-undo\\fR.",
     .completion = Completion::Folders},
    {.id = WatchNewOnly,
     .name = "--watch-new-only",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "with --watch: leave the files already there alone"),
     .manualText = "With \\fB\\-\\-watch\\fR: leave the files already there alone; only files that arrive "
                   "or change are converted."},
    {.id = Settle,
     .name = "--settle",
     .value = OptionValue::Name,
     .valueText = "SECONDS",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "with --watch: a file whose close is not seen is taken once\n"
                                                "its size and time held this long (default 2, 0-3600)"),
     .manualText = "With \\fB\\-\\-watch\\fR: a file seen created or changed but not closed (as on network "
                   "folders) is taken\n"
                   "once its size and modification time have held this long; 0 to 3600, fractions allowed "
                   "(default 2)."},
    {.id = Then,
     .name = "--then",
     .value = OptionValue::Name,
     .valueText = "keep|trash|move:DIR",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "with --watch: what becomes of a source once its outputs\n"
                                                "are on the disk: keep (default), trash, or move into DIR"),
     .manualText = "With \\fB\\-\\-watch\\fR: what becomes of a source once every output of it is written, "
                   "flushed to the disk\n"
                   "and in place, never before: keep (default) leaves it; trash puts it into the desktop "
                   "trash; move:DIR\n"
                   "moves it into DIR (made when missing) under its name, or a free one like "
                   "\\(lqNAME (2).EXT\\(rq.",
     .completion = Completion::Words,
     .words = "keep trash move:"},
    {.id = WatchConfig,
     .name = "--watch-config",
     .value = OptionValue::Name,
     .valueText = "FILE",
     .help = QT_TRANSLATE_NOOP("velmora-batch", "the options of a watch from FILE, KEY=VALUE lines: FOLDER,\n"
                                                "PRESET, OUT, RECURSIVE, THEN, SETTLE, NEW_ONLY"),
     .manualText = "The options of a watch read from FILE (at most 64 KB), one KEY=VALUE a line; blank "
                   "lines and lines\n"
                   "starting with # are passed over, and a value is taken as it stands, spaces included. "
                   "FOLDER (needed)\n"
                   "is \\fB\\-\\-watch\\fR, PRESET \\fB\\-\\-preset\\fR, OUT \\fB\\-\\-out\\fR, THEN "
                   "\\fB\\-\\-then\\fR, SETTLE \\fB\\-\\-settle\\fR; RECURSIVE=yes is \\fB\\-r\\fR and "
                   "NEW_ONLY=yes\n"
                   "\\fB\\-\\-watch\\-new\\-only\\fR. A leading ~/ is the home folder. The "
                   "velmora\\-watch@.service user unit runs\n"
                   "velmora\\-batch \\fB\\-\\-watch\\-config\\fR ~/.config/Korvane/watch/NAME.conf.",
     .completion = Completion::Files},
};

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> Split(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
        const std::size_t at = text.find(separator, from);
        parts.emplace_back(text.substr(from, at - from));
        if (at == std::string_view::npos)
            return parts;
        from = at + 1;
    }
}

std::vector<std::string> Choices(const BatchOption &option)
{
    if (option.words)
        return Split(option.words, ' ');
    if (option.value == OptionValue::Formats) {
        std::vector<std::string> names{"keep"};
        for (const ImageFormat &f : OutputFormats())
            names.push_back(Lower(f.name));
        return names;
    }
    if (option.value == OptionValue::Choices)
        return Split(option.valueText, '|');
    return {};
}

// The names shown: "-r, --recursive", "--help" (its -h is not listed).
std::vector<std::string> ListedNames(const BatchOption &option)
{
    std::vector<std::string> names;
    if (option.shortName && option.shortListed)
        names.emplace_back(option.shortName);
    if (option.name)
        names.emplace_back(option.name);
    return names;
}

std::string Join(const std::vector<std::string> &parts, const char *separator)
{
    std::string text;
    for (const std::string &part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

std::string Roff(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '-')
            out += '\\';
        out += c;
    }
    return out;
}

// The .TP heading of an entry: bold names, value names in italics, choices
// and literal values upright.
std::string ManualHeading(std::span<const BatchOption> entry)
{
    const BatchOption &first = entry.front();
    std::vector<std::string> names;
    for (const std::string &name : ListedNames(first))
        names.push_back(Roff(name));
    switch (first.value) {
    case OptionValue::None:
        return names.size() == 1 ? ".B " + names[0] : ".BR " + Join(names, " \", \" ");
    case OptionValue::Literal:
        return ".B " + names[0] + " " + Roff(first.valueText);
    case OptionValue::Choices:
    case OptionValue::Formats:
        return ".BR " + names[0] + " \" " + Roff(OptionValueText(first)) + "\"";
    case OptionValue::Name:
        break;
    }
    std::string heading = ".BI";
    for (std::size_t i = 0; i < entry.size(); ++i)
        heading += " " + Roff(entry[i].name) + " \" " + Roff(entry[i].valueText) +
                   (i + 1 < entry.size() ? "\\fR, \"" : "\"");
    return heading;
}

} // namespace

std::span<const BatchOption> BatchOptions()
{
    static const std::vector<BatchOption> options = [] {
        std::vector<BatchOption> all;
        for (const BatchOption &option : kOptions) {
            all.push_back(option);
            if (option.id != Rotate)
                continue;
            for (const EditOption &edit : EditOptions())
                all.push_back({.id = Edit,
                               .name = edit.name,
                               .value = !edit.valueText ? OptionValue::None
                                        : edit.choices  ? OptionValue::Choices
                                                        : OptionValue::Name,
                               .valueText = edit.valueText,
                               .help = edit.help,
                               .manualText = edit.manual,
                               .completion = edit.choices ? Completion::Words : Completion::None,
                               .edit = &edit});
        }
        return all;
    }();
    return options;
}

const BatchOption *FindBatchOption(const std::string &arg)
{
    for (const BatchOption &option : BatchOptions())
        if (option.value != OptionValue::Literal &&
            ((option.name && arg == option.name) || (option.shortName && arg == option.shortName)))
            return &option;
    return nullptr;
}

std::string OptionValueText(const BatchOption &option)
{
    return option.value == OptionValue::Formats ? Join(Choices(option), "|")
           : option.valueText                   ? option.valueText
                                                : "";
}

std::string OptionChoices(const BatchOption &option, const char *separator, const char *last)
{
    const std::vector<std::string> choices = Choices(option);
    std::string text;
    for (std::size_t i = 0; i < choices.size(); ++i)
        text += (i == 0 ? "" : last && i + 1 == choices.size() ? last : separator) + choices[i];
    return text;
}

int OptionChoiceIndex(const BatchOption &option, const std::string &value)
{
    const std::vector<std::string> choices = Choices(option);
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i] == value)
            return int(i);
    return -1;
}

namespace {

// The columns a character takes on a terminal: two for the wide (East Asian)
// ones, one for the rest.
int Columns(QChar c)
{
    const char16_t u = c.unicode();
    const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF && u != 0x303F) ||
                      (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
                      (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6);
    return c.isLowSurrogate() ? 0 : wide ? 2 : 1;
}

int Columns(const QString &text)
{
    int n = 0;
    for (const QChar c : text)
        n += Columns(c);
    return n;
}

// text in lines of at most width columns: broken at a blank, after the '|'
// of a list of choices or after a wide character; a word longer than a line
// has a line of its own. Line ends in text count as blanks, so a translation
// is laid out as the English is.
std::vector<QString> Wrap(const QString &text, int width)
{
    // Pieces a line may end after; a blank between them is dropped at a break.
    std::vector<QString> pieces;
    QString piece;
    for (const QChar c : text) {
        if (c == ' ' || c == '\n') {
            if (!piece.isEmpty())
                pieces.push_back(piece);
            pieces.push_back(QStringLiteral(" "));
            piece.clear();
            continue;
        }
        piece += c;
        if (c == '|' || Columns(c) == 2) {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.isEmpty())
        pieces.push_back(piece);
    std::vector<QString> lines(1);
    for (const QString &p : pieces) {
        QString &line = lines.back();
        if (p == QStringLiteral(" ")) {
            if (!line.isEmpty() && !line.endsWith(' '))
                line += ' ';
        } else if (line.isEmpty() || Columns(line) + Columns(p) <= width) {
            line += p;
        } else {
            while (line.endsWith(' '))
                line.chop(1);
            lines.push_back(p);
        }
    }
    while (lines.back().endsWith(' '))
        lines.back().chop(1);
    return lines;
}

} // namespace

const char *BatchUsage()
{
    // Every line fits a terminal of 80 columns. The text of an option starts
    // in this column, below its heading when the heading is longer.
    constexpr int kWidth = 80;
    constexpr int kColumn = 23;
    static const std::string text = [] {
        std::string usage =
            QCoreApplication::translate(
                "velmora-batch", "Usage: velmora-batch [options] FILE...\n"
                                 "Converts image files (JPEG, PNG, TIFF, GIF, BMP, PCX, WebP, AVIF, JPEG XL; "
                                 "HEIC,\n"
                                 "PNM, ICO and TGA read only). A folder stands for the image files in it, in "
                                 "the\n"
                                 "order the program lists them.\n")
                .toStdString() +
            "\n";
        const QString column(kColumn, ' ');
        for (const BatchOption &option : BatchOptions()) {
            if (!option.help)
                continue;
            std::string heading = Join(ListedNames(option), ", ");
            if (option.value != OptionValue::None)
                heading += " " + OptionValueText(option);
            const std::vector<QString> headingLines = Wrap(QString::fromStdString(heading), kWidth - 2 - 4);
            std::vector<QString> lines;
            for (std::size_t i = 0; i < headingLines.size(); ++i)
                lines.push_back((i == 0 ? QStringLiteral("  ") : QStringLiteral("      ")) + headingLines[i]);
            const QString help = QCoreApplication::translate("velmora-batch", option.help);
            std::size_t at = lines.size() == 1 && Columns(lines[0]) + 2 <= kColumn ? 0 : lines.size();
            for (const QString &helpLine : Wrap(help, kWidth - kColumn)) {
                if (at == lines.size())
                    lines.push_back(column);
                else
                    lines[at] = lines[at].leftJustified(kColumn, ' ');
                lines[at++] += helpLine;
            }
            for (const QString &line : lines)
                usage += line.toStdString() + "\n";
        }
        return usage + "\n" +
               QCoreApplication::translate(
                   "velmora-batch",
                   "Exit status: 0 when every file converted, 1 when any failed or the run was\n"
                   "cancelled, 2 on a usage error. Ctrl-C or SIGTERM stops the run (finished outputs\n"
                   "stay, the file in progress is dropped) and ends the program by that signal.\n")
                   .toStdString();
    }();
    return text.c_str();
}

std::string ManualOptions()
{
    std::string text;
    const std::span<const BatchOption> options = BatchOptions();
    for (std::size_t i = 0; i < options.size();) {
        std::size_t end = i + 1;
        while (end < options.size() && options[end].manual == ManualEntry::WithPrevious)
            ++end;
        if (options[i].manual == ManualEntry::Own)
            text +=
                ".TP\n" + ManualHeading(options.subspan(i, end - i)) + "\n" + options[i].manualText + "\n";
        i = end;
    }
    return text;
}

std::string CompletionCases()
{
    constexpr const char *kIndent = "        ";
    constexpr const char *kBody = "            ";
    const auto pattern = [&](const BatchOption &option) {
        return kIndent + Join(ListedNames(option), "|") + ")\n";
    };
    std::string words, folders, files, fonts, presets, plain;
    for (const BatchOption &option : BatchOptions()) {
        if (option.value == OptionValue::None || option.value == OptionValue::Literal)
            continue;
        switch (option.completion) {
        case Completion::Words:
            words += pattern(option) + kBody + "COMPREPLY=($(compgen -W '" + OptionChoices(option, " ") +
                     "' -- \"$cur\"))\n" + kBody + "return ;;\n";
            break;
        case Completion::Folders:
        case Completion::Files:
            (option.completion == Completion::Folders ? folders : files) +=
                pattern(option) + kBody + "compopt -o filenames 2>/dev/null\n" + kBody +
                "COMPREPLY=($(compgen " + (option.completion == Completion::Folders ? "-d" : "-f") +
                " -- \"$cur\"))\n" + kBody + "return ;;\n";
            break;
        case Completion::Fonts:
            fonts += pattern(option) + kBody + "local IFS=$'\\n'\n" + kBody +
                     "COMPREPLY=($(compgen -W \"$(fc-list : family 2>/dev/null | cut -d, -f1 | sort -u)\" -- "
                     "\"$cur\"))\n" +
                     kBody + "return ;;\n";
            break;
        case Completion::Presets:
            // The saved presets' names, and files.
            presets += pattern(option) + kBody + "local IFS=$'\\n'\n" + kBody +
                       "COMPREPLY=($(compgen -W \"$(ls \"${XDG_CONFIG_HOME:-$HOME/.config}/Korvane/presets\" "
                       "2>/dev/null | sed -n 's/\\.ini$//p')\" -- \"$cur\") $(compgen -f -- \"$cur\"))\n" +
                       kBody + "return ;;\n";
            break;
        case Completion::None:
            plain += (plain.empty() ? "" : "|") + Join(ListedNames(option), "|");
            break;
        }
    }
    // Values typed freely: no file names offered.
    if (!plain.empty())
        plain = kIndent + plain + ")\n" + kBody + "return ;;\n";
    return words + folders + files + fonts + presets + plain;
}

std::string CompletionNames(std::size_t firstColumn, std::size_t indent, std::size_t width)
{
    std::string text;
    std::size_t column = firstColumn;
    bool lineStart = true;
    for (const BatchOption &option : BatchOptions()) {
        if (option.value == OptionValue::Literal)
            continue;
        for (const std::string &name : ListedNames(option)) {
            if (!lineStart && column + 1 + name.size() > width) {
                text += "\n" + std::string(indent, ' ');
                column = indent;
                lineStart = true;
            }
            if (!lineStart) {
                text += ' ';
                ++column;
            }
            text += name;
            column += name.size();
            lineStart = false;
        }
    }
    return text;
}
