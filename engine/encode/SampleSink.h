// The link every page reader writes its samples into.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex {

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

}  // namespace quorvex
