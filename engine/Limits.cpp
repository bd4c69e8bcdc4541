#include "engine/Limits.h"

#include <string>

#include "engine/EngineError.h"

namespace quorvex {
namespace {

[[noreturn]] void refuseSize() {
    throw ConversionError::tooLarge("page too large: its buffers would pass " +
                                    std::to_string(kMaxBufferBytes) + " bytes");
}

}  // namespace

uint64_t checkedSize(std::initializer_list<uint64_t> factors) {
    uint64_t product = 1;
    for (const uint64_t factor : factors) {
        if (factor != 0 && product > kMaxBufferBytes / factor)
            refuseSize();
        product *= factor;
    }
    if (product > kMaxBufferBytes)
        refuseSize();
    return product;
}

std::vector<uint8_t> allocateBuffer(uint64_t size) {
    try {
        return std::vector<uint8_t>(static_cast<std::size_t>(checkedSize({size})));
    } catch (const std::bad_alloc&) {
        throw ConversionError::outOfMemory("out of memory for a " + std::to_string(size) +
                                           "-byte buffer");
    }
}

void throwIfCancelled(const std::atomic<bool>* cancel) {
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
        throw ConversionError::cancelled();
}

}  // namespace quorvex
