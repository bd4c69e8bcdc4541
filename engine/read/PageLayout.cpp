#include "engine/read/PageLayout.h"

#include <algorithm>
#include <cstring>

namespace quorvex {
namespace {

// Tag 32934, which libtiff registers for a page that carries it and for
// old-style JPEG pages.
constexpr uint32_t kTagWangPageControl = 32934;
// Software tag of a writer known to store Group 4 data that readers reject.
constexpr const char* kUntrustedFaxWriter = "Oi/GFS, writer v00.06.02";

bool isUntrusted(TIFF* tiff, const PageLayout& page) {
    if (TIFFFindField(tiff, kTagWangPageControl, TIFF_ANY) != nullptr ||
        page.compression == COMPRESSION_OJPEG) {
        return true;
    }
    const char* software = nullptr;
    return page.compression == COMPRESSION_CCITTFAX4 &&
           TIFFGetField(tiff, TIFFTAG_SOFTWARE, &software) && software != nullptr &&
           std::strcmp(software, kUntrustedFaxWriter) == 0;
}

void readStorage(TIFF* tiff, PageLayout& page) {
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
    page.separatePlanes = planar == PLANARCONFIG_SEPARATE && page.samplesPerPixel > 1;
    page.tiled = TIFFIsTiled(tiff) != 0;
    if (page.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &page.tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &page.tileLength);
    }
    TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &page.rowsPerStrip);
    page.strips = page.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &page.fillOrder);
    TIFFGetField(tiff, TIFFTAG_GROUP3OPTIONS, &page.group3Options);
    TIFFGetField(tiff, TIFFTAG_INKSET, &page.inkSet);
}

void readSamples(TIFF* tiff, PageLayout& page) {
    uint16_t samples = 0;
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    page.samplesPerPixel = std::max<uint16_t>(samples, 1);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &page.bitsPerSample);
    TIFFGetField(tiff, TIFFTAG_SAMPLEFORMAT, &page.sampleFormat);
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) && kinds != nullptr)
        page.extraSamples.assign(kinds, kinds + count);
    // A page without Photometric is read the way libtiff's own reader reads
    // it: one colour sample is grey with 0 as black, three or more are RGB.
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &page.photometric)) {
        page.photometricMissing = true;
        page.photometric = page.colourSamples() >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
}

// libtiff hands out the lowest minimum and the highest maximum unless asked
// for each sample's.
void readSampleLimits(TIFF* tiff, PageLayout& page) {
    TIFFSetField(tiff, TIFFTAG_PERSAMPLE, PERSAMPLE_MULTI);
    double* low = nullptr;
    double* high = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_SMINSAMPLEVALUE, &low) &&
        TIFFGetField(tiff, TIFFTAG_SMAXSAMPLEVALUE, &high) && low != nullptr && high != nullptr) {
        page.sampleMin.assign(low, low + page.samplesPerPixel);
        page.sampleMax.assign(high, high + page.samplesPerPixel);
    }
    TIFFSetField(tiff, TIFFTAG_PERSAMPLE, PERSAMPLE_MERGED);
    if (page.photometric == PHOTOMETRIC_YCBCR) {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_YCBCRSUBSAMPLING, &page.ycbcrHorizontal,
                              &page.ycbcrVertical);
    }
}

void readPlacement(TIFF* tiff, PageLayout& page) {
    TIFFGetField(tiff, TIFFTAG_ORIENTATION, &page.orientation);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &page.xResolution);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &page.yResolution);
    TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &page.resolutionUnit);
}

// libtiff gives a colour map 1 << BitsPerSample entries a channel; maps of
// deeper samples than 16 bits are not read at all.
void readColourMap(TIFF* tiff, PageLayout& page) {
    constexpr uint16_t kMaxMapBits = 16;
    uint16_t bits = 0;  // libtiff's own, 1 when the tag is absent
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    if (page.photometric != PHOTOMETRIC_PALETTE || bits == 0 || bits > kMaxMapBits)
        return;
    uint16_t* stored[3] = {};
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &stored[0], &stored[1], &stored[2]) ||
        stored[0] == nullptr || stored[1] == nullptr || stored[2] == nullptr) {
        return;
    }
    const std::size_t entries = std::size_t{1} << bits;
    auto map = std::make_shared<StoredColourMap>();
    for (int c = 0; c < 3; ++c)
        map->channels[c].assign(stored[c], stored[c] + entries);
    page.colourMap = std::move(map);
}

}  // namespace

uint16_t PageLayout::colourSamples() const {
    const int colour = static_cast<int>(samplesPerPixel) - static_cast<int>(extraSamples.size());
    return static_cast<uint16_t>(std::max(colour, 1));
}

bool PageLayout::isFullColor() const {
    return (bitsPerSample >= 8 && photometric == PHOTOMETRIC_RGB) ||
           photometric == PHOTOMETRIC_YCBCR || photometric == PHOTOMETRIC_SEPARATED ||
           photometric == PHOTOMETRIC_LOGLUV;
}

int PageLayout::alphaSample() const {
    for (std::size_t i = 0; i < extraSamples.size(); ++i) {
        if (extraSamples[i] == EXTRASAMPLE_ASSOCALPHA ||
            extraSamples[i] == EXTRASAMPLE_UNASSALPHA) {
            const int index = static_cast<int>(samplesPerPixel - extraSamples.size() + i);
            return index >= 1 ? index : -1;
        }
    }
    return -1;
}

bool PageLayout::alphaIsAssociated() const {
    const int alpha = alphaSample();
    return alpha >= 0 &&
           extraSamples[static_cast<std::size_t>(alpha) -
                        (samplesPerPixel - extraSamples.size())] == EXTRASAMPLE_ASSOCALPHA;
}

PageLayout readPageLayout(TIFF* tiff) {
    PageLayout page;
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &page.compression);
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height);
    readSamples(tiff, page);
    readSampleLimits(tiff, page);
    readStorage(tiff, page);
    readPlacement(tiff, page);
    readColourMap(tiff, page);
    page.codedDataUntrusted = isUntrusted(tiff, page);
    return page;
}

}  // namespace quorvex
