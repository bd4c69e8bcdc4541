// Damaged copies of valid TIFF files: truncated, with corrupted directory
// fields, with broken directory chains and with random byte flips. Each must
// end as a clean failure (a message, nothing left in the folder) or as a PDF
// that qpdf accepts, within the time and memory limits, without a crash.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <random>

#include "hostile/DamageSuite.h"
#include "hostile/SampleCorpus.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using hostile::DamagedFile;
using hostile::DamageRun;
using hostile::TiffBytes;

constexpr int kTruncationsPerFile = 40;
constexpr int kRandomFlipCases = 300;
constexpr uint32_t kRandomSeed = 20240607;

// The base files, written once for the whole suite.
class MalformedInput : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<support::TempDir>("quorvex-hostile-base");
        for (const hostile::CorpusFile& file : hostile::baseCorpus()) {
            const fs::path path = hostile::writeCorpusFile(file, folder_->path());
            bases_.emplace(file.name, TiffBytes::load(path));
        }
    }
    static void TearDownTestSuite() {
        bases_.clear();
        folder_.reset();
    }

    void SetUp() override { ASSERT_GE(bases_.size(), 6U) << "base files missing"; }

    static std::unique_ptr<support::TempDir> folder_;
    static std::map<std::string, TiffBytes> bases_;

    support::TempDir work_{"quorvex-hostile"};
};

std::unique_ptr<support::TempDir> MalformedInput::folder_;
std::map<std::string, TiffBytes> MalformedInput::bases_;

// A PDF made from a damaged file must not claim more pages than the file had.
hostile::PdfCheck atMostPages(std::size_t pages) {
    return [pages](const DamagedFile&, const fs::path& pdf) -> std::string {
        const int count = support::pdfPageCount(pdf);
        if (count >= 1 && static_cast<std::size_t>(count) <= pages)
            return {};
        return "the PDF has " + std::to_string(count) + " pages, the file at most " +
               std::to_string(pages);
    };
}

TEST_F(MalformedInput, TruncatedFilesFailCleanlyOrConvert) {
    DamageRun run(work_.path());
    for (const auto& [name, base] : bases_) {
        // One-page files are cut with their directory in front, as scanners
        // write them, so that the cuts go through the image data.
        const TiffBytes file = base.directoryCount() == 1 ? base.withDirectoryFirst() : base;
        const std::size_t pages = file.directoryCount();
        for (int i = 0; i < kTruncationsPerFile; ++i) {
            const std::size_t size =
                file.size() * static_cast<std::size_t>(i) / kTruncationsPerFile;
            DamagedFile damaged{name + "/cut-at-" + std::to_string(size),
                                file.bytes().substr(0, size)};
            run.run(damaged, atMostPages(pages));
        }
    }
    EXPECT_TRUE(hostile::noProblems(run));
    std::cout << "[ summary  ] " << run.summary() << "\n";
}

// One change to one field of one directory.
struct FieldDamage {
    const char* name;
    std::function<void(TiffBytes&, std::size_t directory)> apply;
    uint16_t needsTag;  // the case is skipped when the directory lacks it
};

