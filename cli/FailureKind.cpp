#include "cli/FailureKind.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

namespace quorvex::cli {
namespace {

bool mentions(const JobResult& result, const char* text) {
    return result.outcome.detail.find(text) != std::string::npos ||
           result.reason.find(text) != std::string::npos;
}

bool ranOutOfMemory(const JobResult& result) {
    return mentions(result, "out of memory") || mentions(result, std::strerror(ENOMEM));
}

}  // namespace

FailureKind failureKindOf(const JobResult& result) {
    if (result.status == JobStatus::Cancelled)
        return FailureKind::Cancelled;
    if (result.status != JobStatus::Failed)
        return FailureKind::None;
    // Refused by the command line itself: two inputs for one PDF, a PDF
    // that would replace its input.
    return result.outcome.failure == FailureKind::None ? FailureKind::InputRefused
                                                       : result.outcome.failure;
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
#ifdef EDQUOT
    static const std::array kPassingErrors{ENOSPC, EDQUOT, EIO, ENOMEM, EAGAIN};
#else  // Windows has no quotas in errno's terms
    static const std::array kPassingErrors{ENOSPC, EIO, ENOMEM, EAGAIN};
#endif
    for (const int error : kPassingErrors) {
        if (mentions(result, std::strerror(error)))
            return true;
    }
    return false;
}

}  // namespace quorvex::cli
