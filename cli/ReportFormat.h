// The texts quorvex-tiff2pdf prints: one line per file, the summary and the
// live progress line. Pure functions, so the wording is testable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/BatchRunner.h"
#include "cli/Options.h"
#include "cli/TextEscape.h"

namespace quorvex::cli {

// "812 bytes", "1.5 KiB", "12.0 MiB", "2.3 GiB".
std::string formatSize(uint64_t bytes);

// "IN -> OUT (3 pages, 1.2 MiB)" ("IN (+2 more) -> OUT" for a merge), "IN: REASON (DETAIL)" or "IN:
// cancelled"; verbose adds the time taken and, for failures, libtiff's diagnostic on indented
// lines. No trailing newline.
std::string formatResult(const JobResult& result, Verbosity verbosity);

// "IN: damaged: WARNING; WARNING" for a converted file the TIFF of which
// could only partly be read; empty when nothing was lost.
std::string formatDamage(const JobResult& result);

// True when the line belongs on stderr (failures) rather than stdout.
bool isErrorResult(const JobResult& result);

// "converted X of Y files, Z failed, W skipped in T s", with "(D damaged)"
// after the files when some were.
std::string formatSummary(const BatchCounts& counts, std::size_t totalFiles, double seconds);

struct ProgressState {
    std::size_t filesDone = 0;
    std::size_t totalFiles = 0;
    std::size_t running = 0;  // files being converted now
    std::string currentFile;  // the one that reported last
    uint32_t pagesDone = 0;
    uint32_t pageCount = 0;  // 0: not known yet
};

// "[3/10] scan.tif: 2 of 5 pages (+1 running)", cut to at most width
// characters so the terminal never wraps it (a wrapped line cannot be erased
// with a carriage return).
std::string formatProgress(const ProgressState& state, std::size_t width);

}  // namespace quorvex::cli
