// The Image XObject of a page: how its samples travel (CCITT data copied as
// stored, or decoded and Flate-compressed), its colour space and bit depth.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/EngineError.h"
#include "engine/pdf/DecodedPixels.h"
#include "engine/pdf/DocumentObjects.h"
#include "engine/pdf/SampleFormats.h"
#include "engine/pdf/SampleRoutes.h"
#include "engine/pdf/StreamSink.h"

namespace quorvex {

class TiffDocument;

// Everything decided about a page image before its samples are read.
struct ImagePlan {
    uint16_t effectiveCompression = 0;
    std::string filterLines;  // filter, decode parameters and /Decode lines
    std::string colourSpace;  // the whole /ColorSpace entry
    int bitsPerComponent = 1;
    SampleRoute route = SampleRoute::RawStrips;
    StreamEncoding encoding = StreamEncoding::Raw;
    // Set when the page takes the lossless decoded path instead of `route`.
    std::optional<DecodedLayout> decoded;
    // Set when the engine maps the page's samples itself (SampleFormats.h).
    std::optional<SampleFormatPlan> mapped;
};

// Pixels a page may have; a file claiming more is refused rather than
// decoded for minutes or handed to readers that cannot show it.
inline constexpr uint64_t kMaxPagePixels = uint64_t{1} << 32;

// Compression the page is treated as: PackBits (decode and re-compress) for
// pages whose stored data is not to be trusted, otherwise its own.
uint16_t effectiveCompression(const TiffDocument& document);

ImagePlan planImage(const TiffDocument& document);

// Whether the compression-based plan carries the page's samples as they are
// (its route, bit depth and colour space agree with the page's layout).
bool planIsFaithful(const TiffDocument& document, const ImagePlan& plan);

// The inline indexed colour space for the selected page.
std::string indexedColourSpace(const TiffDocument& document);

// The object's text after its "N 0 obj" line up to and including the
// "stream" line. `number` is the image's own object number; its stream
// length is object number + 1.
std::string imageDictionary(const TiffDocument& document, const ImagePlan& plan, uint64_t number);

// Reads the page's samples the way the plan says and appends them to `sink`.
void writeImageSamples(TiffDocument& document, const ImagePlan& plan, SampleSink& sink,
                       const std::atomic<bool>* cancel);

// Ends the image object after its stream data.
inline constexpr const char* kImageObjectEnd = "\rendstream\rendobj\r";

// Runs `body` under the image object's failure code.
template <typename Body>
auto guardImageObject(Body&& body) -> decltype(body()) {
    return guardWriter(kImageObjectFailure, std::forward<Body>(body));
}

}  // namespace quorvex
