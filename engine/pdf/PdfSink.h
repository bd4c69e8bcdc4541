// Anything PDF bytes are written to: the output file, or memory for a page
// prepared ahead of its turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

class PdfSink {
  public:
    virtual ~PdfSink() = default;
    virtual void write(const void* data, std::size_t size) = 0;
    void write(std::string_view text) { write(text.data(), text.size()); }
    // printf-style text piece, written with one write call.
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

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
    uint64_t size() const { return size_; }
    const std::vector<std::vector<uint8_t>>& chunks() const { return chunks_; }

  private:
    static constexpr std::size_t kChunkSize = std::size_t{1} << 20;
    std::vector<std::vector<uint8_t>> chunks_;
    uint64_t size_ = 0;
};

}  // namespace quorvex
