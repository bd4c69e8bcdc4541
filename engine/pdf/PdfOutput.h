// The PDF file being written: a buffered, forward-only byte sink that knows
// its position. It writes into a temporary file beside the final name and
// puts the PDF in place only when everything was written and closed without
// error, so a failed run never leaves a partial PDF or destroys an old one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pdf/PdfSink.h"

namespace quorvex {

class PdfOutput final : public PdfSink {
  public:
    // Cross-reference entries hold ten decimal digits.
    static constexpr uint64_t kMaxFileSize = 9'999'999'999ULL;

    // Creates the temporary file in the folder of `finalPath` (of the file it
    // links to, when it is a link). Throws ConversionError (output side)
    // saying why when it cannot be created. An existing file keeps its mode
    // (and, for root, its owner) when it is replaced.
    static std::unique_ptr<PdfOutput> create(const std::string& finalPath);

    // Only create() can make the key.
    class CreateKey {
        friend class PdfOutput;
        CreateKey() = default;
    };
    PdfOutput(int fd, std::string temporaryPath, std::string finalPath, CreateKey);
    ~PdfOutput();
    PdfOutput(const PdfOutput&) = delete;
    PdfOutput& operator=(const PdfOutput&) = delete;

    // Each call appends one piece; throws ConversionError (output side) when
    // the file cannot take it.
    using PdfSink::write;
    void write(const void* data, std::size_t size) override;

    uint64_t position() const { return position_; }

    // Flushes, closes and renames the file over the final name. Throws
    // ConversionError when any of that fails; the temporary file is then gone.
    void commit();

  private:
    void flush();
    void writeAll(const uint8_t* data, std::size_t size);
    void discard() noexcept;

    int fd_;
    std::string temporaryPath_;
    std::string finalPath_;
    std::vector<uint8_t> buffer_;
    std::size_t buffered_ = 0;
    uint64_t position_ = 0;
    bool committed_ = false;
};

// Test hook: makes writes on the calling thread fail with "no space left" once
// `bytes` bytes have gone to files in total; a negative value switches it off.
void setOutputWriteLimitForTesting(int64_t bytes);

}  // namespace quorvex
