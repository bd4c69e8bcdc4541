// The damage matrix. Damaged image data is never converted silently: each
// damaged case converts with a warning that names the page and the rows lost,
// or fails with a reason, and with strict mode fails and leaves no PDF. Rows
// are named as libtiff's own row-by-row reads lose them, and drawn as paper.
// Fax pages whose data libtiff decodes only with complaints are coded again,
// so that MuPDF and Poppler draw them as libtiff decodes them. Files libtiff
// cannot decode at all are refused before anything is written; what the file
// holds besides pages (reduced-resolution copies, masks) is left out and said.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "hostile/TiffPatch.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using fixtures::PageRecipe;
using hostile::TiffBytes;

// What a case ends in: a PDF with a warning, no PDF, or a PDF of every page
// with no warning at all.
enum class Verdict { Damaged, Refused, Whole };

// Where the rows a damaged case must name come from, besides its text.
enum class LostRows {
    AsWritten,         // `warning` says them
    FailingScanlines,  // the rows libtiff's TIFFReadScanline cannot read
    NamedFaxLines,     // the lines libtiff's fax decoder names in its messages
};

struct DamageCase {
    std::string name;
    std::vector<PageRecipe> pages;
    std::function<void(TiffBytes&)> damage;
    // Damaged: the text the first warning starts with ("page 2", "the file
    // ends after page 1"); Refused: text the failure's detail holds; Whole:
    // text a note holds (empty: no note).
    std::string warning;
    bool fax = false;  // rendered by MuPDF and Poppler against libtiff's decode
    int faxPage = 0;   // the page rendered
    Verdict verdict = Verdict::Damaged;
    LostRows lostRows = LostRows::AsWritten;
    int pdfPages = 0;       // pages the PDF must have; 0: not checked
    bool greyRows = false;  // an 8-bit grey page rendered against libtiff's row-by-row read
    std::optional<std::pair<int, int>> pageSize;  // the first page's size in points
};

void PrintTo(const DamageCase& damage, std::ostream* out) {
    *out << damage.name;
}

// Where strip or tile `index` of directory `directory` lies.
std::pair<uint32_t, uint32_t> pieceOf(const TiffBytes& file, std::size_t directory,
                                      std::size_t index, bool tiled = false) {
    const auto offsets = file.values(directory, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS);
    const auto counts =
        file.values(directory, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS);
    return {offsets.at(index), counts.at(index)};
}

// Flips the bits of `count` bytes spread over the middle of a strip.
std::function<void(TiffBytes&)> flipMiddle(std::size_t directory, std::size_t count) {
    return [=](TiffBytes& file) {
        const auto [offset, length] = pieceOf(file, directory, 0);
        for (std::size_t i = 0; i < count; ++i)
            file.xorByte(offset + length / 3 + i * (length / 3) / count, 0xFF);
    };
}

// Flips the bits of `count` bytes spread over the middle of strip `strip`.
std::function<void(TiffBytes&)> flipStrip(std::size_t directory, std::size_t strip,
                                          std::size_t count) {
    return [=](TiffBytes& file) {
        const auto [offset, length] = pieceOf(file, directory, strip);
        for (std::size_t i = 0; i < count; ++i)
            file.xorByte(offset + length / 3 + i * (length / 3) / count, 0xFF);
    };
}

// Gives the directory another compression number; its data stays as written.
std::function<void(TiffBytes&)> claimCompression(std::size_t directory, uint16_t compression) {
    return [=](TiffBytes& file) { file.setAll(directory, TIFFTAG_COMPRESSION, compression); };
}

// Claims fewer bytes for the strip than were written: its data ends early.
std::function<void(TiffBytes&)> cutStrip(std::size_t directory, std::size_t strip) {
    return [=](TiffBytes& file) {
        const auto entry = file.find(directory, TIFFTAG_STRIPBYTECOUNTS);
        file.setValue(*entry, static_cast<uint32_t>(strip),
                      pieceOf(file, directory, strip).second / 3);
    };
}

// Claims more bytes for the first strip than the whole file holds.
void claimPastTheEnd(TiffBytes& file) {
    const auto entry = file.find(0, TIFFTAG_STRIPBYTECOUNTS);
    file.setValue(*entry, 0, static_cast<uint32_t>(file.size() * 2));
}

