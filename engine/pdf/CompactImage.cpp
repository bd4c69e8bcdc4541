#include "engine/pdf/CompactImage.h"

#include <tiffio.h>

#include <span>
#include <string>

#include "engine/EngineError.h"
#include "engine/pdf/ImageXObject.h"
#include "engine/tiff/CcittEncoder.h"
#include "engine/tiff/JpegJoin.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {
namespace {

constexpr uint16_t kCompressionPackBits = 32773;
constexpr uint16_t kCompressionDeflate = 32946;
constexpr uint16_t kCompressionAdobeDeflate = 8;

// One sample per pixel in contiguous strips of unsigned integers, no extras:
// what both compact forms need from the layout.
bool plainSamples(const TiffDocument& document, uint16_t samples) {
    TIFF* tiff = document.tiff.get();
    if (TIFFIsTiled(tiff))
        return false;
    uint16_t extraCount = 0;
    uint16_t* extraKinds = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) && extraCount > 0)
        return false;
    uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetField(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
    const uint16_t own = document.samplesPerPixel == 0 ? 1 : document.samplesPerPixel;
    return own == samples && (samples == 1 || planar == PLANARCONFIG_CONTIG) &&
           (format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID);
}

std::optional<std::vector<uint8_t>> joinedJpeg(const TiffDocument& document) {
    TIFF* tiff = document.tiff.get();
    const uint32_t stripCount = TIFFNumberOfStrips(tiff);
    std::vector<std::vector<uint8_t>> strips;
    uint64_t total = 0;
    for (uint32_t strip = 0; strip < stripCount; ++strip) {
        const uint64_t size = TIFFGetStrileByteCount(tiff, strip);
        total += size;
        if (size == 0 || total > kMaxBufferBytes)
            return std::nullopt;
        std::vector<uint8_t>& data = strips.emplace_back(static_cast<std::size_t>(size));
        if (TIFFReadRawStrip(tiff, strip, data.data(), static_cast<tmsize_t>(size)) !=
            static_cast<tmsize_t>(size)) {
            return std::nullopt;
        }
    }
    uint32_t tablesSize = 0;
    void* tables = nullptr;
    std::span<const uint8_t> tableBytes;
    if (TIFFGetField(tiff, TIFFTAG_JPEGTABLES, &tablesSize, &tables) && tables != nullptr)
        tableBytes = {static_cast<const uint8_t*>(tables), tablesSize};
    const std::vector<std::span<const uint8_t>> views(strips.begin(), strips.end());
    const uint32_t rowsPerStrip =
        document.rowsPerStrip == 0 ? document.imageLength : document.rowsPerStrip;
    return joinJpegStrips(
        tableBytes, views,
        {document.imageWidth, document.imageLength,
         static_cast<uint16_t>(document.photometric == PHOTOMETRIC_MINISBLACK ? 1 : 3),
         rowsPerStrip});
}

bool planJpeg(const TiffDocument& document, ImagePlan& plan) {
    const bool grey = document.photometric == PHOTOMETRIC_MINISBLACK;
    const bool colour =
        document.photometric == PHOTOMETRIC_RGB || document.photometric == PHOTOMETRIC_YCBCR;
    if (document.bitsPerSample != 8 || !(grey || colour) || !plainSamples(document, grey ? 1 : 3))
        return false;
    std::optional<std::vector<uint8_t>> joined = joinedJpeg(document);
    if (!joined)
        return false;
    plan.filterLines = "/Filter /DCTDecode\r";
    // Readers take three-component JPEG data for YCbCr unless told otherwise.
    if (document.photometric == PHOTOMETRIC_RGB)
        plan.filterLines += "/DecodeParms << /ColorTransform 0 >>\r";
    plan.colourSpace = grey ? "/ColorSpace /DeviceGray\r" : "/ColorSpace /DeviceRGB\r";
    plan.compact = CompactImage{CompactSource::JpegData,
                                std::make_shared<const std::vector<uint8_t>>(std::move(*joined))};
    return true;
}

bool isRecodableBilevel(const TiffDocument& document) {
    switch (document.compression) {
        case COMPRESSION_NONE:
        case kCompressionPackBits:
        case COMPRESSION_LZW:
        case kCompressionDeflate:
        case kCompressionAdobeDeflate:
            break;
        default:
            return false;
    }
    const bool polarity = document.photometric == PHOTOMETRIC_MINISWHITE ||
                          document.photometric == PHOTOMETRIC_MINISBLACK;
    return polarity && document.bitsPerSample <= 1 && plainSamples(document, 1);
}

bool planGroup4(const TiffDocument& document, ImagePlan& plan) {
    if (!isRecodableBilevel(document))
        return false;
    plan.filterLines = "/Filter /CCITTFaxDecode\r/DecodeParms << /K -1 /Columns " +
                       std::to_string(document.imageWidth) + " /Rows " +
                       std::to_string(document.imageLength) + " >>\r";
    plan.colourSpace = "/ColorSpace /DeviceGray\r";
    plan.compact = CompactImage{CompactSource::Group4, nullptr};
    return true;
}

// Reads the page row by row into the encoder; a row that fails to decode
// keeps what the buffer held, as on the other routes.
void writeGroup4(TiffDocument& document, SampleSink& sink, const std::atomic<bool>* cancel) {
    TIFF* tiff = document.tiff.get();
    const BitmapPolarity polarity = document.photometric == PHOTOMETRIC_MINISBLACK
                                        ? BitmapPolarity::ZeroIsBlack
                                        : BitmapPolarity::ZeroIsWhite;
    CcittEncoder encoder(document.imageWidth, document.imageLength, CcittGroup::Group4, polarity);
    const auto rowBytes = static_cast<std::size_t>((uint64_t{document.imageWidth} + 7) / 8);
    const tmsize_t scanline = TIFFScanlineSize64(tiff) > 0 ? TIFFScanlineSize(tiff) : 0;
    std::vector<uint8_t> row(std::max(rowBytes, static_cast<std::size_t>(scanline)), 0);
    for (uint32_t y = 0; y < document.imageLength; ++y) {
        throwIfCancelled(cancel);
        TIFFReadScanline(tiff, row.data(), y, 0);
        encoder.addRow(row.data());
    }
    const std::vector<uint8_t> data = encoder.finish();
    sink.append(data.data(), data.size());
}

}  // namespace

bool planCompactImage(const TiffDocument& document, ImagePlan& plan) {
    if (effectiveCompression(document) != document.compression)
        return false;  // data the table does not trust
    plan.effectiveCompression = document.compression;
    plan.bitsPerComponent = document.compression == COMPRESSION_JPEG ? 8 : 1;
    plan.encoding = StreamEncoding::Raw;
    if (document.compression == COMPRESSION_JPEG)
        return planJpeg(document, plan);
    return planGroup4(document, plan);
}

void writeCompactSamples(TiffDocument& document, const CompactImage& image, SampleSink& sink,
                         const std::atomic<bool>* cancel) {
    if (image.source == CompactSource::JpegData) {
        sink.append(image.jpeg->data(), image.jpeg->size());
        return;
    }
    writeGroup4(document, sink, cancel);
}

}  // namespace quorvex
