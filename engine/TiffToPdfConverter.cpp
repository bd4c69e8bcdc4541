#include "engine/TiffToPdfConverter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/EngineError.h"
#include "engine/MergedPages.h"
#include "engine/pdf/DocumentAssembly.h"
#include "engine/pdf/PdfOutput.h"
#include "engine/tiff/FaxRewrite.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {
namespace {

constexpr const char* kUnableToOpen = "Unable to open file.";
constexpr const char* kInvalidFax = "Unable to convert tiff. invalid fax format.";
constexpr const char* kCmykRefused = "CMYK File Format not accepted";
constexpr const char* kUnableToWrite = "Unable to write file.";
constexpr const char* kCancelled = "Conversion cancelled.";
constexpr const char* kGeneralFailure = "Error in convertTiffToPdf";

// A fax page has one 1-bit sample per pixel; anything else is damage that
// the rewrite would only spend time and memory on.
bool isPlausibleFax(const TiffDocument& document) {
    return document.samplesPerPixel <= 1 && document.bitsPerSample <= 1;
}

bool needsFaxRewrite(const TiffDocument& document) {
    return document.isFaxCompressed() && TIFFNumberOfStrips(document.tiff.get()) > 1 &&
           document.samplesPerPixel != 0 && document.bitsPerSample != 0;
}

std::string describeOpenFailure(const std::string& path, const TiffDiagnostics& diagnostics) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return "it is a folder";
    if (::access(path.c_str(), R_OK) != 0)
        return std::strerror(errno);
    if (!diagnostics.lastError().empty())
        return diagnostics.lastError();
    return "not a readable TIFF file";
}

// Why the output cannot go where it was asked, before anything is written.
std::string outputObstacle(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    if (S_ISDIR(info.st_mode))
        return path + " is a folder";
    if (::access(path.c_str(), W_OK) != 0)
        return path + ": " + std::strerror(errno);
    return {};
}

std::string orEmpty(const char* text) {
    return text != nullptr ? text : std::string();
}

}  // namespace

void TiffToPdfConverter::setMessage(const std::string& text) {
    std::memset(messageText, 0, sizeof messageText);
    std::strncpy(messageText, text.c_str(), sizeof messageText - 1);
}

int TiffToPdfConverter::fail(int result, const std::string& message, ConversionOutcome& outcome,
                             const std::string& detail) {
    setMessage(message);
    outcome.detail = detail;
    return result;
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
    } catch (const EngineFailure& failure) {
        outcome.result =
            fail(0, std::string("Error in function reason - ") + reasonForCode(failure.code()),
                 outcome, failure.what());
    } catch (const OutputFailure& failure) {
        outcome.result = fail(0, kUnableToWrite, outcome, failure.what());
    } catch (const ConversionCancelled&) {
        outcome.cancelled = true;
        outcome.result = fail(0, kCancelled, outcome);
    } catch (const std::exception& failure) {
        outcome.result = fail(0, kGeneralFailure, outcome, failure.what());
    } catch (...) {
        outcome.result = fail(0, kGeneralFailure, outcome);
    }
    outcome.message = messageText;
    if (outcome.ok())
        outcome.message.clear();
    return outcome;
}

// Opens one input (from memory when the request carries its bytes) and
// readies it: the fax rewrite, the CMYK refusal. Returns 1 or the failure.
int TiffToPdfConverter::openInput(const ConversionRequest& request, const std::string& input,
                                  TiffDocument& document, TemporaryFile& faxCopy,
                                  ConversionOutcome& outcome) {
    if (request.defaultDpi > 0)
        document.setDefaultResolution(static_cast<float>(request.defaultDpi));
    const bool fromMemory = request.inputBytes && input == request.inputPath;
    if (!(fromMemory ? document.openMemory(request.inputBytes, input.c_str())
                     : document.open(input.c_str()))) {
        return fail(-1, kUnableToOpen, outcome,
                    fromMemory ? document.diagnostics().lastError()
                               : describeOpenFailure(input, document.diagnostics()));
    }
    if (needsFaxRewrite(document)) {
        if (!isPlausibleFax(document)) {
            return fail(-1, kInvalidFax, outcome,
                        "the fax page claims more than one bit per pixel");
        }
        std::string reason;
        if (rewriteAsSingleStrip(document, input, faxCopy, reason, request.cancel) != 1) {
            return fail(-1, kInvalidFax, outcome, reason);
        }
    }
    if (document.photometric == PHOTOMETRIC_SEPARATED)
        return fail(0, kCmykRefused, outcome);
    return 1;
}

// Checks every further input of a merge before anything is written, and
// counts its pages; each is closed again so that only one is open at a time.
int TiffToPdfConverter::checkMergedInputs(const ConversionRequest& request,
                                          std::vector<uint32_t>& pageCounts,
                                          ConversionOutcome& outcome) {
    for (const std::string& path : request.mergedInputs) {
        TemporaryFile faxCopy;
        TiffDocument document;
        const int opened = openInput(request, path, document, faxCopy, outcome);
        if (opened != 1) {
            outcome.diagnostic = document.diagnostics().text();
            outcome.detail = path + ": " + (outcome.detail.empty() ? messageText : outcome.detail);
            return opened;
        }
        pageCounts.push_back(static_cast<uint32_t>(document.getPageCount()));
        outcome.pageCount += pageCounts.back();
    }
    return 1;
}

// The objects below are declared in release order: the output is discarded
// (unless committed) first, then the document closes, then the temporary fax
// file it had open is removed.
int TiffToPdfConverter::run(const ConversionRequest& request, ConversionOutcome& outcome) {
    const std::string& input = request.inputPath;
    outcome.outputPath = request.outputPath.empty() ? deriveOutputPath(input) : request.outputPath;
    if (outcome.outputPath.empty()) {
        return fail(-1, "No file name given.", outcome);
    }
    silenceLibtiffGlobalHandlers();

    TemporaryFile faxCopy;
    TiffDocument document;
    struct DiagnosticsCopy {
        ConversionOutcome& outcome;
        TiffDocument& document;
        ~DiagnosticsCopy() {
            if (outcome.diagnostic.empty())
                outcome.diagnostic = document.diagnostics().text();
        }
    } keepDiagnostics{outcome, document};

    if (const int opened = openInput(request, input, document, faxCopy, outcome); opened != 1)
        return opened;
    outcome.pageCount = static_cast<uint32_t>(document.getPageCount());
    std::vector<uint32_t> mergedPageCounts;
    if (const int checked = checkMergedInputs(request, mergedPageCounts, outcome); checked != 1)
        return checked;

    if (const std::string obstacle = outputObstacle(outcome.outputPath); !obstacle.empty()) {
        return fail(-1, kUnableToOpen, outcome, obstacle);
    }
    std::string error;
    const std::unique_ptr<PdfOutput> out = PdfOutput::create(outcome.outputPath, &error);
    if (!out)
        return fail(-1, kUnableToOpen, outcome, error);

    const AssemblyHooks hooks{request.cancel, request.onPageDone, request.threads};
    if (request.mergedInputs.empty()) {
        writeDocument(*out, document, request.info, hooks);
    } else {
        MergedPages pages(document, request.mergedInputs, std::move(mergedPageCounts),
                          [&](const std::string& path, TiffDocument& next, TemporaryFile& fax) {
                              ConversionOutcome ignored;
                              return openInput(request, path, next, fax, ignored) == 1;
                          });
        writeDocument(*out, pages, request.info, hooks);
    }
    outcome.bytesWritten = out->position();
    out->commit();
    return 1;
}

}  // namespace quorvex