PageRecipe page(uint16_t compression, uint16_t photometric = PHOTOMETRIC_MINISBLACK) {
    return {.width = 160, .height = 120, .compression = compression, .photometric = photometric};
}

PageRecipe fax(uint16_t compression) {
    return fixtures::faxPage(compression, 400, 150);
}

std::vector<DamageCase> damageCases() {
    PageRecipe striped = page(COMPRESSION_LZW);
    striped.rowsPerStrip = 30;
    PageRecipe tiled = page(COMPRESSION_ADOBE_DEFLATE);
    tiled.tiles = fixtures::TileSize{32, 32};
    PageRecipe group3TwoD = fax(COMPRESSION_CCITTFAX3);
    group3TwoD.group3Options = GROUP3OPT_2DENCODING;
    PageRecipe minIsBlack = fax(COMPRESSION_CCITTFAX4);
    minIsBlack.photometric = PHOTOMETRIC_MINISBLACK;
    const PageRecipe group4 = fax(COMPRESSION_CCITTFAX4);
    PageRecipe stripedGroup3 = fax(COMPRESSION_CCITTFAX3);
    stripedGroup3.rowsPerStrip = 40;
    return {
        {"LzwFlipped", {page(COMPRESSION_LZW)}, flipMiddle(0, 40), "page 1"},
        {"DeflateFlipped", {page(COMPRESSION_ADOBE_DEFLATE)}, flipMiddle(0, 40), "page 1"},
        {"PackBitsCutShort", {page(COMPRESSION_PACKBITS)}, cutStrip(0, 0), "page 1"},
        {"JpegFlipped", {page(COMPRESSION_JPEG, PHOTOMETRIC_RGB)}, flipMiddle(0, 40), "page 1"},
        {"Group4Flipped", {fax(COMPRESSION_CCITTFAX4)}, flipMiddle(0, 6), "page 1", true},
        {"Group4TooFewRows", {fax(COMPRESSION_CCITTFAX4)}, cutStrip(0, 0), "page 1", true},
        {"Group3Flipped", {fax(COMPRESSION_CCITTFAX3)}, flipMiddle(0, 6), "page 1", true},
        {"Group3TwoDCutShort", {group3TwoD}, cutStrip(0, 0), "page 1", true},
        {"Group4MinIsBlackFlipped", {minIsBlack}, flipMiddle(0, 6), "page 1", true},
        {"Group4StripPastTheEnd", {group4}, claimPastTheEnd, "page 1"},
        {"StripedGroup3Flipped", {stripedGroup3}, flipMiddle(0, 6), "page 1", true},
        // The fax page is checked on a worker, the LZW page on the reading
        // thread: the warnings still come in page order.
        {"LzwAfterFaxBothFlipped",
         {group4, page(COMPRESSION_LZW)},
         [](TiffBytes& file) {
             flipMiddle(0, 6)(file);
             flipMiddle(1, 40)(file);
         },
         "page 1"},
        {"MiddleFaxOfThreeFlipped", {group4, group4, group4}, flipMiddle(1, 6), "page 2", true, 1},
        {"SecondPageStripCutShort", {page(COMPRESSION_NONE), striped}, cutStrip(1, 2), "page 2"},
        {"TileMissing",
         {tiled},
         [](TiffBytes& file) {
             const auto entry = file.find(0, TIFFTAG_TILEOFFSETS);
             file.setValue(*entry, 3, static_cast<uint32_t>(file.size() + 4096));
         },
         "page 1"},
        {"CutInsideTheDirectoryChain",
         {page(COMPRESSION_NONE), page(COMPRESSION_NONE), page(COMPRESSION_NONE)},
         [](TiffBytes& file) { file.truncate(file.directoryOffset(2) + 6); },
         "the file ends after page 2"},
        {"DirectoryPastTheEnd",
         {page(COMPRESSION_NONE), page(COMPRESSION_NONE)},
         [](TiffBytes& file) {
             file.setNextDirectory(0, static_cast<uint32_t>(file.size() + 1000));
         },
         "the file ends after page 1"},
    };
}

// A page of 8-bit grey in strips of 16 rows: strip 3 holds rows 49 to 64.
PageRecipe stripedGrey(uint16_t compression, uint16_t photometric = PHOTOMETRIC_MINISBLACK) {
    PageRecipe recipe = page(compression, photometric);
    recipe.rowsPerStrip = 16;
    return recipe;
}

