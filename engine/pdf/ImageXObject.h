// The Image XObject of a page, written from its plan: the dictionary text,
// then the samples read the way the plan says.
#pragma once

#include <cstdint>
#include <string>

#include "engine/plan/ImagePlan.h"

namespace quorvex {

struct PageLayout;
struct PageReading;

// The object's text after its "N 0 obj" line up to and including the
// "stream" line. `number` is the image's own object number; its stream
// length is object number + 1. `pageIndex` names the image (/Im0, /Im1, ...).
std::string imageDictionary(const ImagePlan& plan, const PageLayout& page, uint32_t pageIndex,
                            uint64_t number);

// Reads the page's samples from the plan's source into the reading's sink.
void writeImageSamples(PageReading& reading, const ImagePlan& plan);

// Ends the image object after its stream data.
inline constexpr const char* kImageObjectEnd = "\rendstream\rendobj\r";

}  // namespace quorvex
