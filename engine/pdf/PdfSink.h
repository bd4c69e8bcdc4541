// Anything PDF bytes are written to: the output file, or memory for a page
// prepared ahead of its turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvex {

// Allocates bytes without clearing them: a buffer sized for the worst case
// then only takes memory for what is written into it.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    using std::allocator<T>::allocator;
    template <typename U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

using ByteChunk = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

class PdfSink {
  public:
    virtual ~PdfSink() = default;
    virtual void write(const void* data, std::size_t size) = 0;
    // Writes a whole buffer; sinks that keep bytes in memory take it as it is.
    virtual void write(ByteChunk&& chunk) { write(chunk.data(), chunk.size()); }
    void write(std::string_view text) { write(text.data(), text.size()); }
    // printf-style text piece, written with one write call.
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

// Numbers in PDF text (object numbers, offsets, lengths) are 64-bit values
// printed with %llu: `unsigned long` has 32 bits on Windows, where offsets
// past 4 GiB would wrap in the cross-reference table.
inline unsigned long long pdfNumber(uint64_t value) {
    return value;
}

// Text collected in memory.
class PdfText final : public PdfSink {
  public:
    using PdfSink::write;
    void write(const void* data, std::size_t size) override {
        text_.append(static_cast<const char*>(data), size);
    }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

// Bytes collected in memory in large pieces (no copying as it grows).
class ChunkedBytes final : public PdfSink {
  public:
    using PdfSink::write;
    void write(const void* data, std::size_t size) override;
    void write(ByteChunk&& chunk) override;
    uint64_t size() const { return size_; }
    const std::vector<ByteChunk>& chunks() const { return chunks_; }

  private:
    static constexpr std::size_t kChunkSize = std::size_t{1} << 20;
    std::vector<ByteChunk> chunks_;
    uint64_t size_ = 0;
};

}  // namespace quorvex
