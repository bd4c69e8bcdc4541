#include "engine/encode/WholeStreamFlate.h"

#include <algorithm>
#include <cstring>

#include "engine/EngineError.h"
#include "engine/encode/ChunkedFlate.h"
#include "engine/pdf/PdfSink.h"

namespace quorvex {

void WholeStreamFlateSink::GrowingBuffer::append(const uint8_t* data, std::size_t size) {
    if (size > capacity_ - size_) {
        constexpr std::size_t kFirstCapacity = std::size_t{1} << 20;
        std::size_t capacity = std::max(kFirstCapacity, capacity_ + capacity_ / 2);
        capacity = std::max(capacity, size_ + size);
        void* grown = std::realloc(data_.get(), capacity);
        if (grown == nullptr)
            throw ConversionError::outOfMemory("out of memory gathering a Flate stream");
        (void)data_.release();  // realloc() took it over
        data_.reset(static_cast<uint8_t*>(grown));
        capacity_ = capacity;
    }
    std::memcpy(data_.get() + size_, data, size);
    size_ += size;
}

WholeStreamFlateSink::WholeStreamFlateSink(PdfSink& out, int level,
                                           StreamingSinkMaker makeStreaming, uint64_t cap,
                                           ParallelFor parallelFor)
    : out_(out),
      level_(level),
      makeStreaming_(std::move(makeStreaming)),
      cap_(cap),
      parallelFor_(std::move(parallelFor)) {}

void WholeStreamFlateSink::consume(const uint8_t* data, std::size_t size) {
    if (!streaming_ && appended() > cap_)
        spillToZlib();
    if (streaming_) {
        streaming_->append(data, size);
        return;
    }
    if (size > 0)
        gathered_.append(data, size);
}

void WholeStreamFlateSink::spillToZlib() {
    streaming_ = makeStreaming_();
    streaming_->append(gathered_.data(), gathered_.size());
    gathered_.release();
}

void WholeStreamFlateSink::finish() {
    if (streaming_) {
        streaming_->finish();
        return;
    }
    ByteChunk compressed =
        parallelFor_ && gathered_.size() > kPiecedStreamBytes
            ? deflateInPieces(gathered_.data(), gathered_.size(), level_, parallelFor_)
            : deflateWholeStream(gathered_.data(), gathered_.size(), level_);
    gathered_.release();
    out_.write(std::move(compressed));
}

}  // namespace quorvex
