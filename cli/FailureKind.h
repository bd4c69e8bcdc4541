// What kind of failure ended a file, for schedulers deciding whether to try
// again. The engine is to report the kind itself (ConversionOutcome::failure);
// until it does, this is the one place that works it out from the failed
// side and the engine's texts, so that switching over touches only
// failureKindOf.
#pragma once

#include "cli/BatchRunner.h"

namespace quorvex::cli {

enum class FailureKind {
    None,
    InputUnreadable,
    InputRefused,
    TooLarge,
    OutputFailed,
    Cancelled,
    Internal
};

FailureKind failureKindOf(const JobResult& result);

// "input-unreadable", "input-refused", "too-large", "output-failed",
// "cancelled", "internal"; empty for None.
const char* failureKindName(FailureKind kind);

// A failure that may pass by itself: the disk or quota was full, the device
// failed to read or write, memory ran out. Another run may convert the file.
bool isWorthRetrying(const JobResult& result);

}  // namespace quorvex::cli
