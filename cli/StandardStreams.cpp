#include "cli/StandardStreams.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "engine/platform/Platform.h"

namespace quorvex::cli {
namespace {

// How long a wait lasts before the cancel flag is looked at again.
constexpr int kPollMilliseconds = 100;
// At most this much per write: a pipe that poll() calls writable takes it
// without blocking.
constexpr std::size_t kChunk = 4096;

bool isCancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load();
}

// Waits until fd is ready to be read (or written); false when cancelled first.
bool waitFor(int fd, bool forWriting, const std::atomic<bool>* cancel) {
    while (!isCancelled(cancel)) {
        if (platform::waitReady(fd, forWriting, kPollMilliseconds))
            return true;  // ready, or an error the read or write will name
    }
    return false;
}

std::string errnoText(const char* what) {
    return std::string(what) + " (" + std::strerror(errno) + ")";
}

}  // namespace

StreamRead readWholeStream(int fd, uint64_t maxBytes, const std::atomic<bool>* cancel) {
    StreamRead read;
    std::array<uint8_t, 65536> buffer{};
    for (;;) {
        if (!waitFor(fd, false, cancel)) {
            read.error = "cancelled";
            return read;
        }
        const int64_t n = platform::readFromDescriptor(fd, buffer.data(), buffer.size());
        if (n == 0)
            return read;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            read.error = errnoText("cannot read standard input");
            return read;
        }
        if (read.bytes.size() + static_cast<uint64_t>(n) > maxBytes) {
            read.error = "standard input holds more than " + std::to_string(maxBytes >> 20) +
                         " MiB, the most read into memory";
            read.bytes.clear();
            return read;
        }
        read.bytes.insert(read.bytes.end(), buffer.begin(), buffer.begin() + n);
    }
}

std::string copyFileToStream(const std::filesystem::path& file, int fd,
                             const std::atomic<bool>* cancel) {
    platform::OpenedInput in = platform::openRegularFile(platform::utf8Of(file));
    if (!in.file)
        return "cannot read the finished PDF (" + in.refusal + ")";
    std::array<uint8_t, kChunk> buffer{};
    std::string error;
    while (error.empty()) {
        std::string readError;
        const int64_t n = platform::readSome(in.file, buffer.data(), buffer.size(), readError);
        if (n <= 0) {
            if (n < 0)
                error = "cannot read the finished PDF (" + readError + ")";
            break;
        }
        for (int64_t done = 0; done < n && error.empty();) {
            if (!waitFor(fd, true, cancel)) {
                error = "cancelled";
                break;
            }
            const int64_t written = platform::writeToDescriptor(fd, buffer.data() + done,
                                                                static_cast<std::size_t>(n - done));
            if (written < 0 && errno != EINTR && errno != EAGAIN)
                error = errnoText("cannot write standard output");
            else if (written > 0)
                done += written;
        }
    }
    return error;
}

}  // namespace quorvex::cli
