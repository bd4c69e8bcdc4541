#include "engine/read/TiffHandle.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>

namespace quorvex {
namespace {

constexpr std::size_t kMaxDiagnosticBytes = 4096;
constexpr std::size_t kMaxRecentEntries = 64;

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

// Where a seek lands in a memory file of `size` bytes. Seeking past the end
// is allowed; the gap appears when something is written there. toff_t is
// unsigned: a negative relative offset arrives wrapped around.
toff_t seekWithin(uint64_t& position, uint64_t size, toff_t offset, int whence) {
    const uint64_t base = whence == SEEK_CUR ? position : whence == SEEK_END ? size : 0;
    position = base + offset;
    return position;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = memoryOf(handle);
    return seekWithin(file.position, file.bytes->size(), offset, whence);
}

GrowingMemoryFile& growingOf(thandle_t handle) {
    return *static_cast<GrowingMemoryFile*>(handle);
}

tmsize_t readGrowing(thandle_t handle, void* data, tmsize_t size) {
    GrowingMemoryFile& file = growingOf(handle);
    if (size <= 0 || file.position >= file.bytes.size())
        return 0;
    const uint64_t count =
        std::min<uint64_t>(static_cast<uint64_t>(size), file.bytes.size() - file.position);
    std::memcpy(data, file.bytes.data() + file.position, count);
    file.position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeGrowing(thandle_t handle, void* data, tmsize_t size) {
    GrowingMemoryFile& file = growingOf(handle);
    if (size < 0)
        return -1;
    const auto count = static_cast<uint64_t>(size);
    if (file.position > std::numeric_limits<std::size_t>::max() - count)
        return -1;
    const auto end = static_cast<std::size_t>(file.position + count);
    try {
        if (end > file.bytes.size())
            file.bytes.resize(end);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::memcpy(file.bytes.data() + file.position, data, count);
    file.position = end;
    return size;
}

toff_t seekGrowing(thandle_t handle, toff_t offset, int whence) {
    GrowingMemoryFile& file = growingOf(handle);
    return seekWithin(file.position, file.bytes.size(), offset, whence);
}

toff_t sizeOfGrowing(thandle_t handle) {
    return growingOf(handle).bytes.size();
}

int closeNothing(thandle_t) {
    return 0;
}

toff_t sizeOfMemory(thandle_t handle) {
    return memoryOf(handle).bytes->size();
}

// The callbacks of a file libtiff reads and writes through the caller.
struct TiffClientProcs {
    TIFFReadWriteProc read;
    TIFFReadWriteProc write;
    TIFFSeekProc seek;
    TIFFCloseProc close;
    TIFFSizeProc size;
};

TiffPtr openTiffClient(const char* name, const char* mode, thandle_t file,
                       const TiffClientProcs& procs, TiffDiagnostics* diagnostics) {
    OptionsPtr options = makeOptions(diagnostics);
    return TiffPtr(TIFFClientOpenExt(name, mode, file, procs.read, procs.write, procs.seek,
                                     procs.close, procs.size, nullptr, nullptr, options.get()));
}

}  // namespace

void TiffDiagnostics::add(bool error, const char* module, const char* text) {
    std::string said;
    if (module != nullptr && *module != '\0') {
        said = module;
        said += ": ";
    }
    said += text;
    const std::string line = (error ? "error: " : "warning: ") + said;
    ++count_;
    if (recent_.size() == kMaxRecentEntries)
        recent_.erase(recent_.begin());
    recent_.push_back(Entry{error, module != nullptr ? module : "", text});
    if (muted_)
        return;
    if (error)
        lastError_ = line;
    if (text_.size() + line.size() + 1 > kMaxDiagnosticBytes)
        return;
    if (!text_.empty())
        text_ += '\n';
    text_ += line;
}

namespace {

// Warnings that decoders give when their data is damaged and rows come out
// wrong: libtiff's fax decoders name themselves Fax3.../Fax4..., libjpeg's
// "Corrupt JPEG data" and "Premature end" come through as JPEGLib, and the
// PackBits, LZW and Deflate decoders warn under their decode functions'
// names (PackBits "Discarding N bytes", say, drops data that belongs to rows).
bool warningMeansLoss(const std::string& module) {
    for (const char* decoder : {"Fax", "JPEGLib", "PackBitsDecode", "LZWDecode", "ZIPDecode"}) {
        if (module.rfind(decoder, 0) == 0)
            return true;
    }
    return false;
}

}  // namespace

std::string TiffDiagnostics::describe(const Entry& entry) const {
    // Some messages start with their module's name already.
    if (entry.module.empty() || entry.module == fileName_ ||
        entry.text.rfind(entry.module + ":", 0) == 0)
        return entry.text;
    return entry.module + ": " + entry.text;
}

std::string TiffDiagnostics::firstErrorSince(std::size_t mark) const {
    const std::size_t first = count_ - recent_.size();
    for (std::size_t i = std::max(mark, first); i < count_; ++i) {
        const Entry& entry = recent_[i - first];
        if (entry.error)
            return describe(entry);
    }
    return {};
}

std::string TiffDiagnostics::firstLossSince(std::size_t mark) const {
    const std::size_t first = count_ - recent_.size();
    for (std::size_t i = std::max(mark, first); i < count_; ++i) {
        const Entry& entry = recent_[i - first];
        if (entry.error || warningMeansLoss(entry.module))
            return describe(entry);
    }
    return {};
}

std::vector<std::string> TiffDiagnostics::lossesSince(std::size_t mark) const {
    std::vector<std::string> losses;
    const std::size_t first = count_ - recent_.size();
    for (std::size_t i = std::max(mark, first); i < count_; ++i) {
        const Entry& entry = recent_[i - first];
        if (entry.error || warningMeansLoss(entry.module))
            losses.push_back(describe(entry));
    }
    return losses;
}

TiffPtr openTiffFd(int fd, const char* name, const char* mode, TiffDiagnostics* diagnostics) {
    OptionsPtr options = makeOptions(diagnostics);
    if (diagnostics != nullptr)
        diagnostics->setFileName(name);
    return TiffPtr(TIFFFdOpenExt(fd, name, mode, options.get()));
}

TiffPtr openTiffMemory(GrowingMemoryFile* file, const char* name, const char* mode,
                       TiffDiagnostics* diagnostics) {
    const TiffClientProcs procs{readGrowing, writeGrowing, seekGrowing, closeNothing,
                                sizeOfGrowing};
    return openTiffClient(name, mode, file, procs, diagnostics);
}

TiffPtr openTiffMemory(MemoryFile* file, const char* name, TiffDiagnostics* diagnostics) {
    if (file == nullptr || !file->bytes)
        return nullptr;
    const TiffClientProcs procs{readMemory, writeNothing, seekMemory, closeNothing, sizeOfMemory};
    return openTiffClient(name, "rm", file, procs, diagnostics);
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

uint64_t storedFileSize(TIFF* tiff) {
    // Asked through the handle's own size callback, so files held in memory
    // answer too.
    const TIFFSizeProc size = TIFFGetSizeProc(tiff);
    return size == nullptr ? UINT64_MAX : static_cast<uint64_t>(size(TIFFClientdata(tiff)));
}

}  // namespace quorvex
