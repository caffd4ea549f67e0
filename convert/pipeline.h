// The steps that turn one decoded image into an output file: rotation,
// resizing, sharpening, the text stamp, the depth the output format needs,
// the JPEG quality and the save.
#pragma once

#include "convert/convertjob.h"
#include "convert/watermark.h"
#include "imaging/adjust.h"
#include "imaging/cximage.h"
#include "imaging/resampledrows.h"
#include "imaging/rowband.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Size a resize rule gives for a w x h image and a W x H target, computed in
// double precision and truncated toward zero. 64-bit, so no target up to
// 2147483647 overflows; the resampler refuses what it cannot hold.
struct ResizeTarget {
    std::int64_t width = 0;
    std::int64_t height = 0;
};
ResizeTarget ComputeResize(int w, int h, int rule, std::int32_t W, std::int32_t H);
// Every rule, the later ones taking the job's edge size and percentage: the
// long or short edge, a percentage, and for fill the size that covers the
// W x H box (cropped afterwards), for pad the size that fits inside it.
// Their sides are rounded to the nearest pixel and never less than 1.
ResizeTarget ComputeResize(int w, int h, const CConvertJob &job);

// Whether every step the job asks for leaves the rows as they are (no
// turning, resizing, sharpening or stamp, no size limit to try encodes
// against), or is done on each row alone (a left-right flip, tone and
// colour without auto-levels), cuts rows (a region or margins) or adds
// them (a border): RowEditsOf. The rows may then go from the decoder to
// the encoder as they come.
bool NeedsNoWholePicture(const CConvertJob &job);

// Whether what the job does after a plain resize (no fill's cut or pad's
// canvas) goes by row: tone and colour without auto-levels, sharpen, a
// border (RowEditsOf); nothing turned, cut or flipped before it, no stamp
// and no size limit. The shrunk rows may then go on to the encoder as they
// are made.
bool RowsAfterShrink(const CConvertJob &job);

// Whether a picture too large to hold can be turned on disk
// (CxTurnedRows) as TurnOf says, the rest of the job going by row after
// the turn: its stored orientation, a flip, a turn by quarters, then a
// region or margins cut, or a plain shrink (and sharpen); tone (with
// auto-levels only where nothing is cut or resized); a border.
bool TurnsOnDisk(const CConvertJob &job);
CxTurnedRows::Turn TurnOf(const CConvertJob &job);

// The edits done on the rows of a streamed picture (a region cut, a flip
// and tone on each row, sharpen, a border), the same pixels as
// TransformImage makes; edits is empty when there are none. After a turn
// (given), the region is where the turn put it and the flips are its own.
class RowEditsOf {
public:
    explicit RowEditsOf(const CConvertJob &job, const CxTurnedRows::Turn *turn = nullptr);
    ~RowEditsOf();
    RowEditsOf(const RowEditsOf &) = delete;
    RowEditsOf &operator=(const RowEditsOf &) = delete;
    CxRowEdits edits;

    // Auto-levels' counts, for the turn to gather as it stores the rows
    // (null: none).
    cxadjust::LevelCounts *Counts() const { return m_counts.get(); }

private:
    std::unique_ptr<cxadjust::LevelCounts> m_counts;
    std::unique_ptr<CxRowStep> m_step;
    std::unique_ptr<CxRowFilter> m_sharpen;
    std::unique_ptr<CxRowStamp> m_stamp;
};

// Whether the job draws a watermark (the plain stamp, text, a logo).
bool Stamps(const CConvertJob &job);

// The sharpen kernel: -1 around 15, size 3, divisor 7, offset 0.
extern const long kSharpenKernel[9];

struct TransformOutcome {
    bool failed = false;     // a rotation or resample returned false
    bool stampDrawn = false; // the watermark was drawn (JPEG quality 95)
    std::string reason;      // why it failed
};

// What a caller leaves out of the steps or lets go on. A run takes the
// defaults; an animation's frames ignore don't-enlarge; the preview shows the
// size asked for, never sharpens, and on a still shows every step that worked.
struct StepRules {
    bool consultDontEnlarge = true;
    bool sharpen = true;           // false: the job's sharpen is left out
    bool goOnAfterFailure = false; // resize and stamp still run after a failed step
};
inline constexpr StepRules kAnimationSteps{.consultDontEnlarge = false};
constexpr StepRules PreviewSteps(bool still)
{
    return {.consultDontEnlarge = false, .sharpen = false, .goOnAfterFailure = still};
}

// A part of a picture: left, top, width, height.
struct CropRect {
    std::int64_t left = 0, top = 0, width = 0, height = 0;
};
// The largest part of a w x h picture of the ratio rw : rh (its cut side
// rounded to the nearest pixel), placed at the gravity.
CropRect RatioCrop(std::int64_t w, std::int64_t h, std::int64_t rw, std::int64_t rh, int gravity);
// A width x height part at the gravity of a w x h picture (cut to fit).
CropRect PlaceAt(std::int64_t w, std::int64_t h, std::int64_t width, std::int64_t height, int gravity);

// What the job's geometry does to a w x h picture: the ratio crop, the
// resample (when it runs) and the size it ends at after fill or pad. Under a
// gravity that looks at the pixels (IsContentGravity) the crop is planned
// at the centre: its size is right, and TransformImage places it.
struct GeometryPlan {
    CropRect crop; // of the picture; the whole of it without a ratio crop
    bool resample = false;
    ResizeTarget target;                // the cropped part's size after the resample
    std::int64_t width = 0, height = 0; // the final size
};
GeometryPlan PlanGeometry(const CConvertJob &job, const StepRules &rules, int w, int h);
// The size the steps give a picture decoded at w x h (before the job's turn).
ResizeTarget PlannedOutputSize(const CConvertJob &job, const StepRules &rules, int w, int h);

