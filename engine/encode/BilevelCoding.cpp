#include "engine/encode/BilevelCoding.h"

#include <memory>
#include <stdexcept>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/encode/StreamSink.h"
#include "engine/pdf/PdfSink.h"

namespace quorvex {
namespace {

std::vector<uint8_t> group4Of(const BilevelBitmap& bitmap) {
    try {
        CcittEncoder encoder(bitmap.width, bitmap.height, CcittGroup::Group4, bitmap.polarity);
        for (uint32_t y = 0; y < bitmap.height; ++y)
            encoder.addRow(bitmap.rows + uint64_t{y} * bitmap.rowBytes);
        return encoder.finish();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::runtime_error& failure) {
        throw ConversionError::internal(failure.what());
    }
}

std::vector<uint8_t> flateOf(const BilevelBitmap& bitmap, int level,
                             const std::atomic<bool>* cancel) {
    ChunkedBytes compressed;
    const uint64_t size = checkedSize({bitmap.rowBytes, bitmap.height});
    {
        const std::unique_ptr<SampleSink> sink =
            makeStreamSink(compressed, StreamEncoding::Flate, level, size, {}, cancel);
        sink->append(bitmap.rows, static_cast<std::size_t>(size));
        sink->finish();
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(compressed.size()));
    for (const ByteChunk& chunk : compressed.chunks())
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    return bytes;
}

}  // namespace

CodedBilevel codeSmaller(const BilevelBitmap& bitmap, int flateLevel,
                         const std::atomic<bool>* cancel) {
    std::vector<uint8_t> group4 = group4Of(bitmap);
    throwIfCancelled(cancel);
    std::vector<uint8_t> flate = flateOf(bitmap, flateLevel, cancel);
    if (group4.size() < flate.size())
        return {BilevelCodec::Group4, std::move(group4)};
    return {BilevelCodec::Flate, std::move(flate)};
}

}  // namespace quorvex
