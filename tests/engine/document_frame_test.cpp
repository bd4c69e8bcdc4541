// The file frame: header, object numbering and positions, cross-reference
// table and trailer, byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "engine/Conversion.h"
#include "engine/encode/Md5.h"
#include "engine/pdf/PdfSink.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

struct Frame {
    std::string bytes;
    uint64_t xrefOffset = 0;
    uint64_t declaredCount = 0;
    std::vector<std::string> entries;  // each entry's 20 bytes, the free one first
    std::string trailer;               // from "trailer\r" to the end
};

Frame readFrame(const std::filesystem::path& pdf) {
    Frame frame;
    frame.bytes = support::readFile(pdf);
    std::size_t xref = frame.bytes.rfind("\rxref\r");  // not the one in "startxref"
    if (xref == std::string::npos)
        throw std::runtime_error("no xref in " + pdf.string());
    frame.xrefOffset = ++xref;
    std::size_t cursor = xref + 5;
    const std::size_t lineEnd = frame.bytes.find('\r', cursor);
    const std::string subsection = frame.bytes.substr(cursor, lineEnd - cursor);
    frame.declaredCount = std::stoull(subsection.substr(subsection.find(' ') + 1));
    cursor = lineEnd + 1;
    for (uint64_t i = 0; i < frame.declaredCount; ++i, cursor += 20) {
        frame.entries.push_back(frame.bytes.substr(cursor, 20));
    }
    frame.trailer = frame.bytes.substr(cursor);
    return frame;
}

std::filesystem::path convertPages(const support::TempDir& dir, int pages,
                                   uint16_t photometric = PHOTOMETRIC_MINISBLACK) {
    std::vector<fixtures::PageRecipe> specs;
    for (int i = 0; i < pages; ++i) {
        specs.push_back({.photometric = photometric, .variant = static_cast<uint32_t>(i)});
    }
    const auto tiff = dir / "pages.tif";
    fixtures::writeTiff(tiff, specs);
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    request.info.creationDate = "fixed";
    const auto outcome = quorvex::convertTiff(request);
    if (!outcome.ok())
        throw std::runtime_error(outcome.message + " " + outcome.detail);
    return outcome.outputPath;
}

TEST(DocumentFrame, OnePageHasEightObjectsAndNineEntries) {
    support::TempDir dir;
    const Frame frame = readFrame(convertPages(dir, 1));
    EXPECT_EQ(frame.bytes.substr(0, 10), "%PDF-1.2z\r");
    EXPECT_EQ(frame.bytes.substr(frame.xrefOffset, 9), "xref\r0 9\r");
    ASSERT_EQ(frame.entries.size(), 9U);
    EXPECT_EQ(frame.entries[0], "0000000000 65535 f \r");
    EXPECT_EQ(frame.entries[1], "0000000010 00000 n \r") << "object 1 follows the header";
    EXPECT_NE(frame.trailer.find("/Size 9\r"), std::string::npos);
}

TEST(DocumentFrame, EveryEntryPointsAtItsObject) {
    support::TempDir dir;
    const Frame frame = readFrame(convertPages(dir, 3));
    ASSERT_EQ(frame.entries.size(), 19U) << "three pages: 18 objects and the free entry";
    const std::regex entryShape("\\d{10} 00000 n \\r");
    for (std::size_t number = 1; number < frame.entries.size(); ++number) {
        const std::string& entry = frame.entries[number];
        ASSERT_TRUE(std::regex_match(entry, entryShape)) << entry;
        const uint64_t offset = std::stoull(entry.substr(0, 10));
        const std::string header = std::to_string(number) + " 0 obj\r";
        EXPECT_EQ(frame.bytes.substr(offset, header.size()), header) << "object " << number;
    }
}

TEST(DocumentFrame, PageObjectsFollowTheFixedLayout) {
    support::TempDir dir;
    const Frame frame = readFrame(convertPages(dir, 3));
    EXPECT_NE(frame.bytes.find("/Kids [4 0 R 9 0 R 14 0 R ]\r"), std::string::npos);
    for (const int page : {4, 9, 14}) {
        const uint64_t offset = std::stoull(frame.entries[page].substr(0, 10));
        const std::string expected = std::to_string(page) + " 0 obj\r<<\r/Type /Page\r";
        EXPECT_EQ(frame.bytes.substr(offset, expected.size()), expected);
    }
}

