#include "engine/pdf/ImageXObject.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/EngineError.h"
#include "engine/pdf/PdfSink.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {
namespace {

constexpr uint16_t kCompressionPackBits = 32773;
constexpr uint16_t kCompressionDeflate = 32946;
constexpr uint16_t kCompressionAdobeDeflate = 8;
constexpr uint16_t kCompressionOldJpeg = 6;
constexpr uint32_t kTagWangPageControl = 32934;
// Software tag of a writer known to store Group 4 data that readers reject.
constexpr const char* kUntrustedFaxWriter = "Oi/GFS, writer v00.06.02";

// Grey levels of the page's samples; pages of more than 16 bits never reach
// the tables that use this.
uint64_t levelsOf(const TiffDocument& document) {
    if (document.bitsPerSample > 16)
        return uint64_t{1} << 16;
    return uint64_t{1} << document.bitsPerSample;
}

bool isGreyMultibit(const TiffDocument& document) {
    return document.photometric == PHOTOMETRIC_MINISBLACK && levelsOf(document) > 2;
}

bool hasExtraSamples(TIFF* tiff) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    return TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count >= 1;
}

std::string format(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

void planFax(const TiffDocument& document, uint16_t compression, ImagePlan& plan) {
    const long width = static_cast<long>(document.imageWidth);
    const long height = static_cast<long>(document.imageLength);
    if (compression == COMPRESSION_CCITTFAX3) {
        uint32_t options = 0;
        TIFFGetField(document.tiff.get(), TIFFTAG_GROUP3OPTIONS, &options);
        const int k = (options & GROUP3OPT_2DENCODING) != 0 ? 1 : 0;
        plan.filterLines =
            "/Filter /CCITTFaxDecode\r" +
            format("/DecodeParms << /K %i /Columns %ld /Rows %ld >>\r", k, width, height);
    } else {
        plan.filterLines =
            "/Filter /CCITTFaxDecode\r" +
            format("/DecodeParms << /K %i /Columns %ld /Rows %ld %s>>\r", -1, width, height, "");
    }
    plan.bitsPerComponent = 1;
    plan.route = SampleRoute::RawStrips;
    plan.encoding = StreamEncoding::Raw;
}

// Routes and bit depths by compression; everything but CCITT data is decoded
// and Flate-compressed.
void planFilter(const TiffDocument& document, ImagePlan& plan) {
    const uint16_t compression = plan.effectiveCompression;
    const bool greyMultibit = isGreyMultibit(document);
    const SampleRoute rowsOrStrips =
        greyMultibit ? SampleRoute::DecodedStrips : SampleRoute::Scanlines;
    plan.encoding = StreamEncoding::Flate;
    plan.filterLines = "/Filter /FlateDecode\r";

    if (compression == COMPRESSION_CCITTFAX3 ||
        (compression == COMPRESSION_CCITTFAX4 && document.bitsPerSample == 1)) {
        planFax(document, compression, plan);
        return;
    }
    switch (compression) {
        case COMPRESSION_CCITTFAX4: {
            const bool minIsWhite = document.photometric == PHOTOMETRIC_MINISWHITE;
            plan.filterLines = format("/Decode [ %i %i ] /Filter /FlateDecode\r",
                                      minIsWhite ? 1 : 0, minIsWhite ? 0 : 1);
            plan.bitsPerComponent = document.bitsPerSample == 0 ? 1 : 8;
            plan.route = SampleRoute::DecodedStrips;
            return;
        }
        case COMPRESSION_LZW:
            plan.bitsPerComponent = document.bitsPerSample;
            plan.route = hasExtraSamples(document.tiff.get()) && document.isFullColor
                             ? SampleRoute::Rgba
                             : SampleRoute::DecodedStrips;
            return;
        case kCompressionPackBits:
            if (document.bitsPerSample == 0 || document.bitsPerSample == 4) {
                plan.bitsPerComponent = document.bitsPerSample == 0 ? 1 : 4;
                plan.route = SampleRoute::DecodedStrips;
            } else {
                plan.bitsPerComponent = 8;
                plan.route = rowsOrStrips;
            }
            return;
        case COMPRESSION_JPEG:
        case kCompressionDeflate:
        case kCompressionAdobeDeflate:
        case COMPRESSION_NONE:
        case COMPRESSION_CCITTRLE:
            plan.bitsPerComponent = 8;
            plan.route = rowsOrStrips;
            return;
        default:
            // Never copy coded data under a filter that does not match it.
            plan.bitsPerComponent = 8;
            plan.route = SampleRoute::DecodedStrips;
            return;
    }
}

std::string colourSpaceOf(const TiffDocument& document) {
    if (document.photometric == PHOTOMETRIC_SEPARATED)
        return "/ColorSpace /DeviceCMYK\r";
    if (levelsOf(document) <= 2)
        return "/ColorSpace /DeviceGray\r";
    if (document.photometric == PHOTOMETRIC_RGB && document.isFullColor) {
        return "/ColorSpace /DeviceRGB\r";
    }
    return indexedColourSpace(document);
}

}  // namespace

