// Runs one conversion in a forked child with a memory limit and an alarm, so
// that a crash, a hang or runaway memory on one damaged file is reported as
// that file's failure instead of ending the whole suite.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "engine/Conversion.h"

namespace hostile {

struct ChildLimits {
    std::chrono::seconds time{10};
    // Address-space limit of the child. Not applied under AddressSanitizer,
    // whose shadow memory needs terabytes of address space; huge allocations
    // then fail through the allocator's own limit instead.
    uint64_t addressSpaceBytes = uint64_t{3} << 30;
};

struct IsolatedResult {
    enum class End { Finished, Crashed, TimedOut, Lost };
    End end = End::Lost;
    int signal = 0;    // the signal that ended the child
    int exitCode = 0;  // the child's exit code when it did not finish
    // What convertTiff returned, when the child finished.
    int result = 0;
    std::string message;
    std::string detail;
    double seconds = 0;
    uint64_t peakResidentKiB = 0;

    bool finished() const { return end == End::Finished; }
    bool converted() const { return finished() && result == 1; }
    // "crashed with signal 11", "timed out after 10 s", "result 1", ...
    std::string describe() const;
};

IsolatedResult convertInChild(const quorvex::ConversionRequest& request,
                              const ChildLimits& limits = {});

// Names of the entries in a folder (not recursive).
std::set<std::string> namesIn(const std::filesystem::path& folder);

}  // namespace hostile
