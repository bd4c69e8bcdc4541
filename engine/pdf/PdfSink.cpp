#include "engine/pdf/PdfSink.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace quorvex {

void PdfSink::print(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(copy);
        throw std::runtime_error("cannot format PDF text");
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(copy);
        write(small, static_cast<std::size_t>(length));
        return;
    }
    std::string large(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, copy);
    va_end(copy);
    write(large.data(), static_cast<std::size_t>(length));
}

void ChunkedBytes::write(ByteChunk&& chunk) {
    size_ += chunk.size();
    chunks_.push_back(std::move(chunk));
}

void ChunkedBytes::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_ += size;
    while (size > 0) {
        if (chunks_.empty() || chunks_.back().size() == chunks_.back().capacity()) {
            chunks_.emplace_back();
            chunks_.back().reserve(std::max(kChunkSize, size));
        }
        ByteChunk& chunk = chunks_.back();
        const std::size_t room = chunk.capacity() - chunk.size();
        const std::size_t piece = std::min(room, size);
        chunk.insert(chunk.end(), bytes, bytes + piece);
        bytes += piece;
        size -= piece;
    }
}

}  // namespace quorvex
