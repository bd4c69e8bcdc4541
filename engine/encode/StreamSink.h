// Where a page's stream data goes: straight into the PDF, or Flate-compressed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/Conversion.h"  // the Flate levels
#include "engine/encode/SampleSink.h"
#include "engine/encode/WholeStreamFlate.h"

namespace quorvex {

class PdfSink;

enum class StreamEncoding { Raw, Flate };

// Flate streams are compressed whole by libdeflate up to `wholeCap` bytes
// and by the streaming zlib sink beyond it; `level` is on libdeflate's
// scale (zlib stops at 9). A stream expected to pass the cap goes to zlib
// from its first byte.
// Given `parallelFor`, long libdeflate streams are compressed in pieces
// through it. Given `cancel`, compression looks at it at least every few
// megabytes and throws the cancellation once it is set.
std::unique_ptr<SampleSink> makeStreamSink(PdfSink& out, StreamEncoding encoding,
                                           int level = kDefaultFlateLevel,
                                           uint64_t expectedBytes = 0, ParallelFor parallelFor = {},
                                           const std::atomic<bool>* cancel = nullptr,
                                           uint64_t wholeCap = kWholeStreamCap);

// Streaming zlib deflate: holds only a small window, whatever the length. The
// bytes are those of zlib's one-shot compress2() at the same level.
std::unique_ptr<SampleSink> makeZlibSink(PdfSink& out, int level,
                                         const std::atomic<bool>* cancel = nullptr);

}  // namespace quorvex
