// What of a job makes its outputs, its file list aside, as one comparable
// value: two front ends that fill a job alike give equal fields.
#pragma once

#include "convert/convertjob.h"

#include <string>
#include <tuple>

namespace testsupport {

inline auto JobFields(const CConvertJob &j)
{
    const LOGFONT f = j.m_lfStampFont.value_or(LOGFONT());
    return std::tuple(
        std::tuple(j.GetFlagsByte(), j.m_szFormat, j.m_szOutDir, j.m_szRenamePrefix, j.m_szRenameSuffix,
                   j.m_nStartNumber, j.m_nResizeType, j.m_nWidth, j.m_nHeight, j.m_nrotateType,
                   j.m_szStampText, j.m_crStampColor, f.lfHeight, f.lfWeight, std::string(f.lfFaceName)),
        std::tuple(j.m_nOverwrite, j.m_bSharpen, j.m_bDontEnlarge, j.m_nQuality, j.m_bAutoRotate,
                   j.m_bStripMetadata, j.m_bStripLocation, j.m_nEdgeSize, j.m_nPercent, j.m_nGravity,
                   j.m_crBackground, j.m_nCropRatioW, j.m_nCropRatioH, j.m_szNameTemplate),
        std::tuple(j.m_nExtCase, j.m_nOutputDate, j.m_nStampPosition, j.m_nStampMargin, j.m_nStampOpacity,
                   j.m_nStampSizePercent, j.m_bStampShadow, bool(j.m_logo), j.m_nLogoSizePercent,
                   j.m_encoder == CEncoderSettings(), j.m_encoder.m_nWebpEffort, j.m_encoder.m_nDpi,
                   j.m_encoder.m_nJpegSubsampling, j.m_nLossless, j.m_bKeepIfLarger),
        std::tuple(j.m_sizes, j.m_szSizeTag, j.m_edits, j.m_metaEdits, j.m_encoder.m_nPageSize, j.m_encoder.m_nPageMargin));
}

} // namespace testsupport