uint16_t effectiveCompression(const TiffDocument& document) {
    TIFF* tiff = document.tiff.get();
    if (TIFFFindField(tiff, kTagWangPageControl, TIFF_ANY) != nullptr ||
        document.compression == kCompressionOldJpeg) {
        return kCompressionPackBits;
    }
    const char* software = nullptr;
    if (document.compression == COMPRESSION_CCITTFAX4 &&
        TIFFGetField(tiff, TIFFTAG_SOFTWARE, &software) && software != nullptr &&
        std::strcmp(software, kUntrustedFaxWriter) == 0) {
        return kCompressionPackBits;
    }
    return document.compression;
}

std::string indexedColourSpace(const TiffDocument& document) {
    std::vector<PaletteEntry> palette;
    if (!document.buildPalette(palette)) {
        throw EngineFailure(kImageObjectFailure, "the page's colour map is missing or too large");
    }
    std::string text =
        format("/ColorSpace [ /Indexed /DeviceRGB %i <\r\n", static_cast<int>(palette.size()) - 1);
    text.reserve(text.size() + palette.size() * 7 + palette.size() / 8 * 2 + 8);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        char entry[16];
        std::snprintf(entry, sizeof entry, "%02X%02X%02X ", palette[i].red & 0xFF,
                      palette[i].green & 0xFF, palette[i].blue & 0xFF);
        text += entry;
        if ((i + 1) % 8 == 0)
            text += "\r\n";
    }
    text += "> ]\r\n";
    return text;
}

namespace {

struct SampleLayout {
    uint16_t samplesPerPixel = 1;
    uint16_t extraSamples = 0;
    bool separatePlanes = false;
    bool tiled = false;
    bool unsignedIntegers = true;
};

SampleLayout sampleLayoutOf(const TiffDocument& document) {
    TIFF* tiff = document.tiff.get();
    SampleLayout layout;
    layout.samplesPerPixel = std::max<uint16_t>(document.samplesPerPixel, 1);
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds))
        layout.extraSamples = count;
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
    layout.separatePlanes = planar == PLANARCONFIG_SEPARATE && layout.samplesPerPixel > 1;
    layout.tiled = TIFFIsTiled(tiff) != 0;
    uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetField(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    layout.unsignedIntegers = format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID;
    return layout;
}

bool isPackedDepth(uint16_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8;
}

bool isMinIsWhiteOrBlack(uint16_t photometric) {
    return photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
}

