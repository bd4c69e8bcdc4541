// Where a page's stream data goes: straight into the PDF, or Flate-compressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/Conversion.h"  // the Flate levels; zlib, used for streams too long to gather, stops at 9

namespace quorvex {

class PdfSink;

enum class StreamEncoding { Raw, Flate };

// Receives a page's samples in order, piece by piece.
class SampleSink {
  public:
    virtual ~SampleSink() = default;
    virtual void append(const uint8_t* data, std::size_t size) = 0;
    // Ends the stream; no append after it.
    virtual void finish() = 0;
    // Bytes appended so far (before compression).
    uint64_t appended() const { return appended_; }

  protected:
    uint64_t appended_ = 0;
};

// Flate streams are compressed whole by libdeflate up to kWholeStreamCap
// bytes and by the streaming zlib sink beyond it.
std::unique_ptr<SampleSink> makeStreamSink(PdfSink& out, StreamEncoding encoding,
                                           int level = kDefaultFlateLevel);

// Streaming zlib deflate: holds only a small window, whatever the length. The
// bytes are those of zlib's one-shot compress2() at the same level.
std::unique_ptr<SampleSink> makeZlibSink(PdfSink& out, int level);

// Writes one buffer as a whole stream.
void writeStreamData(PdfSink& out, const uint8_t* data, std::size_t size, StreamEncoding encoding,
                     int level = kDefaultFlateLevel);

}  // namespace quorvex
