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
// gets its own log and nothing is shared between threads. Messages are
// counted, so a reader can ask what was said while it decoded one piece.
class TiffDiagnostics {
  public:
    void addError(const char* module, const char* text) { add(true, module, text); }
    void addWarning(const char* module, const char* text) { add(false, module, text); }
    // Every message, one per line, "error: MODULE: TEXT" (capped in size).
    const std::string& text() const { return text_; }
    const std::string& lastError() const { return lastError_; }
    // Messages said so far; a mark for the queries below.
    std::size_t count() const { return count_; }
    // The first error said after `mark` ("MODULE: TEXT"), or empty.
    std::string firstErrorSince(std::size_t mark) const;
    // The first message after `mark` that means pixels were lost: an error,
    // or a decoder's warning about its data (fax codes, corrupt JPEG data,
    // PackBits runs discarded, LZW and Deflate data that ends wrongly).
    std::string firstLossSince(std::size_t mark) const;
    // Every such message after `mark`, in order.
    std::vector<std::string> lossesSince(std::size_t mark) const;
    // libtiff names some messages after the file instead of its module.
    void setFileName(std::string name) { fileName_ = std::move(name); }

    // Keeps messages out of text() while in scope (they still count for the
    // queries above): for reads that repeat what an earlier read of the same
    // data already said.
    class Muted {
      public:
        explicit Muted(const TiffDiagnostics& diagnostics) : diagnostics_(diagnostics) {
            diagnostics_.muted_ = true;
        }
        ~Muted() { diagnostics_.muted_ = false; }
        Muted(const Muted&) = delete;
        Muted& operator=(const Muted&) = delete;

      private:
        const TiffDiagnostics& diagnostics_;
    };

  private:
    struct Entry {
        bool error = false;
        std::string module;
        std::string text;
    };
    void add(bool error, const char* module, const char* text);

    std::string describe(const Entry& entry) const;

    std::string fileName_;
    std::string text_;
    std::string lastError_;
    std::size_t count_ = 0;
    mutable bool muted_ = false;  // a switch on the log, not part of what it holds
    std::vector<Entry> recent_;   // the latest messages, for the queries
};

// Largest single allocation libtiff may make for one handle: a file that
// claims an enormous strip or directory is refused instead of exhausting memory.
inline constexpr tmsize_t kMaxLibtiffAllocation = tmsize_t{2} << 30;

// Opens a file with per-handle handlers that record into `diagnostics` (which
// must outlive the handle) and with the allocation cap above.
// Size in bytes of the file behind `tiff`, on disk or in memory.
uint64_t storedFileSize(TIFF* tiff);

TiffPtr openTiffFd(int fd, const char* name, const char* mode, TiffDiagnostics* diagnostics);

// A TIFF held in memory (read from a pipe) and the read position in it.
struct MemoryFile {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    uint64_t position = 0;
};

// Opens `file` for reading; `file` must outlive the handle.
TiffPtr openTiffMemory(MemoryFile* file, const char* name, TiffDiagnostics* diagnostics);

// A TIFF being written in memory (by the CCITT coder), growing as libtiff
// writes, and the position in it.
struct GrowingMemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
};

// Opens `file` with libtiff's `mode` ("w", "r", ...); `file` must outlive
// the handle.
TiffPtr openTiffMemory(GrowingMemoryFile* file, const char* name, const char* mode,
                       TiffDiagnostics* diagnostics);

// Switches libtiff's process-wide handlers off; per-handle handlers still see
// every message.
void silenceLibtiffGlobalHandlers();

}  // namespace quorvex