// The scanline route expands one stored sample per pixel (or copies three
// bytes for colour) and draws it through a grey or palette colour space.
bool scanlinesAreFaithful(const TiffDocument& document, const ImagePlan& plan,
                          const SampleLayout& layout) {
    if (layout.extraSamples != 0)
        return false;
    if (document.photometric == PHOTOMETRIC_RGB || document.isFullColor) {
        return document.photometric == PHOTOMETRIC_RGB && layout.samplesPerPixel == 3 &&
               document.bitsPerSample == 8 && plan.colourSpace == "/ColorSpace /DeviceRGB\r";
    }
    if (layout.samplesPerPixel != 1 || !isPackedDepth(document.bitsPerSample))
        return false;
    if (document.photometric == PHOTOMETRIC_PALETTE)
        return document.bitsPerSample > 1;
    return isMinIsWhiteOrBlack(document.photometric);
}

// Decoded strips hold the packed samples as stored: right when the bit depth
// and the colour space's components match them.
bool decodedStripsAreFaithful(const TiffDocument& document, const ImagePlan& plan,
                              const SampleLayout& layout) {
    const uint16_t bits = document.bitsPerSample == 0 ? 1 : document.bitsPerSample;
    if (layout.extraSamples != 0 || !isPackedDepth(bits) || plan.bitsPerComponent != bits) {
        return false;
    }
    const std::string& space = plan.colourSpace;
    if (space == "/ColorSpace /DeviceGray\r") {
        if (layout.samplesPerPixel != 1)
            return false;
        if (document.photometric == PHOTOMETRIC_MINISBLACK)
            return true;
        return document.photometric == PHOTOMETRIC_MINISWHITE &&
               plan.filterLines.find("/Decode [ 1 0 ]") != std::string::npos;
    }
    if (space == "/ColorSpace /DeviceRGB\r") {
        return document.photometric == PHOTOMETRIC_RGB && layout.samplesPerPixel == 3;
    }
    if (space == "/ColorSpace /DeviceCMYK\r") {
        uint16_t inkSet = INKSET_CMYK;
        TIFFGetField(document.tiff.get(), TIFFTAG_INKSET, &inkSet);
        return layout.samplesPerPixel == 4 && inkSet == INKSET_CMYK;
    }
    return layout.samplesPerPixel == 1 && (isMinIsWhiteOrBlack(document.photometric) ||
                                           document.photometric == PHOTOMETRIC_PALETTE);
}

ImagePlan decodedPlan(const TiffDocument& document) {
    ImagePlan plan;
    plan.effectiveCompression = document.compression;
    plan.encoding = StreamEncoding::Flate;
    plan.decoded = decodedLayoutFor(document);
    if (plan.decoded) {
        plan.filterLines = decodedImageLines(*plan.decoded, document);
        plan.bitsPerComponent = plan.decoded->bitsPerComponent;
        return plan;
    }
    // Whatever else libtiff understands, through its RGBA reader.
    plan.filterLines = "/Filter /FlateDecode\r/ColorSpace /DeviceRGB\r";
    plan.bitsPerComponent = 8;
    plan.route = SampleRoute::Rgba;
    return plan;
}

// Pages whose sample format no other route draws: mapped by the engine.
ImagePlan mappedPlan(const TiffDocument& document, SampleFormatPlan mapped) {
    ImagePlan plan;
    plan.effectiveCompression = document.compression;
    plan.encoding = StreamEncoding::Flate;
    plan.filterLines = decodedImageLines(storedLayoutOf(mapped), document);
    plan.bitsPerComponent = mapped.outputBits;
    plan.mapped = std::move(mapped);
    return plan;
}

void refuseGiganticPage(const TiffDocument& document) {
    const uint64_t pixels = uint64_t{document.imageWidth} * document.imageLength;
    if (pixels == 0 || pixels > kMaxPagePixels) {
        throw EngineFailure(kImageObjectFailure, "page " +
                                                     std::to_string(document.getCurrentPage() + 1) +
                                                     " is " + std::to_string(document.imageWidth) +
                                                     " x " + std::to_string(document.imageLength) +
                                                     " pixels: not a page that can be converted");
    }
}

