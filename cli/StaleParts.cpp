#include "cli/StaleParts.h"

#include <filesystem>
#include <regex>
#include <system_error>

#include "engine/platform/Platform.h"

namespace quorvex::cli {
namespace fs = std::filesystem;
namespace {

// Converters are this program and the window, whose names the kernel cuts
// to 15 characters ("quorvex-tiff2pd").
constexpr const char* kConverterNamePrefix = "quorvex";
constexpr std::time_t kNetworkQuietSeconds = 3600;
// The start time is known to the clock tick, the file time to the second.
constexpr std::time_t kClockSlackSeconds = 1;

}  // namespace

std::optional<long> partFileOwner(const std::string& fileName) {
    static const std::regex kPartName(R"(\.quorvex-([0-9]{1,9})-[0-9]+-[0-9a-f]{8}\.part)");
    std::smatch match;
    if (!std::regex_match(fileName, match, kPartName))
        return std::nullopt;
    return std::stol(match[1].str());
}

std::optional<ProcessInfo> lookUpProcess(long pid) {
    const std::optional<platform::RunningProcess> process = platform::runningProcess(pid);
    if (!process)
        return std::nullopt;
    return ProcessInfo{process->name, process->startTime};
}

bool isStalePart(long owner, std::time_t lastWritten, bool networkFolder, std::time_t now,
                 const ProcessLookup& lookup) {
    if (networkFolder && now - lastWritten < kNetworkQuietSeconds)
        return false;
    const std::optional<ProcessInfo> process = lookup(owner);
    if (!process)
        return true;
    if (!process->name.starts_with(kConverterNamePrefix))
        return true;
    return process->startTime > lastWritten + kClockSlackSeconds;
}

std::vector<std::string> removeStaleParts(const std::vector<std::string>& folders,
                                          const ProcessLookup& lookup) {
    std::vector<std::string> removed;
    const std::time_t now = std::time(nullptr);
    for (const std::string& folder : folders) {
        const bool network = platform::isNetworkFolder(folder);
        std::error_code error;
        for (fs::directory_iterator it(platform::pathFromUtf8(folder), error), end;
             !error && it != end; it.increment(error)) {
            const std::optional<long> owner =
                partFileOwner(platform::utf8Of(it->path().filename()));
            if (!owner)
                continue;
            const std::optional<std::time_t> written =
                platform::lastWriteOfRegularFile(platform::utf8Of(it->path()));
            if (!written || !isStalePart(*owner, *written, network, now, lookup))
                continue;
            std::error_code ignored;
            if (fs::remove(it->path(), ignored))
                removed.push_back(platform::utf8Of(it->path()));
        }
    }
    return removed;
}

}  // namespace quorvex::cli
