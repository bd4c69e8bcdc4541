#include "engine/TiffToPdfConverter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/pdf/DocumentAssembly.h"
#include "engine/pdf/PdfOutput.h"
#include "engine/tiff/TiffDocument.h"

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

// The objects below are declared in release order: the output is discarded
// (unless committed) before the document closes.
int TiffToPdfConverter::run(const ConversionRequest& request, ConversionOutcome& outcome) {
    const std::string& input = request.inputPath;
    if (input.size() > kMaxPathLength || request.outputPath.size() > kMaxPathLength)
        throw ConversionError::input(Result::Refused, "Path is longer than 255 characters.");
    outcome.outputPath = request.outputPath.empty() ? deriveOutputPath(input) : request.outputPath;
    if (outcome.outputPath.empty()) {
        throw ConversionError::input(Result::Refused,
                                     "Path is too short to name the PDF after it.");
    }
    silenceLibtiffGlobalHandlers();

    TiffDocument document;
    struct DiagnosticsCopy {
        ConversionOutcome& outcome;
        TiffDocument& document;
        ~DiagnosticsCopy() { outcome.diagnostic = document.diagnostics().text(); }
    } keepDiagnostics{outcome, document};

    document.open(input);
    outcome.pageCount = static_cast<uint32_t>(document.getPageCount());
    if (!document.truncation().empty())
        outcome.warnings.push_back(document.truncation());
    if (document.page().photometric == PHOTOMETRIC_SEPARATED)
        throw ConversionError::input(Result::Failed, kCmykRefused);

    if (const std::string obstacle = outputObstacle(outcome.outputPath); !obstacle.empty())
        throw ConversionError::output(Result::Refused, kUnableToOpen, obstacle);
    const std::unique_ptr<PdfOutput> out = PdfOutput::create(outcome.outputPath);

    writeDocument(
        *out, document, request.info,
        AssemblyHooks{request.cancel, request.onPageDone, request.threads, &outcome.warnings});
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
