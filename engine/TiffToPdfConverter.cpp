#include "engine/TiffToPdfConverter.h"

#include <cstring>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/MergedPages.h"
#include "engine/pdf/DocumentAssembly.h"
#include "engine/pdf/PdfOutput.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

constexpr const char* kUnableToOpen = "Unable to open file.";
constexpr const char* kCmykRefused = "CMYK File Format not accepted";
constexpr const char* kDamaged = "Damaged TIFF file.";
constexpr const char* kGeneralFailure = "Error in convertTiffToPdf";

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "; ") + line;
    return text;
}

std::string orEmpty(const char* text) {
    return text != nullptr ? text : std::string();
}

}  // namespace

void TiffToPdfConverter::setMessage(const std::string& text) {
    std::memset(messageText, 0, sizeof messageText);
    std::strncpy(messageText, text.c_str(), sizeof messageText - 1);
}

int TiffToPdfConverter::convertTiffToPdf(const char* inputPath, const char* outputPath,
                                         const char* creator, const char* creationDate,
                                         const char* author, const char* producer,
                                         const char* title, const char* subject,
                                         const char* keywords) {
    ConversionRequest request;
    request.inputPath = orEmpty(inputPath);
    request.outputPath = orEmpty(outputPath);
    request.info.creator = orEmpty(creator);
    request.info.creationDate =
        creationDate != nullptr ? std::optional<std::string>(creationDate) : std::nullopt;
    request.info.author = orEmpty(author);
    request.info.producer = orEmpty(producer);
    request.info.title = orEmpty(title);
    request.info.subject = orEmpty(subject);
    request.info.keywords = orEmpty(keywords);
    return convert(request).result;
}

ConversionOutcome TiffToPdfConverter::convert(const ConversionRequest& request) {
    ConversionOutcome outcome;
    try {
        outcome.result = run(request, outcome);
    } catch (const ConversionError& error) {
        outcome.result = error.publicResult();
        outcome.cancelled = error.isCancellation();
        outcome.failedSide = error.side();
        setMessage(error.reason());
        outcome.detail = error.detail();
    } catch (const std::exception& failure) {
        outcome.result = 0;
        outcome.failedSide = FailureSide::Input;
        setMessage(kGeneralFailure);
        outcome.detail = failure.what();
    }
    outcome.message = outcome.ok() ? std::string() : std::string(messageText);
    return outcome;
}

// Opens one input (from memory when the request carries its bytes) and
// refuses a CMYK first page. A page list cut short is added to the warnings.
void TiffToPdfConverter::openInput(const ConversionRequest& request, const std::string& input,
                                   TiffDocument& document, std::vector<std::string>& warnings) {
    document.setDefaultResolution(static_cast<float>(request.defaultDpi));
    if (request.inputBytes && input == request.inputPath)
        document.openMemory(request.inputBytes, input);
    else
        document.open(input);
    if (!document.truncation().empty())
        warnings.push_back(document.truncation());
    if (document.page().photometric == PHOTOMETRIC_SEPARATED)
        throw ConversionError::input(Result::Failed, kCmykRefused);
}

// Checks every further input of a merge before anything is written and
// counts its pages; each is closed again, so only one is open at a time.
// A failure names the file it is about.
std::vector<uint32_t> TiffToPdfConverter::checkMergedInputs(const ConversionRequest& request,
                                                            ConversionOutcome& outcome) {
    std::vector<uint32_t> pageCounts;
    for (const std::string& path : request.mergedInputs) {
        TiffDocument document;
        std::vector<std::string> warnings;
        try {
            openInput(request, path, document, warnings);
        } catch (const ConversionError& error) {
            if (error.isCancellation())
                throw;
            outcome.diagnostic = document.diagnostics().text();
            throw ConversionError(error.result(), error.reason(), path + ": " + error.what(),
                                  error.side());
        }
        for (const std::string& warning : warnings)
            outcome.warnings.push_back(path + ": " + warning);
        pageCounts.push_back(static_cast<uint32_t>(document.getPageCount()));
        outcome.pageCount += pageCounts.back();
    }
    return pageCounts;
}

// The objects below are declared in release order: the output is discarded
// (unless committed) before the document closes.
int TiffToPdfConverter::run(const ConversionRequest& request, ConversionOutcome& outcome) {
    const std::string& input = request.inputPath;
    outcome.outputPath = request.outputPath.empty() ? deriveOutputPath(input) : request.outputPath;
    if (outcome.outputPath.empty())
        throw ConversionError::input(Result::Refused, "No file name given.");
    silenceLibtiffGlobalHandlers();

    TiffDocument document;
    struct DiagnosticsCopy {
        ConversionOutcome& outcome;
        TiffDocument& document;
        ~DiagnosticsCopy() {
            if (outcome.diagnostic.empty())
                outcome.diagnostic = document.diagnostics().text();
        }
    } keepDiagnostics{outcome, document};

    openInput(request, input, document, outcome.warnings);
    outcome.pageCount = static_cast<uint32_t>(document.getPageCount());
    std::vector<uint32_t> mergedPageCounts = checkMergedInputs(request, outcome);

    const std::unique_ptr<PdfOutput> out = PdfOutput::create(outcome.outputPath, request.cancel);

    const int level =
        request.flateLevel.value_or(request.compact ? kCompactFlateLevel : kDefaultFlateLevel);
    const AssemblyHooks hooks{request.cancel,  request.onPageDone,
                              request.threads, &outcome.warnings,
                              level,           request.compact};
    if (request.mergedInputs.empty()) {
        writeDocument(*out, document, request.info, hooks);
    } else {
        MergedPages pages(document, request.mergedInputs, std::move(mergedPageCounts),
                          [&](const std::string& path, TiffDocument& next) {
                              std::vector<std::string> seenBefore;
                              openInput(request, path, next, seenBefore);
                          });
        writeDocument(*out, pages, request.info, hooks);
    }
    if (request.strict && outcome.damaged())
        throw ConversionError::input(Result::Failed, kDamaged, joined(outcome.warnings));
    outcome.bytesWritten = out->position();
    out->commit();
    return 1;
}

ConversionOutcome convertTiff(const ConversionRequest& request) {
    TiffToPdfConverter converter;
    return converter.convert(request);
}

}  // namespace quorvex