std::vector<FieldDamage> fieldDamages() {
    const auto setAll = [](uint16_t tag, uint32_t value) {
        return [tag, value](TiffBytes& file, std::size_t d) { file.setAll(d, tag, value); };
    };
    const uint32_t pastEnd = 0x00F00000;
    return {
        {"width-0", setAll(TIFFTAG_IMAGEWIDTH, 0), TIFFTAG_IMAGEWIDTH},
        {"height-0", setAll(TIFFTAG_IMAGELENGTH, 0), TIFFTAG_IMAGELENGTH},
        {"width-100000", setAll(TIFFTAG_IMAGEWIDTH, 100000), TIFFTAG_IMAGEWIDTH},
        {"height-100000", setAll(TIFFTAG_IMAGELENGTH, 100000), TIFFTAG_IMAGELENGTH},
        {"width-4e9", setAll(TIFFTAG_IMAGEWIDTH, 4000000000U), TIFFTAG_IMAGEWIDTH},
        {"height-4e9", setAll(TIFFTAG_IMAGELENGTH, 4000000000U), TIFFTAG_IMAGELENGTH},
        {"bits-0", setAll(TIFFTAG_BITSPERSAMPLE, 0), TIFFTAG_BITSPERSAMPLE},
        {"bits-3", setAll(TIFFTAG_BITSPERSAMPLE, 3), TIFFTAG_BITSPERSAMPLE},
        {"bits-12", setAll(TIFFTAG_BITSPERSAMPLE, 12), TIFFTAG_BITSPERSAMPLE},
        {"bits-32", setAll(TIFFTAG_BITSPERSAMPLE, 32), TIFFTAG_BITSPERSAMPLE},
        {"bits-64", setAll(TIFFTAG_BITSPERSAMPLE, 64), TIFFTAG_BITSPERSAMPLE},
        {"samples-0", setAll(TIFFTAG_SAMPLESPERPIXEL, 0), TIFFTAG_SAMPLESPERPIXEL},
        {"samples-2", setAll(TIFFTAG_SAMPLESPERPIXEL, 2), TIFFTAG_SAMPLESPERPIXEL},
        {"samples-300", setAll(TIFFTAG_SAMPLESPERPIXEL, 300), TIFFTAG_SAMPLESPERPIXEL},
        {"rows-per-strip-0", setAll(TIFFTAG_ROWSPERSTRIP, 0), TIFFTAG_ROWSPERSTRIP},
        {"rows-per-strip-1", setAll(TIFFTAG_ROWSPERSTRIP, 1), TIFFTAG_ROWSPERSTRIP},
        {"strip-offsets-past-end", setAll(TIFFTAG_STRIPOFFSETS, pastEnd), TIFFTAG_STRIPOFFSETS},
        {"strip-offsets-max", setAll(TIFFTAG_STRIPOFFSETS, 0xFFFFFFF0U), TIFFTAG_STRIPOFFSETS},
        {"strip-counts-huge", setAll(TIFFTAG_STRIPBYTECOUNTS, 0x7FFFFFFF), TIFFTAG_STRIPBYTECOUNTS},
        {"strip-counts-0", setAll(TIFFTAG_STRIPBYTECOUNTS, 0), TIFFTAG_STRIPBYTECOUNTS},
        {"strips-across-end",
         [](TiffBytes& file, std::size_t d) {
             file.setAll(d, TIFFTAG_STRIPOFFSETS, static_cast<uint32_t>(file.size() - 10));
             file.setAll(d, TIFFTAG_STRIPBYTECOUNTS, 5000);
         },
         TIFFTAG_STRIPOFFSETS},
        {"tile-offsets-past-end", setAll(TIFFTAG_TILEOFFSETS, pastEnd), TIFFTAG_TILEOFFSETS},
        {"tile-counts-huge", setAll(TIFFTAG_TILEBYTECOUNTS, 0x7FFFFFFF), TIFFTAG_TILEBYTECOUNTS},
        {"tile-width-0", setAll(TIFFTAG_TILEWIDTH, 0), TIFFTAG_TILEWIDTH},
        {"tile-length-4e9", setAll(TIFFTAG_TILELENGTH, 4000000000U), TIFFTAG_TILELENGTH},
        {"compression-unknown", setAll(TIFFTAG_COMPRESSION, 60000), TIFFTAG_COMPRESSION},
        {"compression-g4", setAll(TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4), TIFFTAG_COMPRESSION},
        {"compression-g3", setAll(TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3), TIFFTAG_COMPRESSION},
        {"compression-lzw", setAll(TIFFTAG_COMPRESSION, COMPRESSION_LZW), TIFFTAG_COMPRESSION},
        {"compression-jpeg", setAll(TIFFTAG_COMPRESSION, COMPRESSION_JPEG), TIFFTAG_COMPRESSION},
        {"compression-old-jpeg", setAll(TIFFTAG_COMPRESSION, COMPRESSION_OJPEG),
         TIFFTAG_COMPRESSION},
        {"compression-none", setAll(TIFFTAG_COMPRESSION, COMPRESSION_NONE), TIFFTAG_COMPRESSION},
        {"photometric-palette", setAll(TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE),
         TIFFTAG_PHOTOMETRIC},
        {"photometric-rgb", setAll(TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB), TIFFTAG_PHOTOMETRIC},
        {"photometric-ycbcr", setAll(TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR), TIFFTAG_PHOTOMETRIC},
        {"photometric-logluv", setAll(TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_LOGLUV),
         TIFFTAG_PHOTOMETRIC},
        {"photometric-999", setAll(TIFFTAG_PHOTOMETRIC, 999), TIFFTAG_PHOTOMETRIC},
        {"colour-map-hidden",
         [](TiffBytes& file, std::size_t d) { file.retag(d, TIFFTAG_COLORMAP, 65000); },
         TIFFTAG_COLORMAP},
        {"planar-separate", setAll(TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE),
         TIFFTAG_PLANARCONFIG},
        {"planar-0", setAll(TIFFTAG_PLANARCONFIG, 0), TIFFTAG_PLANARCONFIG},
        {"orientation-9", setAll(TIFFTAG_ORIENTATION, 9), TIFFTAG_ORIENTATION},
        {"fill-order-2", setAll(TIFFTAG_FILLORDER, FILLORDER_LSB2MSB), TIFFTAG_FILLORDER},
        {"extra-samples-7", setAll(TIFFTAG_EXTRASAMPLES, 7), TIFFTAG_EXTRASAMPLES},
        {"resolution-0-over-0",
         [](TiffBytes& file, std::size_t d) { file.setRational(d, TIFFTAG_XRESOLUTION, 0, 0); },
         TIFFTAG_XRESOLUTION},
        {"resolution-tiny",
         [](TiffBytes& file, std::size_t d) {
             file.setRational(d, TIFFTAG_XRESOLUTION, 1, 0xFFFFFFFF);
             file.setRational(d, TIFFTAG_YRESOLUTION, 1, 0xFFFFFFFF);
         },
         TIFFTAG_XRESOLUTION},
        {"resolution-smallest-float",
         [](TiffBytes& file, std::size_t d) {
             file.setInline(d, TIFFTAG_XRESOLUTION, TIFF_FLOAT, 1);  // 1.4e-45
             file.setInline(d, TIFFTAG_YRESOLUTION, TIFF_FLOAT, 1);
         },
         TIFFTAG_XRESOLUTION},
        {"resolution-nan",
         [](TiffBytes& file, std::size_t d) {
             file.setInline(d, TIFFTAG_XRESOLUTION, TIFF_FLOAT, 0x7FC00000);
             file.setInline(d, TIFFTAG_YRESOLUTION, TIFF_FLOAT, 0xFF800000);  // -inf
         },
         TIFFTAG_XRESOLUTION},
        {"resolution-huge",
         [](TiffBytes& file, std::size_t d) {
             file.setRational(d, TIFFTAG_XRESOLUTION, 0xFFFFFFFF, 1);
             file.setRational(d, TIFFTAG_YRESOLUTION, 0xFFFFFFFF, 1);
         },
         TIFFTAG_XRESOLUTION},
    };
}

