// One conversion run: opens the TIFF, refuses a CMYK first page, writes the
// PDF and reports the result, its reason and the damage found.
// Failures inside are ConversionErrors; convert() is the one place that turns
// them into the outcome's result, message and detail.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/Conversion.h"
#include "engine/pdf/PdfOutput.h"

namespace quorvex {

class ConversionError;
class TiffDocument;

class TiffToPdfConverter {
  public:
    // `writer` puts the PDF's bytes into its file (see PdfOutput::Writer).
    explicit TiffToPdfConverter(PdfOutput::Writer writer = platform::writeSome)
        : writer_(std::move(writer)) {}

    // Reason of the last failure; all zero while nothing failed. The texts
    // keep their historic spelling ("memmory", "Finsihed" in the window):
    // callers match on them.
    char messageText[255] = {};

    int convertTiffToPdf(const char* inputPath, const char* outputPath, const char* creator,
                         const char* creationDate, const char* author, const char* producer,
                         const char* title, const char* subject, const char* keywords);

    // The same run for callers that want the details.
    ConversionOutcome convert(const ConversionRequest& request);

  private:
    int run(const ConversionRequest& request, ConversionOutcome& outcome);
    void openInput(const ConversionRequest& request, const std::string& input,
                   TiffDocument& document, std::vector<std::string>& warnings);
    void openMergedInput(const ConversionRequest& request, const std::string& path,
                         TiffDocument& document, ConversionOutcome& outcome);
    std::vector<uint32_t> checkMergedInputs(const ConversionRequest& request,
                                            ConversionOutcome& outcome);
    void fail(ConversionOutcome& outcome, const ConversionError& error);
    void setMessage(const std::string& text);

    PdfOutput::Writer writer_;
    uint32_t skippedSubfiles_ = 0;             // over every input of the run
    std::vector<uint64_t> mergedProfileKeys_;  // of the further inputs' pages, in order
};

}  // namespace quorvex
