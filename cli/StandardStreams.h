// Standard input and output as a TIFF source and a PDF sink. Both poll the
// cancel flag while they wait, so a signal ends the run within a fraction of
// a second even when the other end of a pipe stalls.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/StopSignals.h"

namespace quorvex::cli {

// The most read from standard input: the size libtiff may allocate at once.
inline constexpr uint64_t kMaxStandardInputBytes = uint64_t{2} << 30;

struct StreamRead {
    std::vector<uint8_t> bytes;
    std::string error;  // non-empty when reading failed or was cancelled
};

// Reads fd to its end.
StreamRead readWholeStream(int fd, uint64_t maxBytes, const std::atomic<bool>* cancel);

// Copies the file to fd. Returns an empty string or the reason it stopped.
std::string copyFileToStream(const std::filesystem::path& file, int fd,
                             const std::atomic<bool>* cancel);

// A private folder for a PDF bound for standard output, removed with what
// it holds, also when a signal ends the process (see SpoolFolder).
class TemporaryFolder {
  public:
    TemporaryFolder() = default;  // throws std::runtime_error when it cannot be made

    std::filesystem::path path() const { return spool_.folder(); }
    // The file to write the PDF to.
    std::filesystem::path file() const { return spool_.file(); }

  private:
    SpoolFolder spool_;
};

}  // namespace quorvex::cli
