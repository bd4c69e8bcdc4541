#include "cli/FailureKind.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

namespace quorvex::cli {
namespace {

// The engine's reasons for a file it could not open or read through; its
// other input failures refuse what it opened (CMYK, a broken fax layout).
constexpr std::array<const char*, 3> kUnreadableReasons{
    "Unable to open file.", "Damaged TIFF file.", "No file name given."};

bool isUnreadable(const JobResult& result) {
    // Paths the folder scan could not take (a dangling link, an unreadable
    // folder) never got as far as an output.
    if (result.output.empty())
        return true;
    return std::find(kUnreadableReasons.begin(), kUnreadableReasons.end(), result.reason) !=
           kUnreadableReasons.end();
}

bool mentions(const JobResult& result, const char* text) {
    return result.detail.find(text) != std::string::npos ||
           result.reason.find(text) != std::string::npos;
}

bool ranOutOfMemory(const JobResult& result) {
    return mentions(result, "out of memory") || mentions(result, std::strerror(ENOMEM));
}

// Past the engine's limits for one page or one PDF.
bool isTooLarge(const JobResult& result) {
    return mentions(result, "page too large") || mentions(result, "too many pages");
}

}  // namespace

FailureKind failureKindOf(const JobResult& result) {
    if (result.status == JobStatus::Cancelled)
        return FailureKind::Cancelled;
    if (result.status != JobStatus::Failed)
        return FailureKind::None;
    if (result.internalError)
        return FailureKind::Internal;
    if (isTooLarge(result))
        return FailureKind::TooLarge;
    if (ranOutOfMemory(result))
        return FailureKind::Internal;
    switch (result.side) {
        case FailureSide::Output:
            return FailureKind::OutputFailed;
        case FailureSide::Input:
            return isUnreadable(result) ? FailureKind::InputUnreadable : FailureKind::InputRefused;
        case FailureSide::None:
            break;
    }
    // Refused by the command line itself: two inputs for one PDF, a PDF
    // that would replace its input.
    return FailureKind::InputRefused;
}

const char* failureKindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::None:
            return "";
        case FailureKind::InputUnreadable:
            return "input-unreadable";
        case FailureKind::InputRefused:
            return "input-refused";
        case FailureKind::TooLarge:
            return "too-large";
        case FailureKind::OutputFailed:
            return "output-failed";
        case FailureKind::Cancelled:
            return "cancelled";
        case FailureKind::Internal:
            break;
    }
    return "internal";
}

bool isWorthRetrying(const JobResult& result) {
    if (result.status != JobStatus::Failed)
        return false;
    if (ranOutOfMemory(result))
        return true;
    static const std::array kPassingErrors{ENOSPC, EDQUOT, EIO, ENOMEM, EAGAIN};
    for (const int error : kPassingErrors) {
        if (mentions(result, std::strerror(error)))
            return true;
    }
    return false;
}

}  // namespace quorvex::cli