// Every sample 0x80: PackBits codes each 160-byte row as two runs, 128 and
// 32 copies, so the strip's last two bytes are the header of a 32-copy run
// and its value.
PageRecipe flatPackBits() {
    PageRecipe recipe = stripedGrey(COMPRESSION_PACKBITS);
    recipe.samples.assign(std::size_t{160} * 120, 0x80);
    return recipe;
}

// Makes the last run of strip 3 claim 128 copies where 32 fit: libtiff
// discards the rest with a warning.
void overlongLastRun(TiffBytes& file) {
    const auto [offset, length] = pieceOf(file, 0, 3);
    file.xorByte(offset + length - 2, 0xE1 ^ 0x81);
}

PageRecipe subfile(uint32_t type) {
    PageRecipe recipe = page(COMPRESSION_NONE);
    recipe.width = 40;
    recipe.height = 30;
    recipe.subfileType = type;
    return recipe;
}

PageRecipe transparencyMask() {
    PageRecipe recipe = subfile(FILETYPE_MASK);
    recipe.width = 160;
    recipe.height = 120;
    recipe.photometric = PHOTOMETRIC_MASK;
    recipe.bitsPerSample = 1;
    return recipe;
}

PageRecipe unitless(float x, float y) {
    PageRecipe recipe = page(COMPRESSION_NONE);
    recipe.width = 300;
    recipe.height = 200;
    recipe.xResolution = x;
    recipe.yResolution = y;
    recipe.resolutionUnit = RESUNIT_NONE;
    return recipe;
}

// RGB and a fourth sample of no stated meaning, each in a plane of its own.
PageRecipe rgbWithUnusedPlane() {
    PageRecipe recipe = page(COMPRESSION_NONE, PHOTOMETRIC_RGB);
    recipe.extraSamples = {EXTRASAMPLE_UNSPECIFIED};
    recipe.planarConfig = PLANARCONFIG_SEPARATE;
    return recipe;
}

// A page whose one strip is coded data this libtiff cannot decode, written
// as it is: the start of a JPEG 2000 codestream or of a lossless JPEG.
PageRecipe rawCoded(uint16_t compression) {
    PageRecipe recipe = page(compression);
    recipe.rawStrip = compression == 34712 ? std::vector<uint8_t>{0xFF, 0x4F, 0xFF, 0x51}
                                           : std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC3};
    return recipe;
}

void leaveAsWritten(TiffBytes&) {}

