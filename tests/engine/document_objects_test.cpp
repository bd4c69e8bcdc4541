// Document information, Catalog, page tree and per-page objects as written.
#include <gtest/gtest.h>

#include <regex>
#include <utility>

#include "ConvertedPdf.h"
#include "engine/Conversion.h"
#include "engine/pdf/DocumentObjects.h"
#include "engine/pdf/ObjectNumbers.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

using convertedpdf::objectText;

std::string convertToBytes(
    const std::vector<fixtures::PageRecipe>& pages,
    quorvex::DocumentInfo info = quorvex::DocumentInfo::applicationDefaults()) {
    return convertedpdf::convertPages(pages, std::move(info));
}

fixtures::PageRecipe sized(uint32_t width, uint32_t height, float xDpi, float yDpi) {
    return {.width = width,
            .height = height,
            .bitsPerSample = 1,
            .xResolution = xDpi,
            .yResolution = yDpi};
}

std::string mediaBoxOf(const fixtures::PageRecipe& page) {
    const std::string pageObject = objectText(convertToBytes({page}), 4);
    std::smatch match;
    std::regex_search(pageObject, match, std::regex("/MediaBox \\[[^\\]]*\\]"));
    return match.str();
}

TEST(PageSize, LetterAt300Dpi) {
    EXPECT_EQ(mediaBoxOf(sized(2550, 3300, 300, 300)), "/MediaBox [0 0 612 792]");
}

TEST(PageSize, WidthDropsItsFractionHeightRounds) {
    EXPECT_EQ(mediaBoxOf(sized(1654, 2339, 200, 200)), "/MediaBox [0 0 595 842]");
    EXPECT_EQ(mediaBoxOf(sized(1728, 1143, 204, 98)), "/MediaBox [0 0 609 840]");
}

TEST(PageSize, MissingResolutionCountsAs200Dpi) {
    auto page = sized(400, 400, 0, 0);
    page.xResolution = std::nullopt;
    page.yResolution = std::nullopt;
    EXPECT_EQ(mediaBoxOf(page), "/MediaBox [0 0 144 144]");
}

TEST(PageSize, TinyPageKeepsAtLeastOnePoint) {
    EXPECT_EQ(mediaBoxOf(sized(1, 1, 300, 300)), "/MediaBox [0 0 1 1]");
}

TEST(PageObjects, OnePageDocumentObjects) {
    const std::string pdf = convertToBytes({sized(1728, 1143, 204, 98)});
    EXPECT_EQ(objectText(pdf, 2), "<<\r/Type /Catalog\r/Pages 3 0 R\r>>\rendobj\r");
    EXPECT_EQ(objectText(pdf, 3),
              "<<\r/Type /Pages\r/Kids [4 0 R ]\r/Count 1\r/MediaBox [0 0 0 0]\r>>\rendobj\r");
    EXPECT_EQ(objectText(pdf, 4),
              "<<\r/Type /Page\r/Parent 3 0 R\r/MediaBox [0 0 609 840]\r/Resources\r<<\r"
              "/XObject << /Im0 7 0 R >>\r/ProcSet 6 0 R \r>>\r/Contents [5 0 R]\r>>\rendobj\r");
    EXPECT_EQ(objectText(pdf, 5),
              "<<\r/Length 30\r>>\rstream\r\nq\r609 0 0 840 0 0 cm\r/Im0 Do\rQ\rendstream\r"
              "endobj\r");
}

TEST(PageObjects, ThirdPageRefersToItsOwnObjects) {
    const std::string pdf = convertToBytes({{}, {}, {}});
    EXPECT_NE(objectText(pdf, 3).find("/Kids [4 0 R 9 0 R 14 0 R ]\r/Count 3\r"),
              std::string::npos);
    const std::string third = objectText(pdf, 14);
    EXPECT_NE(third.find("/XObject << /Im2 17 0 R >>\r/ProcSet 16 0 R \r"), std::string::npos);
    EXPECT_NE(third.find("/Contents [15 0 R]\r"), std::string::npos);
    EXPECT_NE(objectText(pdf, 15).find("/Im2 Do\r"), std::string::npos);
}

