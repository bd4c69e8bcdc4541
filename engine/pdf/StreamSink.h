// Where a page's stream data goes: straight into the PDF, or Flate-compressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/Conversion.h"  // the Flate levels

namespace quorvex {

class PdfSink;

enum class StreamEncoding { Raw, Flate };

// Receives a page's samples in order, piece by piece, and passes them on:
// one link of a chain (a page reader feeds it; it feeds the PDF, an encoder
// or a queue). A sink does not own where it writes to; whoever builds the
// chain keeps every link alive until finish() has returned. append() counts
// once, here; each kind of sink only says what it does with the bytes.
class SampleSink {
  public:
    virtual ~SampleSink() = default;
    void append(const uint8_t* data, std::size_t size) {
        appended_ += size;
        consume(data, size);
    }
    // Ends the stream; no append after it.
    virtual void finish() = 0;
    // Bytes appended so far (before any encoding).
    uint64_t appended() const { return appended_; }

  protected:
    virtual void consume(const uint8_t* data, std::size_t size) = 0;

  private:
    uint64_t appended_ = 0;
};

// Flate streams are compressed whole by libdeflate up to kWholeStreamCap
// bytes and by the streaming zlib sink beyond it; `level` is on libdeflate's
// scale (zlib stops at 9).
std::unique_ptr<SampleSink> makeStreamSink(PdfSink& out, StreamEncoding encoding,
                                           int level = kDefaultFlateLevel);

// Streaming zlib deflate: holds only a small window, whatever the length. The
// bytes are those of zlib's one-shot compress2() at the same level.
std::unique_ptr<SampleSink> makeZlibSink(PdfSink& out, int level);

// Writes one buffer as a whole stream.
void writeStreamData(PdfSink& out, const uint8_t* data, std::size_t size, StreamEncoding encoding,
                     int level = kDefaultFlateLevel);

}  // namespace quorvex
