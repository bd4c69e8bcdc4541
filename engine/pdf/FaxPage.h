// A fax page decoded by libtiff into a bitmap, checked for damage and coded
// again when its stored data cannot go into the PDF as it is: pages split
// into strips or tiles, and data that libtiff decodes only with complaints
// (readers draw such data as garbage or not at all).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/tiff/CcittEncoder.h"

namespace quorvex {

struct PageReading;
class SampleSink;
class PageDamage;
class TiffDocument;

class FaxBitmap {
  public:
    // Decodes the selected page, band by band; rows that cannot be decoded
    // are recorded in `damage` and stay white.
    static FaxBitmap decode(const TiffDocument& document, PageDamage& damage,
                            const std::atomic<bool>* cancel);

    // Whether libtiff decoded every row without a word of complaint.
    bool clean() const { return clean_; }
    // Codes the bitmap as one stream (white coded as white) into the sink.
    void writeCoded(SampleSink& sink, CcittGroup group) const;

  private:
    FaxBitmap(uint32_t width, uint32_t height, BitmapPolarity polarity);

    uint32_t width_;
    uint32_t height_;
    uint64_t rowBytes_;
    BitmapPolarity polarity_;
    bool clean_ = true;
    std::vector<uint8_t> rows_;
};

}  // namespace quorvex
