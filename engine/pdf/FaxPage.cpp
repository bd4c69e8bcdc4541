#include "engine/pdf/FaxPage.h"

#include <algorithm>
#include <cstring>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/pdf/PageDamage.h"
#include "engine/pdf/StoredRows.h"
#include "engine/pdf/StreamSink.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {

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
    const uint8_t paper = bitmap.polarity_ == BitmapPolarity::ZeroIsBlack ? 0xFF : 0x00;
    StoredRows stored(document);
    for (uint32_t top = 0; top < page.height; top += stored.bandRows()) {
        throwIfCancelled(cancel);
        const uint32_t count = std::min(stored.bandRows(), page.height - top);
        // A band libtiff gives up on part-way keeps the rows it decoded, as
        // libtiff itself shows them; the rest stay paper.
        stored.fill(paper);
        const std::size_t mark = damage.mark();
        damage.check(mark, !stored.read(top), top, top + count - 1);
        for (uint32_t r = 0; r < count; ++r) {
            std::memcpy(bitmap.rows_.data() + (uint64_t{top} + r) * bitmap.rowBytes_,
                        stored.row(0, r), bitmap.rowBytes_);
        }
    }
    bitmap.clean_ = !damage.any();
    return bitmap;
}

void FaxBitmap::writeCoded(SampleSink& sink, CcittGroup group) const {
    try {
        CcittEncoder encoder(width_, height_, group, polarity_);
        for (uint32_t y = 0; y < height_; ++y)
            encoder.addRow(rows_.data() + uint64_t{y} * rowBytes_);
        const std::vector<uint8_t> coded = encoder.finish();
        sink.append(coded.data(), coded.size());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& failure) {
        throw ConversionError::writer(Result::ImageObject, failure.what());
    }
}

}  // namespace quorvex
