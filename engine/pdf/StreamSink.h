// Where a page's stream data goes: straight into the PDF, or through zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

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

// The Flate sink produces exactly the bytes zlib's one-shot compress() gives
// for the whole stream at the default level, without holding it in memory.
std::unique_ptr<SampleSink> makeStreamSink(PdfSink& out, StreamEncoding encoding);

// Writes one buffer as a whole stream.
void writeStreamData(PdfSink& out, const uint8_t* data, std::size_t size, StreamEncoding encoding);

}  // namespace quorvex
