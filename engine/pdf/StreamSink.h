// Where a page's stream data goes: straight into the PDF, or through zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quorvex {

class PdfSink;

enum class StreamEncoding { Raw, Flate };

// Receives a page's samples in order, piece by piece. The Flate sink produces
// exactly the bytes zlib's one-shot compress() gives for the whole page at the
// default level, without holding the page in memory.
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

std::unique_ptr<SampleSink> makeStreamSink(PdfSink& out, StreamEncoding encoding);

// Writes one buffer as a whole stream.
void writeStreamData(PdfSink& out, const uint8_t* data, std::size_t size, StreamEncoding encoding);

}  // namespace quorvex
