#include "engine/pdf/WholeStreamFlate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

#include "engine/Conversion.h"
#include "engine/EngineError.h"
#include "engine/pdf/PdfSink.h"

namespace quorvex {
namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const noexcept {
        libdeflate_free_compressor(compressor);
    }
};

// Compresses into a buffer of libdeflate's bound, left uninitialised so that
// only the pages the output really fills take memory.
ByteChunk compress(const uint8_t* data, std::size_t size, int level) {
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(std::clamp(level, 0, kMaxFlateLevel)));
    if (!compressor)
        throw ConversionError::writer(Result::Allocation, "libdeflate: out of memory");
    ByteChunk output(libdeflate_zlib_compress_bound(compressor.get(), size));
    const std::size_t written =
        libdeflate_zlib_compress(compressor.get(), data, size, output.data(), output.size());
    if (written == 0)
        throw ConversionError::writer(Result::ImageObject,
                                      "libdeflate: the output does not fit its bound");
    output.resize(written);
    return output;
}

}  // namespace

void WholeStreamFlateSink::GrowingBuffer::append(const uint8_t* data, std::size_t size) {
    if (size > capacity_ - size_) {
        constexpr std::size_t kFirstCapacity = std::size_t{1} << 20;
        std::size_t capacity = std::max(kFirstCapacity, capacity_ + capacity_ / 2);
        capacity = std::max(capacity, size_ + size);
        void* grown = std::realloc(data_.get(), capacity);
        if (grown == nullptr)
            throw ConversionError::writer(Result::Allocation,
                                          "out of memory gathering a Flate stream");
        (void)data_.release();  // realloc() took it over
        data_.reset(static_cast<uint8_t*>(grown));
        capacity_ = capacity;
    }
    std::memcpy(data_.get() + size_, data, size);
    size_ += size;
}

WholeStreamFlateSink::WholeStreamFlateSink(PdfSink& out, int level,
                                           StreamingSinkMaker makeStreaming, uint64_t cap)
    : out_(out), level_(level), makeStreaming_(std::move(makeStreaming)), cap_(cap) {}

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
    const uint8_t nothing = 0;
    const uint8_t* data = gathered_.size() > 0 ? gathered_.data() : &nothing;
    ByteChunk compressed = compress(data, gathered_.size(), level_);
    gathered_.release();
    out_.write(std::move(compressed));
}

std::vector<uint8_t> deflateWhole(const uint8_t* data, std::size_t size, int level) {
    const uint8_t nothing = 0;
    const ByteChunk compressed = compress(size > 0 ? data : &nothing, size, level);
    return {compressed.begin(), compressed.end()};
}

}  // namespace quorvex
