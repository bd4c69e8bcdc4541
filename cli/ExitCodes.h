// Exit statuses of quorvex-tiff2pdf, shared by the entry point and the tests.
#pragma once

namespace quorvex::cli {

inline constexpr int kExitSuccess = 0;        // every file converted whole, or skipped
inline constexpr int kExitFailure = 1;        // at least one file failed
inline constexpr int kExitUsage = 2;          // bad command line, nothing was written
inline constexpr int kExitDamaged = 3;        // all converted, some with unreadable parts
inline constexpr int kExitRetry = 4;          // a failure that may pass (disk full, EIO, memory)
inline constexpr int kExitInterrupted = 130;  // SIGINT (128 + 2)
inline constexpr int kExitTerminated = 143;   // SIGTERM (128 + 15)

}  // namespace quorvex::cli