// The rows of the matrix that the issue "Nothing lost, nothing hidden" adds.
std::vector<DamageCase> matrixCases() {
    PageRecipe group3 = fax(COMPRESSION_CCITTFAX3);
    group3.height = 300;
    const PageRecipe plain = page(COMPRESSION_NONE);
    return {
        {.name = "LzwMiddleStrip",
         .pages = {stripedGrey(COMPRESSION_LZW)},
         .damage = flipStrip(0, 3, 4),
         .warning = "page 1, row",
         .lostRows = LostRows::FailingScanlines,
         .greyRows = true},
        {.name = "DeflateMiddleStrip",
         .pages = {stripedGrey(COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISWHITE)},
         .damage = flipStrip(0, 3, 4),
         .warning = "page 1, row",
         .lostRows = LostRows::FailingScanlines,
         .greyRows = true},
        {.name = "PackBitsDiscard",
         .pages = {flatPackBits()},
         .damage = overlongLastRun,
         // The warning comes as the strip's last run is cut: it names no row.
         .warning = "page 1, rows 49\u2013"
                    "64 unreadable (PackBitsDecode: Discarding 96 bytes",
         .greyRows = true},
        {.name = "FaxLineDamage",
         .pages = {group3},
         .damage = flipStrip(0, 0, 2),
         .warning = "page 1, row",
         .fax = true,
         .lostRows = LostRows::NamedFaxLines},
        {.name = "Jpeg2000",
         .pages = {rawCoded(34712)},
         .damage = leaveAsWritten,
         .warning = "compression 34712 (JPEG 2000) is not supported by this build (page 1)",
         .verdict = Verdict::Refused},
        {.name = "LosslessJpeg",
         .pages = {rawCoded(34892)},
         .damage = leaveAsWritten,
         .warning = "compression 34892 (lossless JPEG) is not supported by this build",
         .verdict = Verdict::Refused},
        {.name = "Jpeg2000OnTheLastPage",
         .pages = {plain, plain, rawCoded(34712)},
         .damage = leaveAsWritten,
         .warning = "(page 3)",
         .verdict = Verdict::Refused},
        {.name = "Thumbnail",
         .pages = {plain, subfile(FILETYPE_REDUCEDIMAGE)},
         .damage = leaveAsWritten,
         .warning = "1 subfile skipped",
         .verdict = Verdict::Whole,
         .pdfPages = 1},
        {.name = "TransparencyMask",
         .pages = {plain, transparencyMask(), plain},
         .damage = leaveAsWritten,
         .warning = "1 subfile skipped",
         .verdict = Verdict::Whole,
         .pdfPages = 2},
        {.name = "OnlyThumbnails",
         .pages = {subfile(FILETYPE_REDUCEDIMAGE), subfile(FILETYPE_REDUCEDIMAGE)},
         .damage = leaveAsWritten,
         .warning = "1 subfile skipped",
         .verdict = Verdict::Whole,
         .pdfPages = 1,
         .pageSize = std::pair{40, 30}},
        {.name = "UnitlessResolution",
         .pages = {unitless(1, 1)},
         .damage = leaveAsWritten,
         .verdict = Verdict::Whole,
         .pdfPages = 1,
         .pageSize = std::pair{108, 72}},
        {.name = "UnitlessTallPixels",
         .pages = {unitless(1, 2)},
         .damage = leaveAsWritten,
         .verdict = Verdict::Whole,
         .pageSize = std::pair{108, 36}},
        {.name = "IfdLoop",
         .pages = {plain, plain},
         .damage = [](TiffBytes& file) { file.setNextDirectory(1, file.directoryOffset(0)); },
         .warning = "the page chain loops back after page 2",
         .pdfPages = 2},
        {.name = "UnusedPlaneMissing",
         .pages = {rgbWithUnusedPlane()},
         .damage =
             [](TiffBytes& file) {
                 const auto entry = file.find(0, TIFFTAG_STRIPOFFSETS);
                 file.setValue(*entry, 3, static_cast<uint32_t>(file.size() + 4096));
             },
         .verdict = Verdict::Whole},
    };
}

std::vector<DamageCase> allCases() {
    std::vector<DamageCase> cases = damageCases();
    for (DamageCase& row : matrixCases())
        cases.push_back(std::move(row));
    return cases;
}

std::vector<DamageCase> casesWhere(const std::function<bool(const DamageCase&)>& wanted) {
    std::vector<DamageCase> cases;
    for (DamageCase& row : allCases()) {
        if (wanted(row))
            cases.push_back(std::move(row));
    }
    return cases;
}

// Collects what libtiff says while a handle is used.
struct LibtiffMessages {
    std::vector<std::string> lines;
    static int record(TIFF*, void* self, const char* module, const char* format, va_list args) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        static_cast<LibtiffMessages*>(self)->lines.push_back(std::string(module ? module : "") +
                                                             ": " + text);
        return 1;
    }
};

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle openQuietly(const fs::path& path, LibtiffMessages& messages) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, LibtiffMessages::record, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, LibtiffMessages::record, &messages);
    TiffHandle tiff(TIFFOpenExt(path.c_str(), "r", options));
    TIFFOpenOptionsFree(options);
    if (!tiff)
        throw std::runtime_error("libtiff cannot open " + path.string());
    return tiff;
}

// The first page of an 8-bit grey file read row by row through libtiff, as
// a reader shows it (min-is-white turned round); rows it cannot read are
// white, and listed.
struct GreyRows {
    uint32_t width = 0;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint32_t> lost;  // 0-based
};

GreyRows readGreyRows(const fs::path& path) {
    LibtiffMessages messages;
    const TiffHandle tiff = openQuietly(path, messages);
    GreyRows grey;
    uint32_t height = 0;
    uint16_t photometric = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &grey.width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tiff.get())));
        const std::size_t said = messages.lines.size();
        const bool read = TIFFReadScanline(tiff.get(), row.data(), y, 0) >= 0;
        const bool discarded = messages.lines.size() > said;
        if (!read || discarded)
            grey.lost.push_back(y);
        if (!read)
            row.assign(row.size(), photometric == PHOTOMETRIC_MINISWHITE ? 0 : 255);
        if (photometric == PHOTOMETRIC_MINISWHITE) {
            for (uint8_t& value : row)
                value = static_cast<uint8_t>(255 - value);
        }
        grey.rows.push_back(std::move(row));
    }
    return grey;
}