TEST_F(MalformedInput, CorruptedFieldsFailCleanlyOrConvert) {
    DamageRun run(work_.path());
    const std::vector<FieldDamage> damages = fieldDamages();
    for (const auto& [name, base] : bases_) {
        std::vector<std::size_t> directories = {0};
        if (base.directoryCount() > 1)
            directories.push_back(base.directoryCount() - 1);
        for (const std::size_t d : directories) {
            for (const FieldDamage& damage : damages) {
                if (!base.has(d, damage.needsTag))
                    continue;
                TiffBytes damaged = base;
                damage.apply(damaged, d);
                run.run(
                    {name + "/page-" + std::to_string(d + 1) + "/" + damage.name, damaged.bytes()},
                    atMostPages(base.directoryCount()));
            }
        }
    }
    EXPECT_TRUE(hostile::noProblems(run));
    std::cout << "[ summary  ] " << run.summary() << "\n";
}

TEST_F(MalformedInput, PalettePageWithoutColourMapIsRefusedOrShownInGrey) {
    DamageRun run(work_.path());
    for (const auto& [name, base] : bases_) {
        if (!base.has(0, TIFFTAG_COLORMAP))
            continue;
        TiffBytes damaged = base;
        damaged.retag(0, TIFFTAG_COLORMAP, 65000);
        run.run({name + "/colour-map-hidden", damaged.bytes()});
    }
    ASSERT_GE(run.cases(), 1U) << "no palette file among the base files";
    EXPECT_TRUE(hostile::noProblems(run));
}

