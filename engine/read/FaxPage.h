// A fax page decoded by libtiff into a bitmap, checked for damage and coded
// again when its stored data cannot go into the PDF as it is: pages split
// into strips or tiles, and data that libtiff decodes only with complaints
// (readers draw such data as garbage or not at all).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/encode/BilevelCoding.h"
#include "engine/encode/CcittEncoder.h"
#include "engine/plan/ImagePlan.h"
#include "engine/read/FaxStripFile.h"

namespace quorvex {

struct PageReading;
class SampleSink;
class PageDamage;
class TiffDocument;

// Whether libtiff decodes the selected page, a fax page stored in one strip,
// without a word of complaint. Only the coded runs are followed: no pixel is
// drawn, which makes the check about a third cheaper than a decode.
bool faxStripDecodesCleanly(const TiffDocument& document);

// The selected fax page's coded strips as stored, each most significant bit
// first; none when the page is tiled or a strip cannot be read as stored
// (empty, longer than the file, a read error).
std::optional<CodedStrips> readFaxStrips(const TiffDocument& document);

// A fax page after its check, apart from the file it came from (so on any
// thread). A page stored in one strip keeps its data when libtiff decodes it
// cleanly; a page in several strips is coded again as one stream. Data
// libtiff decodes only with complaints gives way to its decode coded as clean
// Group 4 (rows lost stay white).
struct CheckedFax {
    ImagePlan plan;  // the page's own plan, or the clean coding's
    std::vector<uint8_t> stream;
    std::string lost;  // what the page lost, in words; empty when nothing
};
// `plan` is the page's fax plan (image::StoredFax or image::RecodedFax); `pageName`
// ("page 3") names the page in `lost`.
CheckedFax checkFaxStrips(const PageLayout& page, const ImagePlan& plan, CodedStrips strips,
                          const std::string& pageName, const std::atomic<bool>* cancel);

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
    std::vector<uint8_t> coded(CcittGroup group) const;
    BilevelBitmap bitmap() const { return {width_, height_, rowBytes_, polarity_, rows_.data()}; }

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
