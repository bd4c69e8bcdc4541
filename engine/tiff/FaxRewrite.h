// Rewrites a fax file whose pages are split into several strips into a
// temporary TIFF with one strip per page, so that each page's coded data can
// be carried into the PDF as one stream.
#pragma once

#include <atomic>
#include <string>
#include <utility>

namespace quorvex {

class TiffDocument;

// Removes the file it names when it goes out of scope.
class TemporaryFile {
  public:
    TemporaryFile() = default;
    ~TemporaryFile() { remove(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void adopt(std::string path) {
        remove();
        path_ = std::move(path);
    }
    void remove() noexcept;
    // Gives up ownership without removing the file.
    std::string release() { return std::exchange(path_, {}); }
    const std::string& path() const { return path_; }
    bool exists() const { return !path_.empty(); }

  private:
    std::string path_;
};

// Longest temporary file name accepted, in characters.
inline constexpr std::size_t kMaxTemporaryPathLength = 254;

// Copies every page of `source` (opened from `sourcePath`) into a new file
// beside it, "<source>.tmp" or "<source>.<n>.tmp" when that name is taken,
// decoding and re-coding each page with its own compression as one strip.
// On success returns 1, `temporary` owns the new file and `source` is open on
// it with page 0 selected. On failure returns -1, removes anything it made and
// may leave a reason in `message`.
int rewriteAsSingleStrip(TiffDocument& source, const std::string& sourcePath,
                         TemporaryFile& temporary, std::string& message,
                         const std::atomic<bool>* cancel);

}  // namespace quorvex
