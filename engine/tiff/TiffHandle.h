// Owning handle for a libtiff file, with this file's own diagnostics.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvex {

struct TiffCloser {
    void operator()(TIFF* tiff) const noexcept {
        if (tiff != nullptr)
            TIFFClose(tiff);
    }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// Collects libtiff's warning and error texts for one file. libtiff calls the
// per-handle handlers on whatever thread uses the handle, so each conversion
// gets its own log and nothing is shared between threads.
class TiffDiagnostics {
  public:
    void addError(const char* module, const char* text) { add("error", module, text); }
    void addWarning(const char* module, const char* text) { add("warning", module, text); }
    const std::string& text() const { return text_; }
    const std::string& lastError() const { return lastError_; }
    void clear() {
        text_.clear();
        lastError_.clear();
    }

  private:
    void add(const char* kind, const char* module, const char* text);

    std::string text_;
    std::string lastError_;
};

// Largest single allocation libtiff may make for one handle: a file that
// claims an enormous strip or directory is refused instead of exhausting memory.
inline constexpr tmsize_t kMaxLibtiffAllocation = tmsize_t{2} << 30;

// Opens a file with per-handle handlers that record into `diagnostics` (which
// must outlive the handle) and with the allocation cap above.
TiffPtr openTiff(const char* path, const char* mode, TiffDiagnostics* diagnostics);
TiffPtr openTiffFd(int fd, const char* name, const char* mode, TiffDiagnostics* diagnostics);

// A TIFF held in memory (read from a pipe) and the read position in it.
struct MemoryFile {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    uint64_t position = 0;
};

// Opens `file` for reading through libtiff's client interface; `file` must
// outlive the handle.
TiffPtr openTiffMemory(MemoryFile* file, const char* name, TiffDiagnostics* diagnostics);

// Switches libtiff's process-wide handlers off; per-handle handlers still see
// every message.
void silenceLibtiffGlobalHandlers();

}  // namespace quorvex