TEST(PageObjects, ProcSetFollowsThePageKind) {
    const std::string pdf = convertToBytes({{.photometric = PHOTOMETRIC_RGB},
                                            {.compression = COMPRESSION_CCITTFAX4,
                                             .photometric = PHOTOMETRIC_MINISWHITE,
                                             .bitsPerSample = 1},
                                            {.compression = COMPRESSION_LZW}});
    EXPECT_EQ(objectText(pdf, 6), "[ /PDF /ImageC ]\rendobj\r");
    EXPECT_EQ(objectText(pdf, 11), "[ /PDF /ImageB ]\rendobj\r");
    EXPECT_EQ(objectText(pdf, 16), "[ /PDF /ImageI ]\rendobj\r");
}

// The window's files name the procedure set from the TIFF's layout, as they
// always have; the command line's name the image actually written.
TEST(PageObjects, ProcSetOfEachProfile) {
    using quorvex::OutputProfile;
    struct Case {
        const char* name;
        fixtures::PageRecipe page;
        OutputProfile profile;
        bool compact;
        const char* procSet;
    };
    const fixtures::PageRecipe bilevel{.bitsPerSample = 1};
    const fixtures::PageRecipe rgb{.photometric = PHOTOMETRIC_RGB};
    const fixtures::PageRecipe grey{.compression = COMPRESSION_LZW};
    const Case cases[] = {
        {"classic bilevel", bilevel, OutputProfile::Classic, false, "ImageI"},
        {"classic compact bilevel", bilevel, OutputProfile::Classic, true, "ImageI"},
        {"classic colour", rgb, OutputProfile::Classic, false, "ImageC"},
        {"standard bilevel", bilevel, OutputProfile::Standard, false, "ImageB"},
        {"standard compact bilevel (Group 4)", bilevel, OutputProfile::Standard, true, "ImageB"},
        {"standard colour", rgb, OutputProfile::Standard, false, "ImageC"},
        {"classic grey through a palette", grey, OutputProfile::Classic, false, "ImageI"},
        {"standard grey as grey", grey, OutputProfile::Standard, false, "ImageB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        quorvex::ConversionOptions options;
        options.profile = c.profile;
        options.compact = c.compact;
        const std::string pdf = convertedpdf::convertPages(
            {c.page}, quorvex::DocumentInfo::applicationDefaults(), options);
        EXPECT_EQ(objectText(pdf, 6), std::string("[ /PDF /") + c.procSet + " ]\rendobj\r");
    }
}

// Numbers are handed out in write order: information, Catalog, page tree,
// then each page's objects with its extras after its length.
TEST(ObjectNumbers, HandedOutInWriteOrderWithEachPagesExtras) {
    const auto plain = quorvex::DocumentObjectNumbers::allocate(2);
    EXPECT_EQ(std::vector<uint64_t>({plain.info, plain.catalog, plain.pages}),
              std::vector<uint64_t>({1, 2, 3}));
    ASSERT_EQ(plain.pageObjects.size(), 2u);
    const quorvex::PageObjects& second = plain.pageObjects[1];
    EXPECT_EQ(std::vector<uint64_t>(
                  {second.page, second.contents, second.procSet, second.image, second.length}),
              std::vector<uint64_t>({9, 10, 11, 12, 13}));
    EXPECT_EQ(plain.count, 13u);

    const auto extras = quorvex::DocumentObjectNumbers::allocate(
        3, [](uint32_t page) { return page == 0 ? 2U : 0U; });
    EXPECT_EQ(extras.pageObjects[0].extras, std::vector<uint64_t>({9, 10}));
    EXPECT_EQ(extras.pageObjects[1].page, 11u);
    EXPECT_EQ(extras.pageObjects[2].length, 20u);
    EXPECT_EQ(extras.count, 20u);
}

TEST(ObjectNumbers, TableRefusesObjectsOutOfTurnAndKnowsWhenAllAreWritten) {
    quorvex::PdfObjectTable table(3);
    table.place(1, 15);
    EXPECT_THROW(table.place(3, 40), std::logic_error);
    table.place(2, 30);
    EXPECT_FALSE(table.complete());
    table.place(3, 45);
    EXPECT_TRUE(table.complete());
    EXPECT_EQ(table.position(2), 30u);
    EXPECT_THROW(table.place(4, 60), std::logic_error);
}

TEST(PageObjects, LengthObjectHoldsTheImageStreamSize) {
    const std::string pdf = convertToBytes({{}});
    const std::string image = objectText(pdf, 7);
    const std::size_t start = image.find("stream\r\n") + 8;
    const std::size_t end = image.rfind("\rendstream\r");
    EXPECT_NE(image.find("/Length 8 0 R\r"), std::string::npos);
    EXPECT_EQ(objectText(pdf, 8), std::to_string(end - start) + "\rendobj\r");
}

TEST(DocumentInformation, WritesTheGivenTexts) {
    quorvex::DocumentInfo info;
    info.creator = "Creator";
    info.creationDate = "a date in any form";
    info.author = "Author";
    info.producer = "Producer";
    info.title = "Title";
    info.subject = "Subject";
    info.keywords = "Some keywords";
    EXPECT_EQ(objectText(convertToBytes({{}}, info), 1),
              "<<\r/Creator (Creator)\r/CreationDate (a date in any form)\r/Author (Author)\r"
              "/Producer (Producer)\r/Title (Title)\r/Subject (Subject)\r"
              "/Keywords (Some keywords)\r>>\rendobj\r");
}

TEST(DocumentInformation, DefaultsAreTheWindowsFixedValues) {
    const std::string info = objectText(convertToBytes({{}}), 1);
    EXPECT_NE(info.find("/Creator (Kestrune)\r"), std::string::npos);
    EXPECT_NE(info.find("/Title (Quorvex Tiff To Pdf Converter)\r"), std::string::npos);
    EXPECT_NE(info.find("/Subject (Tiff To Pdf Conversion)\r"), std::string::npos);
    EXPECT_NE(info.find("/Keywords (Tiff To Pdf https://"), std::string::npos);
    EXPECT_TRUE(
        std::regex_search(info, std::regex("/CreationDate \\(D:\\d{14}[+-]\\d\\d'\\d\\d'\\)\r")))
        << info;
}

TEST(DocumentInformation, ParenthesesAndBackslashesAreEscaped) {
    quorvex::DocumentInfo info = quorvex::DocumentInfo::applicationDefaults();
    info.title = "Scan (copy) C:\\in";
    support::TempDir dir;
    EXPECT_NE(objectText(convertToBytes({{}}, info), 1).find("/Title (Scan \\(copy\\) C:\\\\in)\r"),
              std::string::npos);
}

// ASCII stays a literal string byte for byte; any other text is UTF-16BE.
TEST(DocumentInformation, TextStrings) {
    const std::pair<std::string, std::string> cases[] = {
        {"Invoice 42", "(Invoice 42)"},
        {"", "()"},
        {"line\r\nbreak\t\033", "(line\\r\\nbreak\\t\\033)"},
        {"R\xC3\xAAsum\xC3\xA9", "<FEFF005200EA00730075006D00E9>"},
        {"\xE5\xB1\xA5(", "<FEFF5C650028>"},
        {"\xF0\x9F\x93\x84", "<FEFFD83DDCC4>"},
        {"caf\xE9", "<FEFF006300610066FFFD>"},  // Latin-1, not UTF-8
        {"\xE2\x82", "<FEFFFFFDFFFD>"},         // a cut sequence
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(quorvex::pdfTextString(text), expected) << text;
}

TEST(CreationDate, PdfDateInLocalTime) {
    const std::pair<const char*, const char*> zones[] = {
        {"UTC", "D:20070305120000+00'00'"},
        {"XST-05:30", "D:20070305173000+05'30'"},
        {"XST+03", "D:20070305090000-03'00'"},
    };
    for (const auto& [zone, expected] : zones) {
        support::setEnvironment("TZ", zone);
        ::tzset();
        EXPECT_EQ(quorvex::formatCreationDate(1173096000), expected) << zone;
    }
    support::setEnvironment("TZ", "UTC");
    ::tzset();
}

}  // namespace
