#include "cli/StaleParts.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <system_error>

namespace quorvex::cli {
namespace fs = std::filesystem;
namespace {

// Converters are this program and the window, whose names the kernel cuts
// to 15 characters ("quorvex-tiff2pd").
constexpr const char* kConverterNamePrefix = "quorvex";
constexpr std::time_t kNetworkQuietSeconds = 3600;
// The start time is known to the clock tick, the file time to the second.
constexpr std::time_t kClockSlackSeconds = 1;

// File system types whose folders other machines write into too.
constexpr std::array<unsigned long, 12> kNetworkFileSystems{
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x65735546,  // FUSE (sshfs, s3fs, gcsfuse)
    0x00C36400,  // CephFS
    0x01161970,  // GFS2
    0x0BD00BD0,  // Lustre
    0x47504653,  // GPFS
    0x5346414F,  // AFS
    0x01021997,  // 9P (v9fs)
    0x013111A8,  // IBRIX
};

bool isNetworkFolder(const fs::path& folder) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        return true;  // unknown: the cautious answer
    const auto type = static_cast<unsigned long>(info.f_type);
    return std::find(kNetworkFileSystems.begin(), kNetworkFileSystems.end(), type) !=
           kNetworkFileSystems.end();
}

std::time_t bootTime() {
    std::ifstream stat("/proc/stat");
    for (std::string key; stat >> key;) {
        if (key == "btime") {
            std::time_t seconds = 0;
            stat >> seconds;
            return seconds;
        }
        stat.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

// Field 22 of /proc/PID/stat, in clock ticks after boot; the fields are
// counted after the name, which is in parentheses and may hold spaces.
std::optional<std::time_t> startTimeOf(long pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 22)
            return bootTime() +
                   static_cast<std::time_t>(std::stoull(field) / static_cast<unsigned long long>(
                                                                     ::sysconf(_SC_CLK_TCK)));
    }
    return std::nullopt;
}

// Field 3 of /proc/PID/stat: 'Z' for a process that has ended and waits
// only to be reaped (a killed run whose parent is gone, where nothing reaps
// orphans): it writes nothing any more.
bool isZombie(long pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t nameEnd = text.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < text.size() && text[nameEnd + 2] == 'Z';
}

}  // namespace

std::optional<long> partFileOwner(const std::string& fileName) {
    static const std::regex kPartName(R"(\.quorvex-([0-9]{1,9})-[0-9]+-[0-9a-f]{8}\.part)");
    std::smatch match;
    if (!std::regex_match(fileName, match, kPartName))
        return std::nullopt;
    return std::stol(match[1].str());
}

std::optional<ProcessInfo> lookUpProcess(long pid) {
    if ((::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) || isZombie(pid))
        return std::nullopt;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    ProcessInfo info{};
    std::getline(comm, info.name);
    const std::optional<std::time_t> start = startTimeOf(pid);
    if (!comm || !start)
        return std::nullopt;  // ended while it was being looked at
    info.startTime = *start;
    return info;
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
        const bool network = isNetworkFolder(folder);
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::optional<long> owner = partFileOwner(it->path().filename().string());
            struct stat info {};
            if (!owner || ::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            if (!isStalePart(*owner, info.st_mtime, network, now, lookup))
                continue;
            std::error_code ignored;
            if (fs::remove(it->path(), ignored))
                removed.push_back(it->path().string());
        }
    }
    return removed;
}

}  // namespace quorvex::cli
