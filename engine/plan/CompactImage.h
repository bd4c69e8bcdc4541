// The smaller forms of a page image: a JPEG page keeps its JPEG data under
// /DCTDecode, a bilevel page that is not fax data is coded as CCITT Group 4
// or 1-bit Flate, whichever is smaller. Pages with anything doubtful about
// them take the compression table's plan instead.
#pragma once

#include <optional>

#include "engine/Conversion.h"
#include "engine/encode/BilevelCoding.h"
#include "engine/plan/ImagePlan.h"

namespace quorvex {

class TiffDocument;

enum class CompactForms {
    // Only where readers draw libtiff's pixels: JPEG data in one strip, or in
    // strips that join without changing a row.
    Exact,
    // Also JPEG strips whose boundary rows readers draw a little differently.
    Smallest,
};

// The forms the options ask for; nullopt: every page as the compression
// table says (the classic profile, or every page decoded on request).
std::optional<CompactForms> compactFormsFor(const ConversionOptions& options);

// The selected page's smaller plan, or nullopt when it has none. A JPEG
// page's data is read and joined here (image::KeptJpeg); a bilevel page is
// decoded and coded both ways as it is written (image::SmallerBilevel).
std::optional<ImagePlan> compactPlan(const TiffDocument& document, CompactForms forms);

// An image::SmallerBilevel page's plan once its coding is chosen.
ImagePlan codedBilevelPlan(BilevelCodec codec, BitmapPolarity polarity);

}  // namespace quorvex
