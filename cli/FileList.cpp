#include "cli/FileList.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include "cli/InputCollector.h"
#include "cli/StandardStreams.h"
#include "engine/platform/Platform.h"

namespace quorvex::cli {
namespace {

// A list has no useful size limit: millions of names are expected.
constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

// Closes the list file however the read ends.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            platform::closeDescriptor(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::vector<std::string> splitFileList(std::string_view bytes, char separator) {
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find(separator, start);
        if (end == std::string_view::npos)
            end = bytes.size();
        const std::string_view name = bytes.substr(start, end - start);
        if (name == kStandardStream)
            paths.emplace_back("./-");
        else if (!name.empty())
            paths.emplace_back(name);
        start = end + 1;
    }
    return paths;
}

FileListRead readFileList(const std::string& source, bool nullSeparated, int standardInput,
                          const std::atomic<bool>* cancel) {
    FileListRead list;
    const bool fromStandardInput = source == kStandardStream;
    const FileDescriptor file(fromStandardInput ? -1 : platform::openForReading(source));
    if (!fromStandardInput && file.get() < 0) {
        list.error = "cannot read the file list '" + source + "' (" + std::strerror(errno) + ")";
        return list;
    }
    StreamRead read =
        readWholeStream(fromStandardInput ? standardInput : file.get(), kNoLimit, cancel);
    if (!read.error.empty()) {
        list.error = "cannot read the file list '" + source + "' (" + read.error + ")";
        return list;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(read.bytes.data()),
                                 read.bytes.size());
    list.paths = splitFileList(bytes, nullSeparated ? '\0' : '\n');
    return list;
}

}  // namespace quorvex::cli
