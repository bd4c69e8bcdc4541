#include "engine/pdf/PdfOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
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
    return ConversionError::outputFailed(std::move(detail), LegacyReason::UnableToWrite);
}

// The file a path ends at after its links: a PDF named through a link is
// written where the link points, and the link stays. A dangling link still
// names the file to create.
std::string followLinks(const std::string& path) {
    constexpr int kMaxLinks = 40;  // the kernel's own limit (ELOOP)
    std::string current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        std::string target(static_cast<std::size_t>(info.st_size) + 256, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size())
            return current;
        target.resize(static_cast<std::size_t>(length));
        const auto slash = current.find_last_of('/');
        current = target.starts_with('/') || slash == std::string::npos
                      ? target
                      : current.substr(0, slash + 1) + target;
    }
    return current;
}

// A replaced PDF keeps its permissions, and (for root, who may) its owner
// and group: a private 0640 file must not become world-readable.
void keepAttributesOf(const std::string& existing, int fd) {
    struct stat info {};
    if (::stat(existing.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    if (::geteuid() == 0 && ::fchown(fd, info.st_uid, info.st_gid) != 0) {
        // Keeping the owner is best effort; the file is still written.
    }
    ::fchmod(fd, info.st_mode & 07777);
}

}  // namespace

void setOutputWriteLimitForTesting(int64_t bytes) {
    writeLimitForTesting = bytes;
}

std::unique_ptr<PdfOutput> PdfOutput::create(const std::string& requestedPath) {
    const std::string finalPath = followLinks(requestedPath);
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
    throw ConversionError::outputFailed(
        describeErrno(("cannot create a file in " + folder).c_str()), LegacyReason::UnableToOpen);
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
    keepAttributesOf(finalPath_, fd_);
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
