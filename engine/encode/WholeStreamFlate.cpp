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
                                           ParallelFor parallelFor, const std::atomic<bool>* cancel)
    : out_(out),
      level_(level),
      makeStreaming_(std::move(makeStreaming)),
      cap_(cap),
      parallelFor_(std::move(parallelFor)),
      cancel_(cancel) {}

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
    ByteChunk compressed = compressGathered();
    gathered_.release();
    out_.write(std::move(compressed));
}

namespace {

// Pieces of a run without a pool, compressed one after another here.
void runInOrder(std::size_t count, const std::function<void(std::size_t)>& task) {
    for (std::size_t i = 0; i < count; ++i)
        task(i);
}

}  // namespace

// The pieces depend on the stream's length, the level and whether the run
// can be cancelled, never on the threads: the bytes stay the same whatever
// their number.
ByteChunk WholeStreamFlateSink::compressGathered() const {
    const uint8_t* data = gathered_.data();
    const std::size_t size = gathered_.size();
    if (cancel_ != nullptr && size > cancellablePieceBytes(level_)) {
        return deflateInPieces(data, size, level_, parallelFor_ ? parallelFor_ : runInOrder,
                               cancellablePieceBytes(level_), cancel_);
    }
    if (parallelFor_ && size > kPiecedStreamBytes)
        return deflateInPieces(data, size, level_, parallelFor_);
    return deflateWholeStream(data, size, level_);
}

}  // namespace quorvex
