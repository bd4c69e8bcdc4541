// Flate through libdeflate: a stream is gathered whole and compressed in one
// call (a long one in pieces, on several threads), about twice as fast as
// zlib's streaming deflate at the same level.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "engine/encode/ChunkedFlate.h"
#include "engine/encode/SampleSink.h"

namespace quorvex {

// Streams longer than this (before compression) would need too much memory
// gathered whole; they go through the streaming zlib sink instead.
inline constexpr uint64_t kWholeStreamCap = uint64_t{256} << 20;

class PdfSink;

// Gathers the stream and compresses it with libdeflate on finish(); given a
// `parallelFor`, a stream longer than kPiecedStreamBytes in pieces through it;
// given a `cancel` flag, one longer than cancellablePieceBytes() in pieces
// of that length (through `parallelFor`, or in turn), polling the flag
// between them. Once more than `cap` bytes arrive it hands everything to the streaming sink
// `makeStreaming` gives (zlib, writing to the same place) and forwards the
// rest there, so memory stays bounded.
class WholeStreamFlateSink final : public SampleSink {
  public:
    using StreamingSinkMaker = std::function<std::unique_ptr<SampleSink>()>;
    WholeStreamFlateSink(PdfSink& out, int level, StreamingSinkMaker makeStreaming,
                         uint64_t cap = kWholeStreamCap, ParallelFor parallelFor = {},
                         const std::atomic<bool>* cancel = nullptr);
    void finish() override;

    // A buffer grown with realloc(): a large one is moved by remapping its
    // pages, never copied, so gathering holds the stream once, and capacity
    // not yet written takes no memory.
    class GrowingBuffer {
      public:
        void append(const uint8_t* data, std::size_t size);
        const uint8_t* data() const { return data_.get(); }
        std::size_t size() const { return size_; }
        void release() {
            data_.reset();
            size_ = capacity_ = 0;
        }

      private:
        struct Free {
            void operator()(uint8_t* bytes) const noexcept { std::free(bytes); }
        };
        std::unique_ptr<uint8_t, Free> data_;
        std::size_t size_ = 0;
        std::size_t capacity_ = 0;
    };

  protected:
    void consume(const uint8_t* data, std::size_t size) override;

  private:
    void spillToZlib();
    ByteChunk compressGathered() const;

    PdfSink& out_;
    int level_;
    StreamingSinkMaker makeStreaming_;
    uint64_t cap_;
    ParallelFor parallelFor_;
    const std::atomic<bool>* cancel_;
    GrowingBuffer gathered_;
    std::unique_ptr<SampleSink> streaming_;
};

}  // namespace quorvex