// Directory chains that loop, lead out of the file or to a directory libtiff
// cannot read: the pages before the damage may convert, nothing may hang.
TEST_F(MalformedInput, BrokenDirectoryChainsEndCleanly) {
    DamageRun run(work_.path());
    for (const auto& [name, base] : bases_) {
        const std::size_t last = base.directoryCount() - 1;
        const auto damage = [&](const std::string& what, auto apply) {
            TiffBytes damaged = base;
            apply(damaged);
            run.run({name + "/" + what, damaged.bytes()}, atMostPages(base.directoryCount()));
        };
        damage("last-links-to-itself",
               [&](TiffBytes& f) { f.setNextDirectory(last, f.directoryOffset(last)); });
        damage("last-links-to-first",
               [&](TiffBytes& f) { f.setNextDirectory(last, f.directoryOffset(0)); });
        damage("first-links-past-end",
               [&](TiffBytes& f) { f.setNextDirectory(0, static_cast<uint32_t>(f.size() + 100)); });
        damage("first-links-into-image-data", [&](TiffBytes& f) { f.setNextDirectory(0, 8); });
        damage("first-links-to-odd-offset", [&](TiffBytes& f) {
            f.setNextDirectory(0, static_cast<uint32_t>(f.size() / 2 | 1));
        });
        damage("first-directory-empty", [&](TiffBytes& f) { f.setEntryCount(0, 0); });
        if (last == 0)
            continue;
        damage("second-links-to-first",
               [&](TiffBytes& f) { f.setNextDirectory(1, f.directoryOffset(0)); });
        damage("second-directory-empty", [&](TiffBytes& f) { f.setEntryCount(1, 0); });
        damage("second-directory-65535-entries", [&](TiffBytes& f) { f.setEntryCount(1, 0xFFFF); });
        damage("second-directory-without-width",
               [&](TiffBytes& f) { f.retag(1, TIFFTAG_IMAGEWIDTH, 65000); });
        damage("second-page-strips-past-end", [&](TiffBytes& f) {
            f.setAll(1, f.has(1, TIFFTAG_STRIPOFFSETS) ? TIFFTAG_STRIPOFFSETS : TIFFTAG_TILEOFFSETS,
                     0x00F00000);
        });
        damage("second-page-unknown-compression",
               [&](TiffBytes& f) { f.setAll(1, TIFFTAG_COMPRESSION, 60000); });
    }
    EXPECT_TRUE(hostile::noProblems(run));
    std::cout << "[ summary  ] " << run.summary() << "\n";
}

TEST_F(MalformedInput, RandomByteFlipsFailCleanlyOrConvert) {
    DamageRun run(work_.path());
    std::mt19937 random(kRandomSeed);
    std::vector<const std::pair<const std::string, TiffBytes>*> files;
    for (const auto& entry : bases_)
        files.push_back(&entry);

    for (int i = 0; i < kRandomFlipCases; ++i) {
        const auto& [name, base] = *files[static_cast<std::size_t>(i) % files.size()];
        TiffBytes damaged = base;
        // Half the cases aim at a directory and the values after it, where a
        // flip changes what the file claims rather than just a pixel.
        const bool aimAtDirectory = i % 2 == 0;
        const std::size_t directory = random() % base.directoryCount();
        const std::size_t from = aimAtDirectory ? base.directoryOffset(directory) : 0;
        const std::size_t span =
            aimAtDirectory ? std::min<std::size_t>(base.size() - from, 256) : base.size();
        const int flips = 1 + static_cast<int>(random() % 4);
        std::string what;
        for (int f = 0; f < flips; ++f) {
            const std::size_t at = from + random() % span;
            const auto mask = static_cast<uint8_t>(1 + random() % 255);
            damaged.xorByte(at, mask);
            what += "-" + std::to_string(at) + "^" + std::to_string(mask);
        }
        run.run({name + "/flip" + what, damaged.bytes()}, atMostPages(base.directoryCount()));
    }
    EXPECT_TRUE(hostile::noProblems(run));
    std::cout << "[ summary  ] " << run.summary() << "\n";
}

}  // namespace
