#include "engine/tiff/FaxRewrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "engine/Limits.h"
#include "engine/tiff/PageLayout.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {
namespace {

constexpr int kMaxNameAttempts = 100;

// Creates the temporary file exclusively: an existing file is never
// overwritten, whatever its name. Returns the descriptor or -1.
int createExclusively(const std::string& sourcePath, std::string& name, std::string& message) {
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        name = attempt == 0 ? sourcePath + ".tmp"
                            : sourcePath + "." + std::to_string(attempt) + ".tmp";
        if (name.size() > kMaxTemporaryPathLength) {
            message = "temp file path lenght is greater than 255.";
            return -1;
        }
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Tags without which the copied samples would be read as something else: the
// colours of a palette page, the alpha of an RGBA page, the sample format.
void copySampleLayoutTags(TIFF* from, const PageLayout& page, TIFF* to) {
    uint16_t* red = nullptr;
    uint16_t* green = nullptr;
    uint16_t* blue = nullptr;
    if (page.photometric == PHOTOMETRIC_PALETTE &&
        TIFFGetField(from, TIFFTAG_COLORMAP, &red, &green, &blue)) {
        TIFFSetField(to, TIFFTAG_COLORMAP, red, green, blue);
    }
    uint16_t extraCount = 0;
    uint16_t* extraKinds = nullptr;
    if (TIFFGetField(from, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) && extraCount > 0) {
        TIFFSetField(to, TIFFTAG_EXTRASAMPLES, extraCount, extraKinds);
    }
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    if (TIFFGetField(from, TIFFTAG_SAMPLEFORMAT, &sampleFormat)) {
        TIFFSetField(to, TIFFTAG_SAMPLEFORMAT, sampleFormat);
    }
}

void copyPageTags(TIFF* from, const PageLayout& page, TIFF* to) {
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(from, TIFFTAG_PLANARCONFIG, &planar);
    TIFFSetField(to, TIFFTAG_PLANARCONFIG, planar);
    TIFFSetField(to, TIFFTAG_COMPRESSION, page.compression);
    TIFFSetField(to, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(to, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(to, TIFFTAG_SAMPLESPERPIXEL, page.samplesPerPixel);
    TIFFSetField(to, TIFFTAG_BITSPERSAMPLE, page.bitsPerSample);
    TIFFSetField(to, TIFFTAG_ROWSPERSTRIP, page.height);  // the whole page in one strip
    TIFFSetField(to, TIFFTAG_PHOTOMETRIC, page.photometric);
    TIFFSetField(to, TIFFTAG_ORIENTATION, page.orientation);
    TIFFSetField(to, TIFFTAG_XRESOLUTION, static_cast<double>(page.xResolution));
    TIFFSetField(to, TIFFTAG_YRESOLUTION, static_cast<double>(page.yResolution));
    copySampleLayoutTags(from, page, to);
    // The unit gives the resolutions their meaning; without it a page
    // measured in centimetres would change size.
    uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(from, TIFFTAG_RESOLUTIONUNIT, &unit)) {
        TIFFSetField(to, TIFFTAG_RESOLUTIONUNIT, unit);
    }
}

// Streams one page row by row from the source's decoder to the temporary
// file's encoder. A row that fails to decode is written as the buffer holds
// it (zeros until a row was read); a row that fails to encode fails the copy.
bool copyPageRows(TiffDocument& source, TIFF* to, const std::atomic<bool>* cancel) {
    TIFF* from = source.handle();
    const tmsize_t rowSize = std::max(TIFFScanlineSize(from), TIFFScanlineSize(to));
    if (rowSize <= 0)
        return false;
    std::vector<uint8_t> row;
    try {
        row.assign(static_cast<std::size_t>(rowSize), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (uint32_t y = 0; y < source.page().height; ++y) {
        throwIfCancelled(cancel);
        TIFFReadScanline(from, row.data(), y, 0);
        if (TIFFWriteScanline(to, row.data(), y, 0) < 0)
            return false;
    }
    return true;
}

}  // namespace

void TemporaryFile::remove() noexcept {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        path_.clear();
    }
}

int rewriteAsSingleStrip(TiffDocument& source, const std::string& sourcePath,
                         TemporaryFile& temporary, std::string& message,
                         const std::atomic<bool>* cancel) {
    std::string name;
    const int fd = createExclusively(sourcePath, name, message);
    if (fd < 0)
        return -1;
    TemporaryFile created;
    created.adopt(name);

    TiffDocument copy;
    if (!copy.openForWriting(fd, name, "w")) {
        ::close(fd);  // libtiff only owns the descriptor once the open succeeded
        return -1;
    }
    for (int32_t page = 0; page < source.getPageCount(); ++page) {
        if (source.getCurrentPage() != page)
            source.selectPage(page);
        TIFF* to = copy.handle();
        copyPageTags(source.handle(), source.page(), to);
        if (!copyPageRows(source, to, cancel) || !TIFFWriteDirectory(to)) {
            message = "Unable to convert tiff.";
            return -1;  // `copy` closes before `created` removes the file
        }
    }
    copy.close();

    source.close();
    source.open(name);
    temporary.adopt(created.release());
    return 1;
}

}  // namespace quorvex
