#include "hostile/IsolatedConversion.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace hostile {
namespace {

// Extra time the parent grants beyond the child's own alarm before it kills
// the child itself (an alarm can be lost when the child blocks signals).
constexpr auto kParentGrace = std::chrono::seconds(5);

void appendText(std::string& out, const std::string& text) {
    const uint32_t size = static_cast<uint32_t>(text.size());
    out.append(reinterpret_cast<const char*>(&size), sizeof size);
    out += text;
}

bool takeText(const std::string& in, std::size_t& at, std::string& text) {
    uint32_t size = 0;
    if (at + sizeof size > in.size())
        return false;
    std::memcpy(&size, in.data() + at, sizeof size);
    at += sizeof size;
    if (at + size > in.size())
        return false;
    text = in.substr(at, size);
    at += size;
    return true;
}

[[noreturn]] void runChild(int writeEnd, const quorvex::ConversionRequest& request,
                           const ChildLimits& limits) {
#ifndef QUORVEX_SANITIZED
    const rlimit memory{limits.addressSpaceBytes, limits.addressSpaceBytes};
    ::setrlimit(RLIMIT_AS, &memory);
#endif
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::alarm(static_cast<unsigned>(limits.time.count()));

    const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);
    std::string report;
    report.append(reinterpret_cast<const char*>(&outcome.result), sizeof outcome.result);
    appendText(report, outcome.message);
    appendText(report, outcome.detail);
    const char* data = report.data();
    std::size_t left = report.size();
    while (left > 0) {
        const ssize_t written = ::write(writeEnd, data, left);
        if (written <= 0)
            ::_exit(3);
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    ::_exit(0);
}

std::string readUntilClosed(int readEnd, pid_t child,
                            std::chrono::steady_clock::time_point deadline) {
    std::string report;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(child, SIGKILL);
            break;
        }
        pollfd wait{readEnd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(readEnd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        report.append(buffer, static_cast<std::size_t>(got));
    }
    return report;
}

}  // namespace

std::string IsolatedResult::describe() const {
    switch (end) {
        case End::Crashed:
            return "crashed with signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
        case End::TimedOut:
            return "still running after the time limit (" + std::to_string(seconds) + " s)";
        case End::Lost:
            return "ended with exit " + std::to_string(exitCode) +
                   " before reporting (a sanitizer report, if any, is on stderr)";
        case End::Finished:
            break;
    }
    return "result " + std::to_string(result) + (message.empty() ? "" : ", \"" + message + "\"") +
           (detail.empty() ? "" : " (" + detail + ")");
}

IsolatedResult convertInChild(const quorvex::ConversionRequest& request,
                              const ChildLimits& limits) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        ::close(ends[0]);
        runChild(ends[1], request, limits);
    }
    ::close(ends[1]);
    const std::string report = readUntilClosed(ends[0], child, start + limits.time + kParentGrace);
    ::close(ends[0]);

    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    IsolatedResult result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakResidentKiB = static_cast<uint64_t>(usage.ru_maxrss);
    if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
        const bool outOfTime = result.signal == SIGALRM || result.signal == SIGKILL;
        result.end = outOfTime ? IsolatedResult::End::TimedOut : IsolatedResult::End::Crashed;
        return result;
    }
    result.exitCode = WEXITSTATUS(status);
    std::size_t at = sizeof result.result;
    if (result.exitCode != 0 || report.size() < at)
        return result;
    std::memcpy(&result.result, report.data(), sizeof result.result);
    if (!takeText(report, at, result.message) || !takeText(report, at, result.detail))
        return result;
    result.end = IsolatedResult::End::Finished;
    return result;
}

std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

}  // namespace hostile
