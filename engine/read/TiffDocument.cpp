#include "engine/read/TiffDocument.h"

#include "engine/EngineError.h"
#include "engine/platform/Platform.h"

namespace quorvex {
namespace {

constexpr const char* kUnableToOpen = "Unable to open file.";

[[noreturn]] void refuse(const std::string& detail) {
    throw ConversionError::input(Result::Refused, kUnableToOpen, detail);
}

// Read without mapping the file: its pages are read once, and mapped they
// would stay in the process's memory next to the page being compressed.
constexpr const char* kReadMode = "rbm";

}  // namespace

void TiffDocument::open(const std::string& path) {
    close();
    platform::OpenedInput input = platform::openRegularFile(path);
    if (!input.file)
        refuse(input.refusal);
    tiff_ = openTiffFd(input.file.get(), path.c_str(), kReadMode, &diagnostics_);
    if (tiff_) {
        input.file.release();  // libtiff owns the descriptor once the open succeeded
    } else {
        refuse(diagnostics_.lastError().empty() ? "not a readable TIFF file"
                                                : diagnostics_.lastError());
    }
    finishOpen();
}

void TiffDocument::openMemory(std::shared_ptr<const std::vector<uint8_t>> bytes,
                              const std::string& name) {
    close();
    memory_ = std::make_unique<MemoryFile>();
    memory_->bytes = std::move(bytes);
    tiff_ = openTiffMemory(memory_.get(), name.c_str(), &diagnostics_);
    if (!tiff_) {
        refuse(diagnostics_.lastError().empty() ? "not a readable TIFF file"
                                                : diagnostics_.lastError());
    }
    finishOpen();
}

void TiffDocument::finishOpen() {
    countPages();
    if (!TIFFSetDirectory(tiff_.get(), 0))
        refuse("its first page cannot be read");
    currentPage_ = 0;
    loadPage();
}

// Counts the leading directories that libtiff reads one after another.
// Reading forward from the current directory keeps this linear in the number
// of pages, and libtiff itself stops on a chain that loops back. A chain that
// goes on but cannot be read is remembered: the pages after it are lost.
void TiffDocument::countPages() {
    pageCount_ = 1;  // opening succeeded, so directory 0 was read
    truncation_.clear();
    while (pageCount_ < kMaxPages && !TIFFLastDirectory(tiff_.get())) {
        const std::size_t mark = diagnostics_.count();
        if (!TIFFReadDirectory(tiff_.get())) {
            truncation_ = "the file ends after page " + std::to_string(pageCount_) +
                          ": directory " + std::to_string(pageCount_ + 1) + " cannot be read";
            const std::string said = diagnostics_.firstErrorSince(mark);
            if (!said.empty())
                truncation_ += " (" + said + ")";
            return;
        }
        ++pageCount_;
    }
}

bool TiffDocument::selectPage(int32_t page) {
    if (!tiff_ || page < 0 || page >= pageCount_)
        return false;
    bool ok = false;
    if (page == currentPage_ + 1 &&
        static_cast<int32_t>(TIFFCurrentDirectory(tiff_.get())) == currentPage_) {
        ok = TIFFReadDirectory(tiff_.get()) != 0;
    } else {
        ok = TIFFSetDirectory(tiff_.get(), static_cast<tdir_t>(page)) != 0;
    }
    currentPage_ = page;
    loadPage();
    return ok;
}

void TiffDocument::loadPage() {
    page_ = readPageLayout(tiff_.get());
    if (defaultDpi_ <= 0)
        return;
    // In the page's own unit, so a centimetre page missing one value stays consistent.
    const float fill =
        page_.resolutionUnit == RESUNIT_CENTIMETER ? defaultDpi_ / 2.54F : defaultDpi_;
    if (page_.xResolution <= 0)
        page_.xResolution = fill;
    if (page_.yResolution <= 0)
        page_.yResolution = fill;
}

void TiffDocument::close() {
    tiff_.reset();
    memory_.reset();
    page_ = PageLayout{};
    pageCount_ = 0;
    currentPage_ = 0;
}

}  // namespace quorvex
