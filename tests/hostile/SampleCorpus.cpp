#include "hostile/SampleCorpus.h"

#include <algorithm>

namespace hostile {
namespace {

using fixtures::PageRecipe;

PageRecipe fax(uint16_t compression, uint32_t rowsPerStrip = fixtures::kWholePage) {
    return {.width = 203,
            .height = 61,
            .compression = compression,
            .photometric = PHOTOMETRIC_MINISWHITE,
            .bitsPerSample = 1,
            .rowsPerStrip = rowsPerStrip,
            .xResolution = 204.0f,
            .yResolution = 196.0f};
}

PageRecipe grey(uint16_t compression, uint16_t bits, uint32_t rowsPerStrip = 8) {
    return {.width = 37,
            .height = 29,
            .compression = compression,
            .photometric = PHOTOMETRIC_MINISBLACK,
            .bitsPerSample = bits,
            .rowsPerStrip = rowsPerStrip};
}

PageRecipe rgb(uint16_t compression, uint32_t rowsPerStrip = 8) {
    return {.width = 33,
            .height = 21,
            .compression = compression,
            .photometric = PHOTOMETRIC_RGB,
            .bitsPerSample = 8,
            .rowsPerStrip = rowsPerStrip};
}

PageRecipe palette(uint16_t compression, uint16_t bits) {
    return {.width = 31,
            .height = 17,
            .compression = compression,
            .photometric = PHOTOMETRIC_PALETTE,
            .bitsPerSample = bits,
            .rowsPerStrip = 6};
}

template <typename Change>
PageRecipe with(PageRecipe page, Change change) {
    change(page);
    return page;
}

std::vector<PageRecipe> pagesOf(PageRecipe page, uint32_t count) {
    std::vector<PageRecipe> pages;
    for (uint32_t i = 0; i < count; ++i) {
        page.variant = i;
        pages.push_back(page);
    }
    return pages;
}

std::vector<CorpusFile> allFiles() {
    std::vector<CorpusFile> files = {
        // Fax pages: raw strips, Group 3 1-D and 2-D, FillOrder 2, several
        // strips (rewritten through a temporary file), several pages.
        {"g4-one-strip.tif", {fax(COMPRESSION_CCITTFAX4)}, {}},
        {"g4-multi-strip-3-pages.tif", pagesOf(fax(COMPRESSION_CCITTFAX4, 16), 3), {}},
        {"g3-1d.tif", {fax(COMPRESSION_CCITTFAX3)}, {}},
        {"g3-2d-fillorder2.tif",
         {with(fax(COMPRESSION_CCITTFAX3),
               [](PageRecipe& p) {
                   p.group3Options = GROUP3OPT_2DENCODING;
                   p.fillOrder = FILLORDER_LSB2MSB;
               })},
         {}},
        {"g3-multi-strip.tif", {fax(COMPRESSION_CCITTFAX3, 20)}, {}},
        {"ccitt-rle.tif", {fax(COMPRESSION_CCITTRLE)}, {}},
        {"g4-untrusted-writer.tif",
         {with(fax(COMPRESSION_CCITTFAX4),
               [](PageRecipe& p) { p.software = "Oi/GFS, writer v00.06.02"; })},
         {}},
        {"g4-wang-tag.tif",
         {with(fax(COMPRESSION_CCITTFAX4),
               [](PageRecipe& p) {
                   p.extraTags = {{.tag = 32934, .type = TIFF_LONG, .values = {1}}};
               })},
         {}},
        {"g4-big-endian.tif", {fax(COMPRESSION_CCITTFAX4, 30)}, {.bigEndian = true}},

        // Bilevel and grey pages.
        {"bilevel-none-miniswhite.tif",
         {with(grey(COMPRESSION_NONE, 1),
               [](PageRecipe& p) {
                   p.photometric = PHOTOMETRIC_MINISWHITE;
                   p.width = 45;
               })},
         {}},
        {"bilevel-packbits.tif", {grey(COMPRESSION_PACKBITS, 1)}, {}},
        {"grey2-none.tif", {grey(COMPRESSION_NONE, 2)}, {}},
        {"grey4-packbits.tif", {grey(COMPRESSION_PACKBITS, 4)}, {}},
        {"grey8-lzw.tif", {grey(COMPRESSION_LZW, 8)}, {}},
        {"grey8-deflate-predictor.tif",
         {with(grey(COMPRESSION_ADOBE_DEFLATE, 8),
               [](PageRecipe& p) { p.predictor = PREDICTOR_HORIZONTAL; })},
         {}},
        {"grey8-old-deflate.tif", {grey(COMPRESSION_DEFLATE, 8)}, {}},
        {"grey8-jpeg.tif", {grey(COMPRESSION_JPEG, 8, 16)}, {}},
        {"grey16-none.tif", {grey(COMPRESSION_NONE, 16)}, {}},
        {"grey16-lzw.tif", {grey(COMPRESSION_LZW, 16)}, {}},
        {"grey8-no-rowsperstrip.tif",
         {with(grey(COMPRESSION_NONE, 8), [](PageRecipe& p) { p.rowsPerStrip = std::nullopt; })},
         {}},

        // Palette pages.
        {"palette1-none.tif", {palette(COMPRESSION_NONE, 1)}, {}},
        {"palette2-none.tif", {palette(COMPRESSION_NONE, 2)}, {}},
        {"palette4-lzw.tif", {palette(COMPRESSION_LZW, 4)}, {}},
        {"palette8-packbits.tif", {palette(COMPRESSION_PACKBITS, 8)}, {}},
        {"palette8-8bit-map.tif",
         {with(palette(COMPRESSION_NONE, 8),
               [](PageRecipe& p) { p.colorMapMode = fixtures::ColorMapMode::Auto8Bit; })},
         {}},

        // Colour pages.
        {"rgb-none.tif", {rgb(COMPRESSION_NONE)}, {}},
        {"rgb-lzw-predictor.tif",
         {with(rgb(COMPRESSION_LZW), [](PageRecipe& p) { p.predictor = PREDICTOR_HORIZONTAL; })},
         {}},
        {"rgb-packbits.tif", {rgb(COMPRESSION_PACKBITS)}, {}},
        {"rgb-deflate.tif", {rgb(COMPRESSION_ADOBE_DEFLATE)}, {}},
        {"rgb-jpeg.tif", {rgb(COMPRESSION_JPEG, 16)}, {}},
        {"rgba-lzw.tif",
         {with(rgb(COMPRESSION_LZW),
               [](PageRecipe& p) {
                   p.extraSamples = {EXTRASAMPLE_UNASSALPHA};
                   p.alphaFill = fixtures::AlphaFill::Varying;
               })},
         {}},
        {"rgb16-none.tif",
         {with(rgb(COMPRESSION_NONE), [](PageRecipe& p) { p.bitsPerSample = 16; })},
         {}},
        {"rgb-planar-separate.tif",
         {with(rgb(COMPRESSION_LZW),
               [](PageRecipe& p) { p.planarConfig = PLANARCONFIG_SEPARATE; })},
         {}},
        {"rgb-tiled-lzw.tif",
         {with(rgb(COMPRESSION_LZW),
               [](PageRecipe& p) {
                   p.width = 40;
                   p.height = 36;
                   p.tiles = fixtures::TileSize{16, 16};
               })},
         {}},
        {"grey-tiled-deflate.tif",
         {with(grey(COMPRESSION_ADOBE_DEFLATE, 8),
               [](PageRecipe& p) {
                   p.tiles = fixtures::TileSize{16, 16};
               })},
         {}},
        {"ycbcr-jpeg.tif",
         {with(rgb(COMPRESSION_JPEG, 16),
               [](PageRecipe& p) {
                   p.photometric = PHOTOMETRIC_YCBCR;
                   p.width = 32;
                   p.height = 32;
               })},
         {}},
        {"cmyk-none.tif",
         {with(rgb(COMPRESSION_NONE),
               [](PageRecipe& p) { p.photometric = PHOTOMETRIC_SEPARATED; })},
         {}},
        {"cielab-none.tif",
         {with(rgb(COMPRESSION_NONE), [](PageRecipe& p) { p.photometric = PHOTOMETRIC_CIELAB; })},
         {}},
        {"logluv-sgilog.tif",
         {with(rgb(COMPRESSION_SGILOG),
               [](PageRecipe& p) {
                   p.photometric = PHOTOMETRIC_LOGLUV;
                   p.bitsPerSample = 16;
                   p.sgilogDataFormat = SGILOGDATAFMT_16BIT;
               })},
         {}},
        {"rgb-oriented-6.tif",
         {with(rgb(COMPRESSION_NONE), [](PageRecipe& p) { p.orientation = ORIENTATION_RIGHTTOP; })},
         {}},
        {"rgb-bigtiff.tif", {rgb(COMPRESSION_LZW)}, {.bigTiff = true}},
        {"rgb-lzma.tif", {rgb(COMPRESSION_LZMA)}, {}},
        {"rgb-zstd.tif", {rgb(COMPRESSION_ZSTD)}, {}},
        {"rgb-webp.tif", {rgb(COMPRESSION_WEBP)}, {}},

        // Several pages of different kinds in one file.
        {"mixed-4-pages.tif",
         {fax(COMPRESSION_CCITTFAX4), grey(COMPRESSION_LZW, 8), palette(COMPRESSION_NONE, 4),
          rgb(COMPRESSION_ADOBE_DEFLATE)},
         {}},
        {"grey-5-pages.tif", pagesOf(grey(COMPRESSION_PACKBITS, 8), 5), {}},
    };
    return files;
}

bool encodable(const CorpusFile& file) {
    return std::all_of(file.pages.begin(), file.pages.end(), [](const PageRecipe& page) {
        return fixtures::canEncode(page.compression);
    });
}

}  // namespace

std::vector<CorpusFile> sampleCorpus() {
    std::vector<CorpusFile> files = allFiles();
    std::erase_if(files, [](const CorpusFile& file) { return !encodable(file); });
    return files;
}

std::vector<CorpusFile> baseCorpus() {
    static const char* const kBaseNames[] = {
        "g4-one-strip.tif",  "g4-multi-strip-3-pages.tif",
        "grey8-lzw.tif",     "bilevel-none-miniswhite.tif",
        "palette4-lzw.tif",  "rgba-lzw.tif",
        "rgb-tiled-lzw.tif", "mixed-4-pages.tif",
    };
    std::vector<CorpusFile> base;
    const std::vector<CorpusFile> all = sampleCorpus();
    for (const char* name : kBaseNames) {
        const auto found = std::find_if(all.begin(), all.end(),
                                        [&](const CorpusFile& file) { return file.name == name; });
        if (found != all.end())
            base.push_back(*found);
    }
    return base;
}

std::filesystem::path writeCorpusFile(const CorpusFile& file, const std::filesystem::path& folder) {
    const std::filesystem::path path = folder / file.name;
    fixtures::writeTiff(path, file.pages, file.options);
    return path;
}

}  // namespace hostile
