// The engine's limits and the checks that enforce them: every buffer size
// is computed through checkedSize before anything is allocated.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace quorvex {

// Largest buffer (or decoded page) a page may need; a page past it is refused
// with the allocation failure instead of exhausting memory.
inline constexpr uint64_t kMaxBufferBytes = uint64_t{2} << 30;

// Pixels a page may have; a file claiming more is refused rather than
// decoded for minutes or handed to readers that cannot show it.
inline constexpr uint64_t kMaxPagePixels = uint64_t{1} << 32;

// The product of the factors; fails the page when it passes kMaxBufferBytes.
uint64_t checkedSize(std::initializer_list<uint64_t> factors);

// A zeroed buffer of `size` bytes; fails the page when memory runs out.
std::vector<uint8_t> allocateBuffer(uint64_t size);

// Stops the run when the caller has asked it to (null: never).
void throwIfCancelled(const std::atomic<bool>* cancel);

}  // namespace quorvex