// CCITT coding knows one 1-bit sample per pixel; a page claiming more is
// damaged, and decoding it would only churn through memory.
void refuseImpossibleFax(const TiffDocument& document) {
    const bool ccitt = document.compression == COMPRESSION_CCITTRLE ||
                       document.compression == COMPRESSION_CCITTFAX3 ||
                       document.compression == COMPRESSION_CCITTFAX4;
    if (ccitt && (document.samplesPerPixel > 1 || document.bitsPerSample > 1)) {
        throw EngineFailure(kImageObjectFailure,
                            "page " + std::to_string(document.getCurrentPage() + 1) +
                                " is fax-coded but claims " +
                                std::to_string(document.samplesPerPixel) + " samples of " +
                                std::to_string(document.bitsPerSample) + " bits per pixel");
    }
}

}  // namespace

bool planIsFaithful(const TiffDocument& document, const ImagePlan& plan) {
    const SampleLayout layout = sampleLayoutOf(document);
    if (layout.tiled || layout.separatePlanes || !layout.unsignedIntegers)
        return false;
    switch (plan.route) {
        case SampleRoute::RawStrips:
            // Coded data copied as stored: one strip, drawn with 0 as black.
            return document.photometric == PHOTOMETRIC_MINISWHITE && layout.samplesPerPixel == 1 &&
                   document.bitsPerSample <= 1 && TIFFNumberOfStrips(document.tiff.get()) == 1;
        case SampleRoute::Rgba:
            return plan.bitsPerComponent == 8 && plan.colourSpace == "/ColorSpace /DeviceRGB\r";
        case SampleRoute::Scanlines:
            return scanlinesAreFaithful(document, plan, layout);
        case SampleRoute::DecodedStrips:
            return decodedStripsAreFaithful(document, plan, layout);
    }
    return false;
}

ImagePlan planImage(const TiffDocument& document) {
    refuseGiganticPage(document);
    if (std::optional<SampleFormatPlan> mapped = sampleFormatPlanFor(document))
        return mappedPlan(document, std::move(*mapped));
    ImagePlan plan;
    plan.effectiveCompression = effectiveCompression(document);
    planFilter(document, plan);
    // A page the tables would misdraw takes the lossless decoded path; the
    // colour space of the tables is only built when the plan stands.
    if (document.bitsPerSample > 8)
        return decodedPlan(document);
    plan.colourSpace = colourSpaceOf(document);
    if (!planIsFaithful(document, plan))
        return decodedPlan(document);
    return plan;
}

std::string imageDictionary(const TiffDocument& document, const ImagePlan& plan, uint64_t number) {
    PdfText out;
    out.write("<<\r");
    out.write("/Type /XObject\r");
    out.write("/Subtype /Image\r");
    out.print("/Name /Im%lu\r", static_cast<unsigned long>(document.getCurrentPage()));
    out.write(plan.filterLines);
    out.write(plan.colourSpace);
    out.print("/Width %lu\r", static_cast<unsigned long>(document.imageWidth));
    out.print("/Height %lu\r", static_cast<unsigned long>(document.imageLength));
    out.print("/BitsPerComponent %d\r", plan.bitsPerComponent);
    out.print("/Length %lu 0 R\r", static_cast<unsigned long>(number + 1));
    out.write(">>\r");
    out.write("stream\r\n");
    return out.text();
}

void writeImageSamples(TiffDocument& document, const ImagePlan& plan, SampleSink& sink,
                       const std::atomic<bool>* cancel) {
    if (plan.mapped) {
        writeMappedSamples(document, *plan.mapped, sink, cancel);
    } else if (plan.decoded) {
        writeDecodedPixels(document, *plan.decoded, sink, cancel);
    } else {
        writeSamples(plan.route, document, sink, cancel);
    }
}

}  // namespace quorvex
