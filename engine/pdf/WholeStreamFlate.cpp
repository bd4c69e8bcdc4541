#include "engine/pdf/WholeStreamFlate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

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
std::size_t compressInto(const uint8_t* data, std::size_t size, int level,
                         std::unique_ptr<uint8_t[]>& output) {
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(std::clamp(level, 0, kMaxFlateLevel)));
    if (!compressor)
        throw EngineFailure(kAllocationFailure, "libdeflate: out of memory");
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), size);
    output = std::make_unique_for_overwrite<uint8_t[]>(bound);
    const std::size_t written =
        libdeflate_zlib_compress(compressor.get(), data, size, output.get(), bound);
    if (written == 0)
        throw EngineFailure(kImageObjectFailure, "libdeflate: the output does not fit its bound");
    return written;
}

}  // namespace

WholeStreamFlateSink::WholeStreamFlateSink(PdfSink& out, int level, uint64_t cap)
    : out_(out), level_(level), cap_(cap) {}

void WholeStreamFlateSink::append(const uint8_t* data, std::size_t size) {
    appended_ += size;
    if (!streaming_ && appended_ > cap_)
        spillToZlib();
    if (streaming_) {
        streaming_->append(data, size);
        return;
    }
    // Fixed-size pieces: gathering never copies what it already holds.
    while (size > 0) {
        if (pieces_.empty() || pieces_.back().size() == kPieceSize) {
            pieces_.emplace_back();
            pieces_.back().reserve(kPieceSize);
        }
        std::vector<uint8_t>& piece = pieces_.back();
        const std::size_t taken = std::min(size, kPieceSize - piece.size());
        piece.insert(piece.end(), data, data + taken);
        data += taken;
        size -= taken;
    }
}

void WholeStreamFlateSink::spillToZlib() {
    streaming_ = makeZlibSink(out_, level_);
    for (std::vector<uint8_t>& piece : pieces_) {
        streaming_->append(piece.data(), piece.size());
        piece = {};
    }
    pieces_.clear();
}

std::unique_ptr<uint8_t[]> WholeStreamFlateSink::joinPieces() {
    // Each piece is released as soon as it is copied, so the page is held
    // about once, not twice.
    auto whole = std::make_unique_for_overwrite<uint8_t[]>(std::max<uint64_t>(appended_, 1));
    std::size_t at = 0;
    for (std::vector<uint8_t>& piece : pieces_) {
        std::memcpy(whole.get() + at, piece.data(), piece.size());
        at += piece.size();
        piece = {};
    }
    pieces_.clear();
    return whole;
}

void WholeStreamFlateSink::finish() {
    if (streaming_) {
        streaming_->finish();
        return;
    }
    const auto size = static_cast<std::size_t>(appended_);
    std::unique_ptr<uint8_t[]> compressed;
    std::size_t written = 0;
    if (pieces_.size() == 1) {
        written = compressInto(pieces_.front().data(), size, level_, compressed);
        pieces_.clear();
    } else {
        std::unique_ptr<uint8_t[]> whole = joinPieces();
        written = compressInto(whole.get(), size, level_, compressed);
    }
    out_.write(compressed.get(), written);
}

std::vector<uint8_t> deflateWhole(const uint8_t* data, std::size_t size, int level) {
    std::unique_ptr<uint8_t[]> compressed;
    const std::size_t written = compressInto(data, size, level, compressed);
    return {compressed.get(), compressed.get() + written};
}

}  // namespace quorvex