TEST(DocumentFrame, TrailerNamesRootInfoAndTheCrossReference) {
    support::TempDir dir;
    const Frame frame = readFrame(convertPages(dir, 1));
    const std::string expected = "trailer\r<<\r/Size 9\r/Root 2 0 R\r/Info 1 0 R\r>>\rstartxref\r" +
                                 std::to_string(frame.xrefOffset) + "\r%%EOF\r";
    EXPECT_EQ(frame.trailer, expected);
}

TEST(DocumentFrame, LinesEndWithCarriageReturnsOutsideStreams) {
    support::TempDir dir;
    // RGB: no inline palette, whose lines end in CR LF.
    const Frame frame = readFrame(convertPages(dir, 2, PHOTOMETRIC_RGB));
    // Line feeds appear only after "stream\r" (and inside stream data).
    const std::string& bytes = frame.bytes;
    std::size_t streamEnd = 0;
    for (std::size_t lf = bytes.find('\n'); lf != std::string::npos;
         lf = bytes.find('\n', lf + 1)) {
        if (lf < streamEnd)
            continue;
        ASSERT_GE(lf, 7U);
        ASSERT_EQ(bytes.substr(lf - 7, 8), "stream\r\n") << "stray line feed at " << lf;
        streamEnd = bytes.find("endstream", lf);
    }
}

#ifndef _WIN32
// qpdf and poppler run on Linux only.
TEST(DocumentFrame, ReadersAcceptTheFile) {
    support::TempDir dir;
    const auto pdf = convertPages(dir, 3);
    const auto check = support::qpdfCheck(pdf);
    EXPECT_TRUE(check.ok) << check.output;
    EXPECT_EQ(support::pdfPageCount(pdf), 3);
}
#endif

// The standard profile's header and identifier.

struct VersionCase {
    std::string name;
    std::vector<fixtures::PageRecipe> pages;
    std::string header;  // the version line
};

void PrintTo(const VersionCase& version, std::ostream* out) {
    *out << version.name;
}

quorvex::ConversionOutcome convertStandard(const support::TempDir& dir, const std::string& name,
                                           const std::vector<fixtures::PageRecipe>& pages,
                                           const quorvex::DocumentInfo& info) {
    const auto tiff = dir / (name + ".tif");
    fixtures::writeTiff(tiff, pages);
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    request.outputPath = (dir / (name + ".pdf")).string();
    request.info = info;
    request.options.profile = quorvex::OutputProfile::Standard;
    return quorvex::convertTiff(request);
}

quorvex::DocumentInfo datedInfo(std::string title) {
    quorvex::DocumentInfo info;
    info.title = std::move(title);
    info.creationDate = "D:20240501120000Z";
    return info;
}

class StandardHeader : public ::testing::TestWithParam<VersionCase> {};

TEST_P(StandardHeader, NamesTheLowestVersionAndABinaryLine) {
    support::TempDir dir;
    const VersionCase& version = GetParam();
    const auto outcome = convertStandard(dir, version.name, version.pages, datedInfo("t"));
    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    const std::string bytes = support::readFile(outcome.outputPath);
    ASSERT_EQ(bytes.substr(0, version.header.size() + 1), version.header + "\r");
    const std::string comment = bytes.substr(version.header.size() + 1, 6);
    EXPECT_EQ(comment.front(), '%');
    EXPECT_EQ(comment.back(), '\r');
    for (const char byte : comment.substr(1, 4))
        EXPECT_GT(static_cast<unsigned char>(byte), 127);
#ifndef _WIN32  // qpdf and poppler run on Linux only
    const auto info = support::runCommand({"pdfinfo", outcome.outputPath});
    EXPECT_NE(info.out.find("PDF version:     " + version.header.substr(5) + "\n"),
              std::string::npos)
        << info.out;
    const auto check = support::qpdfCheck(outcome.outputPath);
    EXPECT_TRUE(check.ok) << check.output;
#endif
}

