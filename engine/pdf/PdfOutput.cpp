#include "engine/pdf/PdfOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>

#include "engine/EngineError.h"

namespace quorvex {
namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
thread_local int64_t writeLimitForTesting = -1;

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A short, hidden, unique name: the final name may already be as long as a
// file name can be.
std::string temporaryNameIn(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    char name[64];
    std::snprintf(name, sizeof name, "/.quorvex-%d-%u-%08x.part", static_cast<int>(getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(random()));
    return folder + name;
}

ssize_t writeSome(int fd, const uint8_t* data, std::size_t size) {
    if (writeLimitForTesting >= 0) {
        if (writeLimitForTesting == 0) {
            errno = ENOSPC;
            return -1;
        }
        size = std::min<std::size_t>(size, static_cast<std::size_t>(writeLimitForTesting));
        const ssize_t written = ::write(fd, data, size);
        if (written > 0)
            writeLimitForTesting -= written;
        return written;
    }
    return ::write(fd, data, size);
}

std::string describeErrno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

ConversionError writeFailure(std::string detail) {
    return ConversionError::output(Result::Failed, "Unable to write file.", std::move(detail));
}

}  // namespace

void setOutputWriteLimitForTesting(int64_t bytes) {
    writeLimitForTesting = bytes;
}

std::unique_ptr<PdfOutput> PdfOutput::create(const std::string& finalPath) {
    const std::string folder = folderOf(finalPath);
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string temporaryPath = temporaryNameIn(folder);
        // 0666 less the umask: the finished PDF gets a plain file's permissions.
        const int fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return std::make_unique<PdfOutput>(fd, std::move(temporaryPath), finalPath,
                                               CreateKey{});
        }
        if (errno != EEXIST)
            break;
    }
    throw ConversionError::output(Result::Refused, "Unable to open file.",
                                  describeErrno(("cannot create a file in " + folder).c_str()));
}

PdfOutput::PdfOutput(int fd, std::string temporaryPath, std::string finalPath, CreateKey)
    : fd_(fd),
      temporaryPath_(std::move(temporaryPath)),
      finalPath_(std::move(finalPath)),
      buffer_(kBufferSize) {}

PdfOutput::~PdfOutput() {
    if (!committed_)
        discard();
}

void PdfOutput::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    ::unlink(temporaryPath_.c_str());
}

void PdfOutput::write(const void* data, std::size_t size) {
    if (position_ + size > kMaxFileSize) {
        throw writeFailure("the PDF would be larger than 9,999,999,999 bytes");
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (buffered_ + size > buffer_.size())
        flush();
    if (size >= buffer_.size()) {
        writeAll(bytes, size);
    } else {
        std::memcpy(buffer_.data() + buffered_, bytes, size);
        buffered_ += size;
    }
    position_ += size;
}

void PdfOutput::flush() {
    if (buffered_ == 0)
        return;
    writeAll(buffer_.data(), buffered_);
    buffered_ = 0;
}

void PdfOutput::writeAll(const uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = writeSome(fd_, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw writeFailure(describeErrno("cannot write the PDF"));
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void PdfOutput::commit() {
    flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        discard();
        throw writeFailure(describeErrno("cannot close the PDF"));
    }
    if (::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) {
        const std::string reason =
            describeErrno(("cannot rename the PDF to " + finalPath_).c_str());
        discard();
        throw writeFailure(reason);
    }
    committed_ = true;
}

}  // namespace quorvex
