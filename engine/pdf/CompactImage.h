// The compact forms of a page image (ConversionRequest::compact): a JPEG
// page keeps its JPEG data under /DCTDecode, a bilevel page that is not
// fax-coded is coded as CCITT Group 4. Pages with anything doubtful about
// them take the compression table's plan instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvex {

class SampleSink;
class TiffDocument;
struct ImagePlan;

enum class CompactSource { JpegData, Group4 };

struct CompactImage {
    CompactSource source = CompactSource::JpegData;
    // The joined JPEG stream, read while planning (it is the page's own
    // compressed data, small beside its decoded samples).
    std::shared_ptr<const std::vector<uint8_t>> jpeg;
};

// Fills `plan` (filter, colour space, bit depth, raw encoding) and returns
// true when the page has a compact form.
bool planCompactImage(const TiffDocument& document, ImagePlan& plan);

void writeCompactSamples(TiffDocument& document, const CompactImage& image, SampleSink& sink,
                         const std::atomic<bool>* cancel);

}  // namespace quorvex