// The lines libtiff's fax decoder names while it decodes the first page's
// only strip, 0-based.
std::vector<uint32_t> namedFaxLines(const fs::path& path) {
    LibtiffMessages messages;
    const TiffHandle tiff = openQuietly(path, messages);
    std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(tiff.get())));
    messages.lines.clear();
    TIFFReadEncodedStrip(tiff.get(), 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    std::vector<uint32_t> lines;
    const std::regex atLine(R"( at line (\d+) of strip 0)");
    for (const std::string& line : messages.lines) {
        std::smatch match;
        if (std::regex_search(line, match, atLine))
            lines.push_back(static_cast<uint32_t>(std::stoul(match[1])));
    }
    return lines;
}

// "rows 49–52, 60" for 0-based rows in order.
std::string rowsText(const std::vector<uint32_t>& rows) {
    std::string text;
    std::size_t ranges = 0;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] <= rows[j] + 1)
            ++j;
        text += (text.empty() ? "" : ", ") + std::to_string(rows[i] + 1);
        if (rows[j] != rows[i])
            text += "\u2013" + std::to_string(rows[j] + 1);
        ++ranges;
        i = j + 1;
    }
    const bool one = rows.size() == 1 || (ranges == 1 && rows.front() == rows.back());
    return (one ? "row " : "rows ") + text;
}

// The size of the PDF's first page in points, as pdfinfo says it.
std::pair<int, int> firstPageSize(const fs::path& pdf) {
    const support::CommandResult info = support::runCommand({"pdfinfo", pdf.string()});
    const std::regex size(R"(Page size:\s+([0-9.]+) x ([0-9.]+) pts)");
    std::smatch match;
    if (!info.succeeded() || !std::regex_search(info.out, match, size))
        throw std::runtime_error("pdfinfo says: " + info.out + info.err);
    return {static_cast<int>(std::stod(match[1])), static_cast<int>(std::stod(match[2]))};
}

class DamageReport : public ::testing::TestWithParam<DamageCase> {
  protected:
    fs::path damagedFile() {
        const DamageCase& damage = GetParam();
        const fs::path clean = dir_ / "clean.tif";
        fixtures::writeTiff(clean, damage.pages);
        TiffBytes file = TiffBytes::load(clean);
        damage.damage(file);
        const fs::path path = dir_ / "damaged.tif";
        std::ofstream(path, std::ios::binary) << file.bytes();
        return path;
    }

    static quorvex::ConversionOutcome convert(const fs::path& input, const fs::path& output,
                                              bool strict, unsigned threads = 0) {
        quorvex::ConversionRequest request;
        request.options.threads = threads;
        request.inputPath = input.string();
        request.outputPath = output.string();
        request.info.creationDate = "D:20240101000000";
        request.options.strict = strict;
        return quorvex::convertTiff(request);
    }

    support::TempDir dir_;
};

// The text the case's first warning must start with: as written, or with
// the rows libtiff itself loses.
std::string expectedWarning(const DamageCase& damage, const fs::path& input) {
    switch (damage.lostRows) {
        case LostRows::AsWritten:
            return damage.warning;
        case LostRows::FailingScanlines: {
            const std::vector<uint32_t> lost = readGreyRows(input).lost;
            if (lost.empty())
                throw std::runtime_error("libtiff reads every row: the case damages nothing");
            return "page 1, " + rowsText(lost) + " unreadable";
        }
        case LostRows::NamedFaxLines: {
            const std::vector<uint32_t> lines = namedFaxLines(input);
            if (lines.empty())
                throw std::runtime_error("libtiff names no line: the case damages nothing");
            return "page 1, " + rowsText(lines) + " unreadable";
        }
    }
    return {};
}

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