fixtures::PageRecipe sixteenBit(uint16_t photometric) {
    return {.photometric = photometric, .bitsPerSample = 16};
}

INSTANTIATE_TEST_SUITE_P(
    Pages, StandardHeader,
    ::testing::Values(VersionCase{"Grey8", {{}}, "%PDF-1.4"},
                      VersionCase{"Fax",
                                  {{.width = 1728,
                                    .height = 40,
                                    .compression = COMPRESSION_CCITTFAX4,
                                    .photometric = PHOTOMETRIC_MINISWHITE,
                                    .bitsPerSample = 1}},
                                  "%PDF-1.4"},
                      VersionCase{"Grey16", {sixteenBit(PHOTOMETRIC_MINISBLACK)}, "%PDF-1.5"},
                      VersionCase{"Rgb16", {sixteenBit(PHOTOMETRIC_RGB)}, "%PDF-1.5"},
                      VersionCase{
                          "Rgb8ThenGrey16",
                          {{.photometric = PHOTOMETRIC_RGB}, sixteenBit(PHOTOMETRIC_MINISBLACK)},
                          "%PDF-1.5"}),
    support::ParamName());

std::string trailerId(const std::string& pdf) {
    const std::string bytes = support::readFile(pdf);
    const std::size_t at = bytes.rfind("/ID [");
    return at == std::string::npos ? std::string() : bytes.substr(at, bytes.find(']', at) - at);
}

TEST(StandardIdentifier, EqualInputsGiveEqualFilesAndOtherInformationAnotherId) {
    support::TempDir dir;
    const std::vector<fixtures::PageRecipe> pages{{.photometric = PHOTOMETRIC_RGB}};
    const auto first = convertStandard(dir, "first", pages, datedInfo("same"));
    const auto again = convertStandard(dir, "again", pages, datedInfo("same"));
    const auto retitled = convertStandard(dir, "retitled", pages, datedInfo("other"));
    ASSERT_TRUE(first.ok() && again.ok() && retitled.ok());
    EXPECT_EQ(support::readFile(first.outputPath), support::readFile(again.outputPath));
    const std::regex idShape("/ID \\[<([0-9A-F]{32})> <\\1>");
    EXPECT_TRUE(std::regex_match(trailerId(first.outputPath), idShape))
        << trailerId(first.outputPath);
    EXPECT_NE(trailerId(first.outputPath), trailerId(retitled.outputPath));
}

TEST(StandardIdentifier, SourceDateEpochIsTheDefaultCreationDateInUtc) {
    support::TempDir dir;
    support::setEnvironment("SOURCE_DATE_EPOCH", "1714564800");  // 2024-05-01 12:00:00 UTC
    const auto first = convertStandard(dir, "first", {{}}, {});
    const auto again = convertStandard(dir, "again", {{}}, {});
    support::unsetEnvironment("SOURCE_DATE_EPOCH");
    ASSERT_TRUE(first.ok() && again.ok());
    const std::string bytes = support::readFile(first.outputPath);
    EXPECT_NE(bytes.find("/CreationDate (D:20240501120000Z)"), std::string::npos);
    EXPECT_EQ(bytes, support::readFile(again.outputPath));
}

TEST(StandardIdentifier, DigestIsMd5) {
    quorvex::Md5 md5;
    md5.update(std::string(1000, 'a'));  // more than one block, ending mid-block
    std::string hex;
    for (const uint8_t byte : md5.finish())
        hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    EXPECT_EQ(hex, "cabe45dcc9ae5b66ba86600cca6b8ba8");  // md5sum of 1000 'a's
}

// Offsets and lengths past 4 GiB keep every digit in the cross-reference
// table's form, on Windows too, where `unsigned long` has 32 bits.
TEST(DocumentFrame, NumbersPastFourGibibytesKeepEveryDigit) {
    quorvex::PdfText text;
    text.print("%010llu 00000 n \r", quorvex::pdfNumber(uint64_t{5'000'000'123}));
    EXPECT_EQ(text.text(), "5000000123 00000 n \r");
}

}  // namespace
