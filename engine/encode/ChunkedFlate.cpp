#include "engine/encode/ChunkedFlate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "engine/Conversion.h"
#include "engine/EngineError.h"
#include "engine/Limits.h"

namespace quorvex {
namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const noexcept {
        libdeflate_free_compressor(compressor);
    }
};

ByteChunk deflateRaw(const uint8_t* data, std::size_t size, int level) {
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(std::clamp(level, 0, kMaxFlateLevel)));
    if (!compressor)
        throw ConversionError::outOfMemory("libdeflate: out of memory");
    ByteChunk output(libdeflate_deflate_compress_bound(compressor.get(), size));
    const std::size_t written =
        libdeflate_deflate_compress(compressor.get(), data, size, output.data(), output.size());
    if (written == 0)
        throw ConversionError::internal("libdeflate: the output does not fit its bound");
    output.resize(written);
    return output;
}

}  // namespace

// Compresses into a buffer of libdeflate's bound, left uninitialised so that
// only the pages the output really fills take memory.
ByteChunk deflateWholeStream(const uint8_t* data, std::size_t size, int level) {
    const uint8_t nothing = 0;
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(std::clamp(level, 0, kMaxFlateLevel)));
    if (!compressor)
        throw ConversionError::outOfMemory("libdeflate: out of memory");
    ByteChunk output(libdeflate_zlib_compress_bound(compressor.get(), size));
    const std::size_t written = libdeflate_zlib_compress(
        compressor.get(), size > 0 ? data : &nothing, size, output.data(), output.size());
    if (written == 0)
        throw ConversionError::internal("libdeflate: the output does not fit its bound");
    output.resize(written);
    return output;
}

namespace {

// The second byte of the zlib header libdeflate writes for `level`, so that
// a stream in pieces starts as one compressed in a single call does.
uint8_t zlibFlags(int level) {
    if (level < 2)
        return 0x01;
    if (level < 6)
        return 0x5E;
    return level == 6 ? 0x9C : 0xDA;
}

struct InflateEnd {
    void operator()(z_stream* stream) const noexcept { inflateEnd(stream); }
};

}  // namespace

bool openFinalBlock(ByteChunk& raw) {
    // zlib's inflate, asked to stop at every block boundary, says where each
    // block header starts (data_type: unused bits of the last byte read, +64
    // once the final block's header is read, +128 before a block header);
    // the one read last is the final block's. Once the final block has ended
    // it stops once more, before dropping the padding up to the byte boundary.
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK)
        throw ConversionError::outOfMemory("zlib: out of memory");
    const std::unique_ptr<z_stream, InflateEnd> owner(&stream);
    std::array<uint8_t, 1 << 16> scratch{};
    stream.next_in = raw.data();
    stream.avail_in = static_cast<uInt>(raw.size());
    std::size_t headerBit = 0;  // bit offset of the last block header seen
    int padding = -1;           // zero bits after the final block, once it has ended
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = scratch.data();
        stream.avail_out = static_cast<uInt>(scratch.size());
        status = inflate(&stream, Z_BLOCK);
        const int unused = stream.data_type & 63;
        if (unused > 7)
            return false;
        if (status != Z_OK || (stream.data_type & 128) == 0)
            continue;
        if ((stream.data_type & 64) != 0)
            padding = unused;  // the final block has just ended
        else
            headerBit = (raw.size() - stream.avail_in) * 8 - static_cast<std::size_t>(unused);
    }
    if (status != Z_STREAM_END || stream.avail_in != 0 || padding < 0 ||
        headerBit / 8 >= raw.size()) {
        return false;
    }
    raw[headerBit / 8] &= static_cast<uint8_t>(~(1U << (headerBit % 8)));
    // An empty stored block's three header bits are zeros: they take the
    // final block's padding when three bits are left, else a byte of their
    // own; the rest of that byte is skipped, then come LEN 0 and NLEN.
    if (padding < 3)
        raw.push_back(0x00);
    raw.insert(raw.end(), {uint8_t{0x00}, uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0xFF}});
    return true;
}

std::array<uint8_t, 2> zlibHeader(int level) {
    return {0x78, zlibFlags(level)};
}

namespace {

// Stored blocks, none final: the way to carry a piece that libdeflate's
// output cannot be opened for (never expected).
ByteChunk storedOpenBlocks(const uint8_t* data, std::size_t size) {
    constexpr std::size_t kMaxStored = 0xFFFF;
    ByteChunk blocks;
    blocks.reserve(size + (size / kMaxStored + 1) * 5);
    do {
        const std::size_t length = std::min(size, kMaxStored);
        const auto low = static_cast<uint8_t>(length & 0xFF);
        const auto high = static_cast<uint8_t>(length >> 8);
        blocks.insert(blocks.end(), {uint8_t{0x00}, low, high, static_cast<uint8_t>(~low),
                                     static_cast<uint8_t>(~high)});
        blocks.insert(blocks.end(), data, data + length);
        data += length;
        size -= length;
    } while (size > 0);
    return blocks;
}

}  // namespace

ByteChunk deflateOpenPiece(const uint8_t* data, std::size_t size, int level) {
    if (size == 0)
        return {};
    ByteChunk piece = deflateRaw(data, size, level);
    if (openFinalBlock(piece))
        return piece;
    return storedOpenBlocks(data, size);
}

std::size_t cancellablePieceBytes(int level) {
    return level >= 10 ? std::size_t{1} << 20 : std::size_t{4} << 20;
}

ByteChunk deflateInPieces(const uint8_t* data, std::size_t size, int level,
                          const ParallelFor& parallelFor, std::size_t pieceBytes,
                          const std::atomic<bool>* cancel) {
    pieceBytes = std::max<std::size_t>(pieceBytes, 1);
    throwIfCancelled(cancel);
    if (size <= pieceBytes)
        return deflateWholeStream(data, size, level);
    const std::size_t count = std::max<std::size_t>(1, (size + pieceBytes - 1) / pieceBytes);
    const std::size_t length = (size + count - 1) / count;  // even pieces
    std::vector<ByteChunk> pieces(count);
    std::vector<uint8_t> joinable(count, 1);
    parallelFor(count, [&](std::size_t i) {
        throwIfCancelled(cancel);
        const std::size_t start = std::min(size, i * length);
        pieces[i] = deflateRaw(data + start, std::min(length, size - start), level);
        if (i + 1 < count)
            joinable[i] = openFinalBlock(pieces[i]) ? 1 : 0;
    });
    // Never expected; should a piece not be joinable, one call does it all.
    if (std::find(joinable.begin(), joinable.end(), 0) != joinable.end())
        return deflateWholeStream(data, size, level);
    std::size_t total = 2 + 4;
    for (const ByteChunk& piece : pieces)
        total += piece.size();
    ByteChunk stream;
    stream.reserve(total);
    stream.push_back(0x78);
    stream.push_back(zlibFlags(level));
    for (ByteChunk& piece : pieces) {
        stream.insert(stream.end(), piece.begin(), piece.end());
        ByteChunk().swap(piece);
    }
    const uint32_t adler = libdeflate_adler32(1, data, size);
    for (const int shift : {24, 16, 8, 0})
        stream.push_back(static_cast<uint8_t>(adler >> shift));
    return stream;
}

}  // namespace quorvex
