#include "engine/read/FaxPage.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/encode/StreamSink.h"
#include "engine/read/FaxStripFile.h"
#include "engine/read/PageDamage.h"
#include "engine/read/StoredRows.h"
#include "engine/read/TiffDocument.h"
#include "engine/read/TiffHandle.h"

namespace quorvex {
namespace {

// libtiff's fax decoder hands each row's runs to a fill function, set through
// the TIFFTAG_FAXFILLFUNC pseudo-tag. Its type lives in a private libtiff
// header, so it is spelled out here.
using FaxFillFunction = void (*)(unsigned char* row, uint32_t* runs, uint32_t* end, uint32_t width);

// A fill function that draws nothing.
void skipRuns(unsigned char*, uint32_t*, uint32_t*, uint32_t) {}

// Swaps the handle's fill function for `fill` while in scope.
class FaxFillSwap {
  public:
    FaxFillSwap(TIFF* tiff, FaxFillFunction fill) : tiff_(tiff) {
        ok_ = TIFFGetField(tiff_, TIFFTAG_FAXFILLFUNC, &original_) == 1 &&
              TIFFSetField(tiff_, TIFFTAG_FAXFILLFUNC, fill) == 1;
    }
    ~FaxFillSwap() {
        if (ok_)
            TIFFSetField(tiff_, TIFFTAG_FAXFILLFUNC, original_);
    }
    FaxFillSwap(const FaxFillSwap&) = delete;
    FaxFillSwap& operator=(const FaxFillSwap&) = delete;
    bool ok() const { return ok_; }

  private:
    TIFF* tiff_;
    FaxFillFunction original_ = nullptr;
    bool ok_ = false;
};

}  // namespace

bool faxStripDecodesCleanly(const TiffDocument& document) {
    TIFF* tiff = document.handle();
    const tmsize_t stripBytes = TIFFStripSize(tiff);
    if (stripBytes <= 0 || TIFFNumberOfStrips(tiff) != 1)
        return false;
    const FaxFillSwap swap(tiff, skipRuns);
    if (!swap.ok())
        return false;
    // Never written with the fill skipped, so left uninitialised.
    const auto rows =
        std::make_unique_for_overwrite<uint8_t[]>(checkedSize({static_cast<uint64_t>(stripBytes)}));
    const std::size_t mark = document.diagnostics().count();
    const bool read = TIFFReadEncodedStrip(tiff, 0, rows.get(), stripBytes) == stripBytes;
    return read && document.diagnostics().firstLossSince(mark).empty();
}

FaxBitmap::FaxBitmap(uint32_t width, uint32_t height, BitmapPolarity polarity)
    : width_(width),
      height_(height),
      rowBytes_(packedBytes(width, 1)),
      polarity_(polarity),
      rows_(allocateBuffer(checkedSize({rowBytes_, height}))) {
    // Rows nobody decodes show as paper.
    if (polarity == BitmapPolarity::ZeroIsBlack)
        std::fill(rows_.begin(), rows_.end(), uint8_t{0xFF});
}

FaxBitmap FaxBitmap::decode(const TiffDocument& document, PageDamage& damage,
                            const std::atomic<bool>* cancel) {
    const PageLayout& page = document.page();
    FaxBitmap bitmap(page.width, page.height,
                     page.photometric == PHOTOMETRIC_MINISBLACK ? BitmapPolarity::ZeroIsBlack
                                                                : BitmapPolarity::ZeroIsWhite);
    StoredRows stored(document);
    for (uint32_t top = 0; top < page.height; top += stored.bandRows()) {
        throwIfCancelled(cancel);
        const uint32_t count = std::min(stored.bandRows(), page.height - top);
        // A band libtiff gives up on part-way keeps the rows it decoded, as
        // libtiff itself shows them; the rest stay paper.
        const std::size_t mark = damage.mark();
        damage.checkFaxBand(mark, top, stored.read(top), count);
        for (uint32_t r = 0; r < count; ++r) {
            std::memcpy(bitmap.rows_.data() + (uint64_t{top} + r) * bitmap.rowBytes_,
                        stored.row(0, r), bitmap.rowBytes_);
        }
    }
    bitmap.clean_ = !damage.any();
    return bitmap;
}

void FaxBitmap::writeCoded(SampleSink& sink, CcittGroup group) const {
    const std::vector<uint8_t> data = coded(group);
    sink.append(data.data(), data.size());
}

std::vector<uint8_t> FaxBitmap::coded(CcittGroup group) const {
    try {
        CcittEncoder encoder(width_, height_, group, polarity_);
        for (uint32_t y = 0; y < height_; ++y)
            encoder.addRow(rows_.data() + uint64_t{y} * rowBytes_);
        return encoder.finish();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& failure) {
        throw ConversionError::unreadable(failure.what());
    }
}

std::optional<CodedStrips> readFaxStrips(const TiffDocument& document) {
    TIFF* tiff = document.handle();
    const uint32_t count = TIFFNumberOfStrips(tiff);
    uint64_t* byteCounts = nullptr;
    if (document.page().tiled || count == 0 ||
        !TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &byteCounts) || byteCounts == nullptr) {
        return std::nullopt;
    }
    const uint64_t fileSize = storedFileSize(tiff);
    CodedStrips strips(count);
    for (uint32_t s = 0; s < count; ++s) {
        // Empty strips and strips past the end are left to the decoder, which
        // says which rows they lose.
        if (byteCounts[s] == 0 || byteCounts[s] > fileSize)
            return std::nullopt;
        strips[s] = allocateBuffer(byteCounts[s]);
        const tmsize_t read =
            TIFFReadRawStrip(tiff, s, strips[s].data(), static_cast<tmsize_t>(strips[s].size()));
        if (read < 0 || static_cast<uint64_t>(read) != strips[s].size())
            return std::nullopt;
        if (document.page().fillOrder == FILLORDER_LSB2MSB)
            TIFFReverseBits(strips[s].data(), read);
    }
    return strips;
}

CheckedFax checkFaxStrips(const PageLayout& page, const ImagePlan& plan, CodedStrips strips,
                          const std::string& pageName, const std::atomic<bool>* cancel) {
    std::vector<uint8_t> file = faxStripFile(page, strips);
    if (file.empty())
        throw ConversionError::unreadable("the page's fax data is too long");
    TiffDocument stored;
    stored.openMemory(std::make_shared<const std::vector<uint8_t>>(std::move(file)), "fax page");
    const bool passesThrough = plan.is<image::StoredFax>() && strips.size() == 1;
    if (passesThrough && faxStripDecodesCleanly(stored))
        return CheckedFax{plan, std::move(strips.front()), {}};
    PageDamage damage(stored.diagnostics());
    const FaxBitmap bitmap = FaxBitmap::decode(stored, damage, cancel);
    if (!damage.any()) {
        if (passesThrough)  // the decode that counts found nothing amiss after all
            return CheckedFax{plan, std::move(strips.front()), {}};
        return CheckedFax{plan, bitmap.coded(ccittGroupOf(*faxParametersOf(plan))), {}};
    }
    const ImagePlan clean = cleanFaxPlan(plan);
    return CheckedFax{clean, bitmap.coded(ccittGroupOf(*faxParametersOf(clean))),
                      damage.describe(pageName)};
}

}  // namespace quorvex
