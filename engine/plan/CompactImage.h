// The compact forms of a page image (ConversionRequest::compact): a JPEG
// page keeps its JPEG data under /DCTDecode, a bilevel page that is not
// fax-coded is coded as CCITT Group 4. Pages with anything doubtful about
// them take the compression table's plan instead.
#pragma once

#include <optional>

#include "engine/plan/ImagePlan.h"

namespace quorvex {

class TiffDocument;

// The selected page's compact plan, or nullopt when it has none. A JPEG
// page's data is read and joined here (JpegPassThrough); a bilevel page is
// decoded and coded again by the fax source (FaxReencode).
std::optional<ImagePlan> compactPlan(const TiffDocument& document);

}  // namespace quorvex
