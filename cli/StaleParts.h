// A conversion killed outright (kill -9, the out-of-memory killer, a lost
// node) cannot remove its hidden temporary file; the next run in the same
// output folders does. The engine names the file
// ".quorvex-PID-N-XXXXXXXX.part" after the process writing it.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::cli {

// The PID in a temporary file's name, or nullopt when the name is not one.
std::optional<long> partFileOwner(const std::string& fileName);

// What is known of a running process.
struct ProcessInfo {
    std::string name;       // /proc/PID/comm
    std::time_t startTime;  // seconds since the epoch
};

// Looks a process up; nullopt when no process has that PID.
using ProcessLookup = std::function<std::optional<ProcessInfo>(long pid)>;
std::optional<ProcessInfo> lookUpProcess(long pid);

// A temporary file is stale when its process is gone, or the PID now
// belongs to a process that is not a converter or that started after the
// file was last written to (the PID was used again). On a network file
// system the PID may be another machine's, so there the file must also be
// untouched for an hour.
bool isStalePart(long owner, std::time_t lastWritten, bool networkFolder, std::time_t now,
                 const ProcessLookup& lookup);

// Removes the stale temporary files in the folders; returns their paths.
std::vector<std::string> removeStaleParts(const std::vector<std::string>& folders,
                                          const ProcessLookup& lookup = lookUpProcess);

}  // namespace quorvex::cli
