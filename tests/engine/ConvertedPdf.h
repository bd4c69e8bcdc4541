// Converting generated pages and reading objects out of the PDF's bytes, for
// tests that check what the writers put in the file.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace convertedpdf {

// The PDF's bytes for a TIFF of these pages (written in a temporary folder).
inline std::string convertPages(
    const std::vector<fixtures::PageRecipe>& pages,
    quorvex::DocumentInfo info = quorvex::DocumentInfo::applicationDefaults(),
    const quorvex::ConversionOptions& options = {}) {
    support::TempDir dir;
    const auto tiff = dir / "in.tif";
    fixtures::writeTiff(tiff, pages);
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    request.info = std::move(info);
    request.options = options;
    const auto outcome = quorvex::convertTiff(request);
    if (!outcome.ok())
        throw std::runtime_error(outcome.message + ": " + outcome.detail);
    return support::readFile(outcome.outputPath);
}

// Object `number`'s text after its "N 0 obj" line, up to and including
// "endobj"; empty when there is no such object.
inline std::string objectText(const std::string& pdf, int number) {
    const std::string header = "\r" + std::to_string(number) + " 0 obj\r";
    const std::size_t start = pdf.find(header);
    if (start == std::string::npos)
        return {};
    const std::size_t end = pdf.find("endobj\r", start);
    return pdf.substr(start + header.size(), end + 7 - start - header.size());
}

// The same text, cut before its stream data.
inline std::string objectDictionary(const std::string& pdf, int number) {
    const std::string text = objectText(pdf, number);
    return text.substr(0, text.find("stream\r\n"));
}

}  // namespace convertedpdf
