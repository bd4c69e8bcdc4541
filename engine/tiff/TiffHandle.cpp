#include "engine/tiff/TiffHandle.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace quorvex {
namespace {

constexpr std::size_t kMaxDiagnosticBytes = 4096;

std::string formatMessage(const char* format, va_list args) {
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    return buffer;
}

int recordError(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    if (userData != nullptr) {
        static_cast<TiffDiagnostics*>(userData)->addError(module,
                                                          formatMessage(format, args).c_str());
    }
    return 1;  // handled: the process-wide handler is not called
}

int recordWarning(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    if (userData != nullptr) {
        static_cast<TiffDiagnostics*>(userData)->addWarning(module,
                                                            formatMessage(format, args).c_str());
    }
    return 1;
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const noexcept { TIFFOpenOptionsFree(options); }
};
using OptionsPtr = std::unique_ptr<TIFFOpenOptions, OptionsDeleter>;

OptionsPtr makeOptions(TiffDiagnostics* diagnostics) {
    OptionsPtr options(TIFFOpenOptionsAlloc());
    if (options) {
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibtiffAllocation);
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), recordError, diagnostics);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), recordWarning, diagnostics);
    }
    return options;
}

MemoryFile& memoryOf(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

tmsize_t readMemory(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& file = memoryOf(handle);
    const uint64_t total = file.bytes->size();
    if (size <= 0 || file.position >= total)
        return 0;
    const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(size), total - file.position);
    std::memcpy(buffer, file.bytes->data() + file.position, count);
    file.position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) {
    return 0;  // read only
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = memoryOf(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = file.position;
    else if (whence == SEEK_END)
        base = file.bytes->size();
    // toff_t is unsigned: a negative relative offset arrives wrapped around.
    file.position = base + offset;
    return file.position;
}

int closeNothing(thandle_t) {
    return 0;
}

toff_t sizeOfMemory(thandle_t handle) {
    return memoryOf(handle).bytes->size();
}

// Mapping hands libtiff the bytes themselves: no copy per strip.
int mapMemory(thandle_t handle, void** base, toff_t* size) {
    MemoryFile& file = memoryOf(handle);
    *base = const_cast<uint8_t*>(file.bytes->data());
    *size = file.bytes->size();
    return 1;
}

void unmapNothing(thandle_t, void*, toff_t) {}

}  // namespace

void TiffDiagnostics::add(const char* kind, const char* module, const char* text) {
    std::string line = kind;
    line += ": ";
    if (module != nullptr && *module != '\0') {
        line += module;
        line += ": ";
    }
    line += text;
    if (kind[0] == 'e')
        lastError_ = line;
    if (text_.size() + line.size() + 1 > kMaxDiagnosticBytes)
        return;
    if (!text_.empty())
        text_ += '\n';
    text_ += line;
}

TiffPtr openTiff(const char* path, const char* mode, TiffDiagnostics* diagnostics) {
    OptionsPtr options = makeOptions(diagnostics);
    return TiffPtr(TIFFOpenExt(path, mode, options.get()));
}

TiffPtr openTiffFd(int fd, const char* name, const char* mode, TiffDiagnostics* diagnostics) {
    OptionsPtr options = makeOptions(diagnostics);
    return TiffPtr(TIFFFdOpenExt(fd, name, mode, options.get()));
}

TiffPtr openTiffMemory(MemoryFile* file, const char* name, TiffDiagnostics* diagnostics) {
    if (file == nullptr || !file->bytes)
        return nullptr;
    OptionsPtr options = makeOptions(diagnostics);
    return TiffPtr(TIFFClientOpenExt(name, "r", file, readMemory, writeNothing, seekMemory,
                                     closeNothing, sizeOfMemory, mapMemory, unmapNothing,
                                     options.get()));
}

// Once per process: conversions run on several threads at a time, and the
// handlers are process-wide.
void silenceLibtiffGlobalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
    });
}

}  // namespace quorvex
