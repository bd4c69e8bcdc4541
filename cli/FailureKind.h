// What kind of failure ended a file, for schedulers deciding whether to try
// again: the engine's own kind, or the command line's for what it refused
// itself.
#pragma once

#include "cli/BatchRunner.h"

namespace quorvex::cli {

FailureKind failureKindOf(const JobResult& result);

// "input-unreadable", "input-refused", "too-large", "output-failed",
// "cancelled", "internal"; empty for None.
const char* failureKindName(FailureKind kind);

// A failure that may pass by itself: the disk or quota was full, the device
// failed to read or write, memory ran out. Another run may convert the file.
bool isWorthRetrying(const JobResult& result);

}  // namespace quorvex::cli
