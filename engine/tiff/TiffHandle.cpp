#include "engine/tiff/TiffHandle.h"

#include <cstdarg>
#include <cstdio>
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

TiffPtr openTiffClient(const char* name, const char* mode, thandle_t file,
                       const TiffClientProcs& procs, TiffDiagnostics* diagnostics) {
    OptionsPtr options = makeOptions(diagnostics);
    return TiffPtr(TIFFClientOpenExt(name, mode, file, procs.read, procs.write, procs.seek,
                                     procs.close, procs.size, nullptr, nullptr, options.get()));
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
