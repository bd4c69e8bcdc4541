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

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "; ") + line;
    return text;
}

std::string skippedSubfilesNote(uint32_t count) {
    return std::to_string(count) + (count == 1 ? " subfile" : " subfiles") +
           " skipped (reduced-resolution copies and transparency masks are not pages)";
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
        fail(outcome, error);
    } catch (const std::bad_alloc&) {
        fail(outcome, ConversionError::outOfMemory("out of memory"));
    } catch (const std::exception& failure) {
        fail(outcome, ConversionError::internal(failure.what(), LegacyReason::General));
    }
    return outcome;
}

void TiffToPdfConverter::fail(ConversionOutcome& outcome, const ConversionError& error) {
    const LegacyText legacy = legacyTextOf(error.legacy());
    outcome.result = legacy.result;
    outcome.failure = error.kind();
    outcome.detail = error.detail();
    outcome.message = legacy.text;
    setMessage(legacy.text);
}

// Opens one input (from memory when the request carries its bytes); the
// classic profile refuses a CMYK first page, as its files always have. A page
// list cut short is added to the warnings.
void TiffToPdfConverter::openInput(const ConversionRequest& request, const std::string& input,
                                   TiffDocument& document, std::vector<std::string>& warnings) {
    document.setDefaultResolution(static_cast<float>(request.options.defaultDpi));
    document.setForcedResolution(static_cast<float>(request.options.forcedDpi));
    if (request.inputBytes && input == request.inputPath)
        document.openMemory(request.inputBytes, input);
    else
        document.open(input);
    if (!document.truncation().empty())
        warnings.push_back(document.truncation());
    if (request.options.profile == OutputProfile::Classic &&
        document.page().photometric == PHOTOMETRIC_SEPARATED)
        throw ConversionError::refused("the first page is CMYK", LegacyReason::CmykRefused);
}

// Opens one input of a merge: what is said about it, a failure included,
// names the file.
void TiffToPdfConverter::openMergedInput(const ConversionRequest& request, const std::string& path,
                                         TiffDocument& document, ConversionOutcome& outcome) {
    std::vector<std::string> warnings;
    try {
        openInput(request, path, document, warnings);
    } catch (const ConversionError& error) {
        if (error.isCancellation())
            throw;
        outcome.diagnostic = document.diagnostics().text();
        throw error.about(path);
    }
    for (const std::string& warning : warnings)
        outcome.warnings.emplace_back(path + ": ").append(warning);
    skippedSubfiles_ += document.skippedSubfiles();
}

// Checks every further input of a merge before anything is written and
// counts its pages; each is closed again, so only one is open at a time.
std::vector<uint32_t> TiffToPdfConverter::checkMergedInputs(const ConversionRequest& request,
                                                            ConversionOutcome& outcome) {
    std::vector<uint32_t> pageCounts;
    mergedProfileKeys_.clear();
    for (const std::string& path : request.mergedInputs) {
        TiffDocument document;
        openMergedInput(request, path, document, outcome);
        const std::vector<uint64_t>& keys = document.profileKeys();
        mergedProfileKeys_.insert(mergedProfileKeys_.end(), keys.begin(), keys.end());
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
        throw ConversionError::outputFailed("no file name given", LegacyReason::NoFileName);
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

    skippedSubfiles_ = 0;
    if (request.mergedInputs.empty()) {
        openInput(request, input, document, outcome.warnings);
        skippedSubfiles_ = document.skippedSubfiles();
    } else {
        openMergedInput(request, input, document, outcome);
    }
    outcome.pageCount = static_cast<uint32_t>(document.getPageCount());
    std::vector<uint32_t> mergedPageCounts = checkMergedInputs(request, outcome);
    if (skippedSubfiles_ > 0)
        outcome.notes.push_back(skippedSubfilesNote(skippedSubfiles_));

    const std::unique_ptr<PdfOutput> out =
        PdfOutput::create(outcome.outputPath, request.cancel, writer_);

    const AssemblyHooks hooks{request.cancel, request.onPageDone, &outcome.warnings,
                              &outcome.notes};
    if (request.mergedInputs.empty()) {
        writeDocument(*out, document, request.info, request.options, hooks);
    } else {
        MergedPages pages(document, input, request.mergedInputs, mergedPageCounts,
                          [&](const std::string& path, TiffDocument& next) {
                              std::vector<std::string> seenBefore;
                              openInput(request, path, next, seenBefore);
                          });
        pages.addProfileKeys(mergedProfileKeys_);
        writeDocument(*out, pages, request.info, request.options, hooks);
    }
    if (request.options.strict && outcome.damaged())
        throw ConversionError::unreadable(joined(outcome.warnings), LegacyReason::Damaged);
    outcome.bytesWritten = out->position();
    out->commit();
    return 1;
}

ConversionOutcome convertTiff(const ConversionRequest& request) {
    TiffToPdfConverter converter;
    if (!request.options.archival)
        return converter.convert(request);
    // An archival file is a standard one with more: every choice the engine
    // makes by profile (a CMYK first page, colour profiles) must see that.
    ConversionRequest archival = request;
    archival.options.profile = OutputProfile::Standard;
    return converter.convert(archival);
}

}  // namespace quorvex
