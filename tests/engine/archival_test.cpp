// Archival (PDF/A) files beyond what Preflight checks in the round-trip
// tables: the XMP packet agrees with the document information, level 2b's
// frame, and which output intent a document gets.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/Conversion.h"
#include "engine/pdf/Archival.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

using quorvex::ArchivalLevel;

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const std::size_t at = text.find(open);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + open.size();
    return text.substr(start, text.find(close, start) - start);
}

quorvex::ConversionOutcome convertArchival(const support::TempDir& dir,
                                           const std::vector<fixtures::PageRecipe>& pages,
                                           const quorvex::DocumentInfo& info,
                                           const std::string& outputIntent = {}) {
    const auto tiff = dir / "pages.tif";
    fixtures::writeTiff(tiff, pages);
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    request.info = info;
    request.options.archival = ArchivalLevel::PdfA2b;
    request.options.outputIntentPath = outputIntent;
    return quorvex::convertTiff(request);
}

TEST(ArchivalMetadata, XmpRepeatsTheDocumentInformation) {
    support::TempDir dir;
    quorvex::DocumentInfo info;
    info.title = "Rechnung & Lieferschein";
    info.author = "Zoë <Archiv>";
    info.subject = "scans";
    info.keywords = "invoice, 2024";
    info.creator = "scanner";
    info.producer = "quorvex";
    info.creationDate = "D:20240501143000+02'00'";
    const auto outcome = convertArchival(dir, {{.photometric = PHOTOMETRIC_RGB}}, info);
    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    const std::string pdf = support::readFile(outcome.outputPath);
    EXPECT_EQ(pdf.substr(0, 9), "%PDF-1.7\r");
    EXPECT_NE(pdf.find("/ID [<"), std::string::npos);
    EXPECT_NE(pdf.find("/ModDate (D:20240501143000+02'00')"), std::string::npos);
    const std::string xmp = between(pdf, "<x:xmpmeta", "</x:xmpmeta>");
    EXPECT_EQ(between(xmp, "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">", "<"),
              "Rechnung &amp; Lieferschein");
    EXPECT_EQ(between(xmp, "<dc:creator><rdf:Seq><rdf:li>", "<"), "Zoë &lt;Archiv&gt;");
    EXPECT_EQ(between(xmp, "<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">", "<"),
              "scans");
    EXPECT_EQ(between(xmp, "<pdf:Keywords>", "<"), "invoice, 2024");
    EXPECT_EQ(between(xmp, "<xmp:CreatorTool>", "<"), "scanner");
    EXPECT_EQ(between(xmp, "<pdf:Producer>", "<"), "quorvex");
    EXPECT_EQ(between(xmp, "<xmp:CreateDate>", "<"), "2024-05-01T14:30:00+02:00");
    EXPECT_EQ(between(xmp, "<xmp:ModifyDate>", "<"), "2024-05-01T14:30:00+02:00");
    EXPECT_EQ(between(xmp, "<pdfaid:part>", "<"), "2");
    EXPECT_EQ(between(xmp, "<pdfaid:conformance>", "<"), "B");
#ifndef _WIN32  // qpdf and poppler run on Linux only
    // Poppler reads the same title from the information dictionary.
    EXPECT_NE(support::runCommand({"pdfinfo", outcome.outputPath})
                  .out.find("Title:           Rechnung & Lieferschein"),
              std::string::npos);
    const auto check = support::qpdfCheck(outcome.outputPath);
    EXPECT_TRUE(check.ok) << check.output;
#endif
}

TEST(ArchivalMetadata, XmpDatesFromPdfDates) {
    EXPECT_EQ(quorvex::xmpDate("D:20240501"), "2024-05-01");
    EXPECT_EQ(quorvex::xmpDate("D:20240501120000Z"), "2024-05-01T12:00:00Z");
    EXPECT_EQ(quorvex::xmpDate("D:20240501120000-05'30'"), "2024-05-01T12:00:00-05:30");
}

// The fixture's profile header, of another class or ICC version.
std::vector<uint8_t> iccHeader(const std::string& deviceClass, const std::string& space,
                               uint8_t majorVersion) {
    std::vector<uint8_t> profile = fixtures::iccProfile(space, 0, deviceClass);
    profile[8] = majorVersion;
    return profile;
}

TEST(OutputIntent, OnlyAPrinterCmykProfileOfTheLevelsVersionIsTaken) {
    using quorvex::outputIntentProblem;
    EXPECT_EQ(outputIntentProblem(iccHeader("prtr", "CMYK", 2), ArchivalLevel::PdfA1b), "");
    EXPECT_EQ(outputIntentProblem(iccHeader("prtr", "CMYK", 4), ArchivalLevel::PdfA2b), "");
    EXPECT_NE(outputIntentProblem(iccHeader("prtr", "CMYK", 4), ArchivalLevel::PdfA1b), "");
    EXPECT_NE(outputIntentProblem(iccHeader("mntr", "CMYK", 2), ArchivalLevel::PdfA2b), "");
    EXPECT_NE(outputIntentProblem(iccHeader("prtr", "RGB ", 2), ArchivalLevel::PdfA2b), "");
    std::vector<uint8_t> longerThanDeclared = iccHeader("prtr", "CMYK", 2);
    longerThanDeclared.push_back(0);
    EXPECT_NE(outputIntentProblem(longerThanDeclared, ArchivalLevel::PdfA2b), "");
    EXPECT_NE(outputIntentProblem(std::vector<uint8_t>(40), ArchivalLevel::PdfA2b), "");
}

fixtures::PageRecipe cmykPage() {
    return {.photometric = PHOTOMETRIC_SEPARATED};
}

TEST(OutputIntent, DevicePagesGetSrgbAndCieLabPagesNone) {
    support::TempDir dir;
    const auto rgb = convertArchival(dir, {{.photometric = PHOTOMETRIC_MINISBLACK}}, {});
    ASSERT_TRUE(rgb.ok()) << rgb.detail;
    EXPECT_NE(support::readFile(rgb.outputPath).find("/OutputConditionIdentifier (sRGB"),
              std::string::npos);
    const auto lab = convertArchival(dir, {{.photometric = PHOTOMETRIC_CIELAB}}, {});
    ASSERT_TRUE(lab.ok()) << lab.detail;
    EXPECT_EQ(support::readFile(lab.outputPath).find("/OutputIntents"), std::string::npos);
}

TEST(OutputIntent, CmykPageWithoutAProfileIsRefusedSayingWhatToGive) {
    support::TempDir dir;
    const auto outcome = convertArchival(dir, {{.photometric = PHOTOMETRIC_RGB}, cmykPage()}, {});
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.failure, quorvex::FailureKind::InputRefused);
    EXPECT_NE(outcome.detail.find("page 2 is CMYK"), std::string::npos) << outcome.detail;
    EXPECT_NE(outcome.detail.find("--output-intent FILE.icc"), std::string::npos);
    EXPECT_FALSE(support::fileExists(dir / "pages.pdf"));
}

TEST(OutputIntent, GivenCmykProfileIsTheIntentAndRgbPagesNameSrgb) {
    support::TempDir dir;
    const auto profile = dir / "press.icc";
    const std::vector<uint8_t> header = iccHeader("prtr", "CMYK", 2);
    {
        std::ofstream out(profile, std::ios::binary);
        out.write(reinterpret_cast<const char*>(header.data()),
                  static_cast<std::streamsize>(header.size()));
    }
    const auto outcome =
        convertArchival(dir, {{.photometric = PHOTOMETRIC_RGB}, cmykPage()}, {}, profile.string());
    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    const std::string pdf = support::readFile(outcome.outputPath);
    EXPECT_NE(pdf.find("/OutputConditionIdentifier (Custom)"), std::string::npos);
    EXPECT_NE(pdf.find("/ColorSpace [ /ICCBased "), std::string::npos);
    EXPECT_EQ(pdf.find("/DeviceRGB"), std::string::npos);
    EXPECT_NE(pdf.find("/ColorSpace /DeviceCMYK"), std::string::npos);
#ifndef _WIN32  // qpdf runs on Linux only
    const auto check = support::qpdfCheck(outcome.outputPath);
    EXPECT_TRUE(check.ok) << check.output;
#endif
}

}  // namespace