TEST_P(DamageReport, IsWarnedOrFailsNeverSilent) {
    const DamageCase& damage = GetParam();
    const fs::path input = damagedFile();
    const auto outcome = convert(input, dir_ / "out.pdf", false);
    if (damage.verdict == Verdict::Refused) {
        EXPECT_FALSE(outcome.ok());
        EXPECT_NE(outcome.detail.find(damage.warning), std::string::npos) << outcome.detail;
        EXPECT_FALSE(support::fileExists(dir_ / "out.pdf"));
        std::cout << "[ matrix   ] " << damage.name << ": refused: " << outcome.detail << "\n";
        return;
    }
    if (!outcome.ok()) {
        EXPECT_EQ(damage.verdict, Verdict::Damaged) << outcome.message << " " << outcome.detail;
        EXPECT_FALSE(outcome.message.empty());
        EXPECT_FALSE(support::fileExists(dir_ / "out.pdf"));
        return;
    }
    if (damage.verdict == Verdict::Whole) {
        EXPECT_TRUE(outcome.warnings.empty()) << outcome.warnings.front();
        if (damage.warning.empty()) {
            EXPECT_TRUE(outcome.notes.empty());
        } else {
            EXPECT_TRUE(contains(outcome.notes, damage.warning))
                << ::testing::PrintToString(outcome.notes);
        }
    } else {
        ASSERT_FALSE(outcome.warnings.empty()) << "converted silently";
        const std::string expected = expectedWarning(damage, input);
        EXPECT_EQ(outcome.warnings.front().rfind(expected, 0), 0U)
            << outcome.warnings.front() << "\nexpected it to start with: " << expected;
        std::cout << "[ matrix   ] " << damage.name << ": " << outcome.warnings.front() << "\n";
    }
    EXPECT_TRUE(support::qpdfCheck(outcome.outputPath).ok);
    if (damage.pdfPages > 0) {
        EXPECT_EQ(support::pdfPageCount(outcome.outputPath), damage.pdfPages);
        EXPECT_EQ(outcome.pageCount, static_cast<uint32_t>(damage.pdfPages));
    }
    if (damage.pageSize) {
        EXPECT_EQ(firstPageSize(outcome.outputPath), *damage.pageSize);
    }
    // Pages are checked and coded on worker threads: one thread says and
    // writes the same.
    const auto alone = convert(input, dir_ / "alone.pdf", false, 1);
    EXPECT_EQ(alone.warnings, outcome.warnings);
    EXPECT_TRUE(support::readFile(dir_ / "alone.pdf") == support::readFile(outcome.outputPath));
}

TEST_P(DamageReport, StrictModeFailsAndKeepsTheOldPdf) {
    const fs::path input = damagedFile();
    const fs::path output = dir_ / "out.pdf";
    std::ofstream(output) << "old";
    const auto outcome = convert(input, output, true);
    if (GetParam().verdict == Verdict::Whole) {
        EXPECT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
        return;
    }
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(support::readFile(output), "old");
    // A compression this build cannot decode is refused; damage cannot be read.
    EXPECT_EQ(outcome.failure, GetParam().verdict == Verdict::Refused
                                   ? quorvex::FailureKind::InputRefused
                                   : quorvex::FailureKind::InputUnreadable);
}

// Rows libtiff reads show as it reads them, rows it cannot read are white,
// and the rest of the page goes on after them.
class GreyDamage : public DamageReport {};

TEST_P(GreyDamage, PagesShowWhatLibtiffReadsAndPaperForTheRest) {
    const fs::path input = damagedFile();
    const auto outcome = convert(input, dir_ / "out.pdf", false);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    const GreyRows expected = readGreyRows(input);
    const auto height = static_cast<uint32_t>(expected.rows.size());
    const support::RgbImage shown =
        support::renderPdfPage(outcome.outputPath, 0, expected.width, height);
    uint64_t wrong = 0;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < expected.width; ++x)
            wrong += shown.pixel(x, y)[0] != expected.rows[y][x] ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0U) << "pixels that differ from libtiff's rows";
}

class FaxDamage : public DamageReport {};

TEST_P(FaxDamage, PagesShowWhatLibtiffDecodes) {
    const fs::path input = damagedFile();
    const auto outcome = convert(input, dir_ / "out.pdf", false);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    const int page = GetParam().faxPage;
    const support::RgbImage expected = support::decodeTiffPage(input, page);
    for (const auto renderer : {support::Renderer::MuPdf, support::Renderer::Poppler}) {
        EXPECT_TRUE(
            support::imagesMatch(expected,
                                 support::renderPdfPage(outcome.outputPath, page, expected.width,
                                                        expected.height, renderer),
                                 0))
            << (renderer == support::Renderer::MuPdf ? "MuPDF" : "Poppler");
    }
}

const auto caseName = [](const auto& param) { return param.param.name; };
INSTANTIATE_TEST_SUITE_P(Cases, DamageReport, ::testing::ValuesIn(allCases()), caseName);
INSTANTIATE_TEST_SUITE_P(
    Cases, FaxDamage,
    ::testing::ValuesIn(casesWhere([](const DamageCase& row) { return row.fax; })), caseName);
