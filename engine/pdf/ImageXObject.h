// The Image XObject of a page, written from its plan: the dictionary text,
// then the samples read the way the plan says.
#pragma once

#include <cstdint>
#include <string>

#include "engine/plan/ImagePlan.h"

namespace quorvex {

struct PageReading;

// The image's size in pixels.
struct ImageSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The object's text after its "N 0 obj" line up to and including the
// "stream" line. `lengthNumber` is the object holding the stream's length;
// `imageName` names the image (/Im0, /Im1, ...).
std::string imageDictionary(const ImagePlan& plan, ImageSize size, uint32_t imageName,
                            uint64_t lengthNumber);

// Reads the page's samples from the plan's source into the reading's sink.
void writeImageSamples(PageReading& reading, const ImagePlan& plan);

// Ends the image object after its stream data.
inline constexpr const char* kImageObjectEnd = "\rendstream\rendobj\r";

}  // namespace quorvex
