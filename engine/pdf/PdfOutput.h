// The PDF file being written: a buffered, forward-only byte sink that knows
// its position. A regular file is written into a hidden temporary file beside
// it and put in place only when everything was written, synced and closed
// without error, so a failed run never leaves a partial PDF or destroys an
// old one. A device, FIFO, socket or open descriptor takes the bytes as they
// come instead: it is never replaced or removed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pdf/PdfSink.h"
#include "engine/platform/Platform.h"

namespace quorvex {

class PdfOutput final : public PdfSink {
  public:
    // Cross-reference entries hold ten decimal digits.
    static constexpr uint64_t kMaxFileSize = 9'999'999'999ULL;

    // Puts some of the bytes into the file, as platform::writeSome does: the
    // count written, or -1 with the error. Tests hand in one whose disk
    // fills up before the PDF is complete.
    using Writer = std::function<int64_t(const platform::FileHandle& file, const uint8_t* data,
                                         std::size_t size, std::string& error)>;

    // Opens where a PDF named `finalPath` goes: for a regular file (or none
    // yet) a temporary file in the folder of the file it names, links
    // followed (an existing file keeps its mode and, for root, its owner when
    // it is replaced). A FIFO waits for its reader while `cancel` is unset.
    // Throws ConversionError (output side) saying why when it cannot. Every
    // byte goes through `writer`.
    static std::unique_ptr<PdfOutput> create(const std::string& finalPath,
                                             const std::atomic<bool>* cancel = nullptr,
                                             Writer writer = platform::writeSome);

    // Where the bytes go; see PdfOutput.cpp.
    class Destination;

    // Only create() can make the key.
    class CreateKey {
        friend class PdfOutput;
        CreateKey() = default;
    };
    PdfOutput(std::unique_ptr<Destination> destination, Writer writer, CreateKey);
    ~PdfOutput() override;
    PdfOutput(const PdfOutput&) = delete;
    PdfOutput& operator=(const PdfOutput&) = delete;

    // Each call appends one piece; throws ConversionError (output side) when
    // the file cannot take it.
    using PdfSink::write;
    void write(const void* data, std::size_t size) override;

    uint64_t position() const { return position_; }
    // The CRC-32 of every byte written so far, from which the trailer's
    // identifier is made.
    uint32_t contentCrc32() const { return crc32_; }

    // Flushes and closes; a regular file is synced to the disk, renamed over
    // the final name and its folder synced. Throws ConversionError when any
    // of that fails; the temporary file is then gone.
    void commit();

  private:
    void flush();
    void writeAll(const uint8_t* data, std::size_t size);

    std::unique_ptr<Destination> destination_;
    Writer writer_;
    std::vector<uint8_t> buffer_;
    std::size_t buffered_ = 0;
    uint64_t position_ = 0;
    uint32_t crc32_ = 0;
};

}  // namespace quorvex