INSTANTIATE_TEST_SUITE_P(
    Cases, GreyDamage,
    ::testing::ValuesIn(casesWhere([](const DamageCase& row) { return row.greyRows; })), caseName);

// A tile that cannot be read shows as blank paper whatever the page's colour
// model: the rest of the page is drawn as an undamaged copy draws it.
struct PaperCase {
    std::string name;
    std::vector<PageRecipe> pages;  // the last page is the one damaged
    // Pages in planes lose whole rows (a pixel missing one plane is lost), and
    // so do pages drawn over their own range.
    bool wholeRows = false;
    // MuPDF draws Lab's white (L* 100, a* b* 0) as cyan; Poppler draws it white.
    support::Renderer renderer = support::Renderer::MuPdf;
};

void PrintTo(const PaperCase& paper, std::ostream* out) {
    *out << paper.name;
}

PageRecipe tiledPage(uint16_t photometric, uint16_t bits) {
    PageRecipe recipe{.width = 64, .height = 48, .photometric = photometric, .bitsPerSample = bits};
    recipe.tiles = fixtures::TileSize{16, 16};
    return recipe;
}

std::vector<PaperCase> paperCases() {
    PageRecipe withAlpha = tiledPage(PHOTOMETRIC_RGB, 8);
    withAlpha.extraSamples = {EXTRASAMPLE_UNASSALPHA};
    withAlpha.alphaFill = fixtures::AlphaFill::Varying;
    // Its lightest entry is white, which a generated map need not hold.
    PageRecipe palette = tiledPage(PHOTOMETRIC_PALETTE, 8);
    fixtures::ColorMap map = fixtures::generatedColorMap(8, fixtures::ColorMapMode::Auto16Bit);
    map.red[200] = map.green[200] = map.blue[200] = 65535;
    palette.colorMap = map;
    PageRecipe signedGrey = tiledPage(PHOTOMETRIC_MINISBLACK, 16);
    signedGrey.sampleFormat = SAMPLEFORMAT_INT;
    PageRecipe floatGrey = tiledPage(PHOTOMETRIC_MINISWHITE, 32);
    floatGrey.sampleFormat = SAMPLEFORMAT_IEEEFP;
    // Drawn over the page's own range, which paper must not widen.
    PageRecipe floatsBeyondUnit = tiledPage(PHOTOMETRIC_MINISBLACK, 32);
    floatsBeyondUnit.sampleFormat = SAMPLEFORMAT_IEEEFP;
    floatsBeyondUnit.floatRange = {-5, 5};
    PageRecipe planes = tiledPage(PHOTOMETRIC_RGB, 8);
    planes.planarConfig = PLANARCONFIG_SEPARATE;
    return {
        {"MinIsWhite", {tiledPage(PHOTOMETRIC_MINISWHITE, 8)}},
        {"MinIsBlack16", {tiledPage(PHOTOMETRIC_MINISBLACK, 16)}},
        {"Bilevel", {tiledPage(PHOTOMETRIC_MINISBLACK, 1)}},
        {"Rgb", {tiledPage(PHOTOMETRIC_RGB, 8)}},
        {"RgbWithAlpha", {withAlpha}},
        {"RgbInPlanes", {planes}, true},
        {"Palette", {palette}},
        {"Lab", {tiledPage(PHOTOMETRIC_CIELAB, 8)}, false, support::Renderer::Poppler},
        {"CmykOnPageTwo",
         {tiledPage(PHOTOMETRIC_MINISBLACK, 8), tiledPage(PHOTOMETRIC_SEPARATED, 8)}},
        {"SignedGrey", {signedGrey}},
        {"FloatMinIsWhite", {floatGrey}},
        {"FloatsBeyondUnit", {floatsBeyondUnit}, true},
    };
}

class PaperForLostTiles : public ::testing::TestWithParam<PaperCase> {
  protected:
    support::RgbImage rendered(const fs::path& tiff, const std::string& name) {
        quorvex::ConversionRequest request;
        request.inputPath = tiff.string();
        request.outputPath = (dir_ / (name + ".pdf")).string();
        const auto outcome = quorvex::convertTiff(request);
        if (!outcome.ok())
            throw std::runtime_error(name + ": " + outcome.message + " " + outcome.detail);
        warnings_ = outcome.warnings;
        return support::renderPdfPage(outcome.outputPath, lastPage(), 64, 48, GetParam().renderer);
    }
    int lastPage() const { return static_cast<int>(GetParam().pages.size()) - 1; }

