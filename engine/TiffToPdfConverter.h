// One conversion run: opens the TIFF, rewrites multi-strip fax files, refuses
// a CMYK first page, writes the PDF and reports the result and its reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Conversion.h"

namespace quorvex {

class TemporaryFile;
class TiffDocument;

class TiffToPdfConverter {
  public:
    // Reason of the last failure; all zero while nothing failed.
    char messageText[255] = {};

    int convertTiffToPdf(const char* inputPath, const char* outputPath, const char* creator,
                         const char* creationDate, const char* author, const char* producer,
                         const char* title, const char* subject, const char* keywords);

    // The same run for callers that want the details.
    ConversionOutcome convert(const ConversionRequest& request);

  private:
    int run(const ConversionRequest& request, ConversionOutcome& outcome);
    int openInput(const ConversionRequest& request, const std::string& input,
                  TiffDocument& document, TemporaryFile& faxCopy, ConversionOutcome& outcome);
    int checkMergedInputs(const ConversionRequest& request, std::vector<uint32_t>& pageCounts,
                          ConversionOutcome& outcome);
    int fail(int result, const std::string& message, ConversionOutcome& outcome,
             const std::string& detail = {});
    void setMessage(const std::string& text);
};

}  // namespace quorvex