// Where a gravity that looks at the pixels put a picture's ratio crop and
// fill crop. Given to TransformImage for each frame of an animation, the
// first frame's places are kept for the others, so the part kept does not
// jump from frame to frame.
struct ContentCrops {
    std::optional<CropRect> ratio, fill;
    // The trim's box, in the frame's pixels: one box for every frame.
    std::optional<CropRect> trim;
};

// The job as its geometry is done when the border goes inside the resize's
// size: every size the rule sets smaller by the border on both sides, the
// border in pixels (a percentage taken of the shorter side the rule sets).
// The job itself when the border is not inside.
CConvertJob WithBorderInside(const CConvertJob &job);

// The steps before the rotation: the region or margins, the trim, the flip.
// fileWidth x fileHeight (the file's size upright; 0 for the picture's own)
// become the size of the part kept, in the file's pixels, so the resize
// plans from it. False with the reason when nothing of the picture is left.
bool CutAndFlip(CxImage &img, const CConvertJob &job, int &fileWidth, int &fileHeight, ContentCrops *crops,
                std::string &reason);

// The border around the picture, in the job's colour.
bool AddBorder(CxImage &img, const CConvertJob &job);

// The steps before the rotation (CutAndFlip), rotation, resize, tone and
// colour, sharpen (runs even after a failure), border and stamp, in that
// order, as the rules say. The resize size comes from the file's own size
// (fileWidth x fileHeight, before rotation) when given, so a reduced decode
// ends at exactly the size a full one would. reason tells the first failure.
// crops, when given, holds the content-aware places found or to keep.
TransformOutcome TransformImage(CxImage &img, const CConvertJob &job, const StepRules &rules = {},
                                int fileWidth = 0, int fileHeight = 0, ContentCrops *crops = nullptr);

// TransformImage of a copy of from into img, from left as it is. Where the
// job only resizes (fill's cut and pad's canvas included), the resample
// reads from directly and no copy of it is made first. spare, when given,
// is from itself, no longer needed: where a copy would be made, it is
// taken instead.
TransformOutcome ReframeCopy(const CxImage &from, CxImage &img, const CConvertJob &job, int fileWidth = 0,
                             int fileHeight = 0, CxImage *spare = nullptr);

// The job's sharpen, when it is on and the rules keep it.
void Sharpen(CxImage &img, const CConvertJob &job, const StepRules &rules = {});

// How far past the final size a reduced JPEG decode must stay. A DCT-scaled
// decode is blockier than a filtered one; left at least 2:1 to finish, the
// resampler removes that, and the result matches a full decode's.
inline constexpr double kReducedDecodeMargin = 2.0;

// A load rule that decodes a JPEG at a reduced scale when the job's resize
// will shrink it enough; empty when the job never shrinks.
CxDecodeRequest::LoadSizeRule ReducedDecodeRule(const CConvertJob &job);

// The render rule (CxDecodeRequest::renderRule) for a drawing: the size the
// job's resize makes of it, larger or smaller, its region, margins and ratio
// crop taken into account; empty when the job does not resize.
CxDecodeRequest::LoadSizeRule RenderSizeRule(const CConvertJob &job);

// The size the job's resize gives a picture whose file is w x h (already
// turned where the job turns it a quarter); false when the step leaves the
// picture as it is (don't-enlarge, where the rules consult it).
bool PlannedResize(const CConvertJob &job, const StepRules &rules, int w, int h, ResizeTarget &t);

// For a decode that shrinks a JPEG as its rows come (ResampledRows): the
// size the job's resize will give it, when the resize is the first step that
// sees its pixels. Not for a profile that an output of outType cannot carry:
// that picture is converted whole before it is resized. The rule refers to
// job, which must outlive it.
ResampledRows::SizeRule ShrinkAsDecodedRule(const CConvertJob &job, std::uint32_t outType);
// The same for a picture turned (and trimmed) first (TurnsOnDisk): the size
// its resize gives the turned picture. Empty where something is cut before
// the resize.
ResampledRows::SizeRule ShrinkAfterTurnRule(const CConvertJob &job, std::uint32_t outType);
// For a picture too large to hold that the job turns or flips and then
// shrinks six times or more: the size its rows are box-averaged towards as
// they come (as the whole picture's resample would first average them), in
// the file's own orientation; the small picture is then turned and resized
// held. Empty where something is cut, trimmed or filled first.
ResampledRows::SizeRule BoxedBeforeTurnRule(const CConvertJob &job, std::uint32_t outType);

// The watermark at the lower right: x = width - text width - 10, y = height - 10.
void DrawStamp(CxImage &img, const CConvertJob &job, const RowsOfPicture &at = {});

// Brings the image to what the output type needs: 24 bits for a colour
// palette going to JPEG, the JPEG quality, the octree palette for GIF.
void PrepareForOutput(CxImage &img, std::uint32_t outType, const CConvertJob &job, bool stampDrawn);

enum class ConvertResult {
    Saved,
    TransformFailed, // nothing was written
    SaveFailed,
};

// The whole single-image path: transformations, then (when none failed) the
// depth step and the save.
ConvertResult ConvertImage(CxImage &img, const CConvertJob &job, const std::string &outPath,
                           std::uint32_t outType);
