#include "engine/read/TiffDocument.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include "engine/EngineError.h"
#include "engine/platform/Platform.h"
#include "engine/read/IccProfile.h"

namespace quorvex {
namespace {

[[noreturn]] void refuse(const std::string& detail) {
    throw ConversionError::unreadable(detail, LegacyReason::UnableToOpen);
}

// Names of compressions this libtiff may lack, as their writers call them;
// libtiff knows names only for the codecs it was built to know.
std::string compressionName(uint16_t compression) {
    switch (compression) {
        case 34712:
            return "JPEG 2000";
        case 34892:
            return "lossless JPEG";
        case 34713:
            return "Nikon NEF";
        case 34933:
            return "PNG";
        case 34934:
            return "JPEG XR";
        case 50002:
            return "JPEG XL";
        default:
            break;
    }
    const TIFFCodec* codec = TIFFFindCODEC(compression);
    return codec != nullptr && codec->name != nullptr ? codec->name : "unknown";
}

// Without a unit only the ratio of the two values means anything: the
// coarser axis gets `usual`, the finer one as much more as the ratio says.
void keepAspectOnly(PageLayout& page, float usual) {
    const float x = page.xResolution;
    const float y = page.yResolution;
    page.resolutionUnit = RESUNIT_INCH;
    if (!(std::isfinite(x) && std::isfinite(y) && x > 0 && y > 0)) {
        page.xResolution = usual;
        page.yResolution = usual;
        return;
    }
    const float coarser = std::min(x, y);
    page.xResolution = usual * (x / coarser);
    page.yResolution = usual * (y / coarser);
}

std::string unsupportedCompressionText(uint16_t compression) {
    return "compression " + std::to_string(compression) + " (" + compressionName(compression) +
           ") is not supported by this build";
}

// Reads `bytes` bytes (2, 4 or 8) at `offset` in the file's byte order.
std::optional<uint64_t> readNumberAt(TIFF* tiff, uint64_t offset, int bytes) {
    std::array<uint8_t, 8> raw{};
    const thandle_t file = TIFFClientdata(tiff);
    if (TIFFGetSeekProc(tiff)(file, offset, SEEK_SET) != offset ||
        TIFFGetReadProc(tiff)(file, raw.data(), bytes) != bytes) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int at = TIFFIsBigEndian(tiff) ? i : bytes - 1 - i;
        value = (value << 8) | raw[static_cast<std::size_t>(at)];
    }
    return value;
}

// The link that follows the current directory, read from the file: libtiff
// keeps it to itself. Nothing when it cannot be read.
std::optional<uint64_t> nextDirectoryLink(TIFF* tiff) {
    const bool big = TIFFIsBigTIFF(tiff) != 0;
    const uint64_t at = TIFFCurrentDirOffset(tiff);
    const std::optional<uint64_t> entries = readNumberAt(tiff, at, big ? 8 : 2);
    if (!entries || *entries > 0xFFFFU)
        return std::nullopt;
    const uint64_t linkAt = at + (big ? 8 : 2) + *entries * (big ? 20 : 12);
    return readNumberAt(tiff, linkAt, big ? 8 : 4);
}

// The key of the current directory's profile when it is well formed and
// fits the page's samples; 0 otherwise.
uint64_t usableProfileKey(TIFF* tiff) {
    const std::optional<std::vector<uint8_t>> profile = readIccProfile(tiff);
    if (!profile)
        return 0;
    const IccHeader header = inspectIccProfile(*profile);
    const bool fits = header.wellFormed() && !header.isLab &&
                      header.components == profileComponentsOf(readPageLayout(tiff));
    return fits ? iccProfileKey(*profile) : 0;
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
    scanDirectories();
    refuseUndecodablePages();
    pageCount_ = static_cast<int32_t>(pageDirectories_.size());
    // A file of one directory is still on it; a failed read may have left
    // the handle anywhere.
    const tdir_t first = pageDirectories_.front();
    const bool onFirst = truncation_.empty() && TIFFCurrentDirectory(tiff_.get()) == first;
    if (!onFirst && !readDirectory(first))
        refuse("its first page cannot be read");
    currentPage_ = 0;
    loadPage();
}

// Reads every directory once, one after another, which keeps this linear in
// their number; what each one is (a page or a subfile) and its compression
// are noted on the way. A chain that goes on but cannot be read, or links
// back to a directory already read, is remembered: the pages after it are lost.
void TiffDocument::scanDirectories() {
    pageDirectories_.clear();
    compressions_.clear();
    profileKeys_.clear();
    skippedSubfiles_ = 0;
    truncation_.clear();
    std::vector<uint64_t> offsetsSeen;
    // Opening succeeded, so directory 0 has been read.
    for (tdir_t directory = 0;; ++directory) {
        offsetsSeen.push_back(TIFFCurrentDirOffset(tiff_.get()));
        takeDirectory(directory);
        if (directory + 1 >= static_cast<tdir_t>(kMaxPages) || TIFFLastDirectory(tiff_.get()))
            break;
        const std::size_t mark = diagnostics_.count();
        if (!TIFFReadDirectory(tiff_.get())) {
            describeBrokenChain(mark, offsetsSeen);
            break;
        }
    }
    // A file of nothing but subfiles still shows its first one.
    if (pageDirectories_.empty()) {
        pageDirectories_.push_back(0);
        profileKeys_.push_back(0);
        --skippedSubfiles_;
    }
}

void TiffDocument::takeDirectory(tdir_t directory) {
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetField(tiff_.get(), TIFFTAG_COMPRESSION, &compression);
    compressions_.push_back(compression);
    uint32_t subfileType = 0;
    TIFFGetField(tiff_.get(), TIFFTAG_SUBFILETYPE, &subfileType);
    if ((subfileType & (FILETYPE_REDUCEDIMAGE | FILETYPE_MASK)) != 0) {
        ++skippedSubfiles_;
        return;
    }
    pageDirectories_.push_back(directory);
    profileKeys_.push_back(usableProfileKey(tiff_.get()));
}

void TiffDocument::describeBrokenChain(std::size_t mark, const std::vector<uint64_t>& offsetsSeen) {
    const std::string pages = std::to_string(pageDirectories_.size());
    const std::optional<uint64_t> next = nextDirectoryLink(tiff_.get());
    if (next && std::find(offsetsSeen.begin(), offsetsSeen.end(), *next) != offsetsSeen.end()) {
        truncation_ = "the page chain loops back after page " + pages;
        return;
    }
    truncation_ = "the file ends after page " + pages + ": directory " +
                  std::to_string(compressions_.size() + 1) + " cannot be read";
    const std::string said = diagnostics_.firstErrorSince(mark);
    if (!said.empty())
        truncation_ += " (" + said + ")";
}

// Checked before anything is written: a page libtiff cannot decode would
// otherwise become an empty image halfway through the PDF.
void TiffDocument::refuseUndecodablePages() const {
    for (std::size_t page = 0; page < pageDirectories_.size(); ++page) {
        const uint16_t compression = compressions_[pageDirectories_[page]];
        if (TIFFIsCODECConfigured(compression) == 0) {
            throw ConversionError::refused(unsupportedCompressionText(compression) + " (page " +
                                               std::to_string(page + 1) + ")",
                                           LegacyReason::UnsupportedCompression);
        }
    }
}

// Directories are read again when their page is converted; what libtiff
// said about them the first time is not said twice.
bool TiffDocument::readDirectory(tdir_t directory) {
    const TiffDiagnostics::Muted quiet(diagnostics_);
    if (directory == TIFFCurrentDirectory(tiff_.get()) + 1)
        return TIFFReadDirectory(tiff_.get()) != 0;
    return TIFFSetDirectory(tiff_.get(), directory) != 0;
}

bool TiffDocument::selectPage(int32_t page) {
    if (!tiff_ || page < 0 || page >= pageCount_)
        return false;
    const bool ok = readDirectory(pageDirectories_[static_cast<std::size_t>(page)]);
    currentPage_ = page;
    loadPage();
    return ok;
}

void TiffDocument::loadPage() {
    page_ = readPageLayout(tiff_.get());
    applyResolutionChoice();
}

// A forced resolution wins over the file's; a page without a unit keeps only
// its aspect ratio, the coarser axis at the usual resolution; a page missing
// a value gets the default.
void TiffDocument::applyResolutionChoice() {
    if (forcedDpi_ > 0) {
        page_.xResolution = forcedDpi_;
        page_.yResolution = forcedDpi_;
        page_.resolutionUnit = RESUNIT_INCH;
        return;
    }
    const float usual = defaultDpi_ > 0 ? defaultDpi_ : kUsualDpi;
    if (page_.resolutionUnit == RESUNIT_NONE) {
        keepAspectOnly(page_, usual);
        return;
    }
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
    pageDirectories_.clear();
    compressions_.clear();
    profileKeys_.clear();
    skippedSubfiles_ = 0;
}

}  // namespace quorvex