    support::TempDir dir_;
    std::vector<std::string> warnings_;
};

TEST_P(PaperForLostTiles, ShowAsWhite) {
    const fs::path clean = dir_ / "clean.tif";
    fixtures::writeTiff(clean, GetParam().pages);
    TiffBytes file = TiffBytes::load(clean);
    // Tile 5 is the second of the second row: columns 16-31, rows 16-31.
    const auto entry = file.find(static_cast<std::size_t>(lastPage()), TIFFTAG_TILEOFFSETS);
    file.setValue(*entry, 5, static_cast<uint32_t>(file.size() + 4096));
    const fs::path damaged = dir_ / "damaged.tif";
    std::ofstream(damaged, std::ios::binary) << file.bytes();

    support::RgbImage expected = rendered(clean, "clean");
    const uint32_t left = GetParam().wholeRows ? 0 : 16;
    const uint32_t right = GetParam().wholeRows ? 64 : 32;
    for (uint32_t y = 16; y < 32; ++y) {
        for (uint32_t x = left; x < right; ++x) {
            uint8_t* pixel = expected.rgb.data() + (std::size_t{y} * 64 + x) * 3;
            pixel[0] = pixel[1] = pixel[2] = 255;
        }
    }
    const support::RgbImage shown = rendered(damaged, "damaged");
    ASSERT_EQ(warnings_.size(), 1U);
    EXPECT_EQ(warnings_.front().rfind("page " + std::to_string(lastPage() + 1) +
                                          ", rows 17\u2013"
                                          "32 unreadable",
                                      0),
              0U)
        << warnings_.front();
    EXPECT_TRUE(support::imagesMatch(expected, shown, 1));
}

INSTANTIATE_TEST_SUITE_P(Models, PaperForLostTiles, ::testing::ValuesIn(paperCases()), caseName);

// In a merge, damage names the input it is in and that input's own page.
TEST(MergedDamage, NamesTheInputAndItsOwnPage) {
    support::TempDir dir;
    const fs::path first = dir / "a1.tif";
    const fs::path damaged = dir / "ztrunc.tif";
    fixtures::writeTiff(first, {page(COMPRESSION_NONE), page(COMPRESSION_NONE)});
    fixtures::writeTiff(dir / "clean.tif", {stripedGrey(COMPRESSION_LZW)});
    TiffBytes file = TiffBytes::load(dir / "clean.tif");
    cutStrip(0, 2)(file);
    std::ofstream(damaged, std::ios::binary) << file.bytes();

    quorvex::ConversionRequest request;
    request.inputPath = first.string();
    request.mergedInputs = {damaged.string()};
    request.outputPath = (dir / "merged.pdf").string();
    const auto outcome = quorvex::convertTiff(request);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    ASSERT_EQ(outcome.warnings.size(), 1U);
    EXPECT_EQ(outcome.warnings.front().rfind(damaged.string() + ": page 1, rows 3", 0), 0U)
        << outcome.warnings.front();
    EXPECT_EQ(outcome.pageCount, 3U);
}

// A merge is refused as a whole when one input cannot be decoded, naming it.
TEST(MergedDamage, UndecodableInputRefusesTheMerge) {
    support::TempDir dir;
    const fs::path first = dir / "a1.tif";
    const fs::path other = dir / "j2k.tif";
    fixtures::writeTiff(first, {page(COMPRESSION_NONE)});
    fixtures::writeTiff(other, {page(COMPRESSION_NONE)});
    TiffBytes file = TiffBytes::load(other);
    claimCompression(0, 34712)(file);
    std::ofstream(other, std::ios::binary | std::ios::trunc) << file.bytes();

    quorvex::ConversionRequest request;
    request.inputPath = first.string();
    request.mergedInputs = {other.string()};
    request.outputPath = (dir / "merged.pdf").string();
    const auto outcome = quorvex::convertTiff(request);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.detail.rfind(other.string() + ": compression 34712 (JPEG 2000)", 0), 0U)
        << outcome.detail;
    EXPECT_FALSE(support::fileExists(dir / "merged.pdf"));
}

}  // namespace
