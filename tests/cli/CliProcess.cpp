#include "CliProcess.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "fixtures/TiffFixture.h"

extern char** environ;

namespace clitest {
namespace fs = std::filesystem;
namespace {

std::vector<char*> argvFor(std::vector<std::string>& storage) {
    std::vector<char*> argv;
    for (std::string& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return argv;
}

int decodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return -1;
}

}  // namespace

std::string cliPath() {
    return QUORVEX_CLI_PATH;
}

support::CommandResult runCli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{cliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return support::runCommand(argv);
}

TerminalRun runCliOnTerminal(const std::vector<std::string>& args, unsigned short columns) {
    std::vector<std::string> storage{cliPath()};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv = argvFor(storage);  // built before forking: no allocation after

    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0)
        throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    TerminalRun run;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            run.output.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the child has closed the terminal
        }
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = decodeStatus(status);
    return run;
}

BackgroundCli::BackgroundCli(const std::vector<std::string>& args, const fs::path& outFile,
                             const fs::path& errFile, const fs::path& inFile,
                             const std::vector<std::string>& environment, int stderrDescriptor) {
    std::vector<std::string> storage{cliPath()};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv = argvFor(storage);
    std::vector<std::string> environmentStorage = environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environmentStorage.emplace_back(*entry);  // after ours: the first of a name counts
    std::vector<char*> envp = argvFor(environmentStorage);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (stderrDescriptor >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stderrDescriptor, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + storage[0]);
}

BackgroundCli::~BackgroundCli() {
    if (!reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
}

void BackgroundCli::sendSignal(int signalNumber) {
    if (!reaped_)
        kill(pid_, signalNumber);
}

namespace {

// The SigCgt mask of /proc/PID/status: bit N-1 set when signal N is caught.
uint64_t caughtSignalsOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("SigCgt:"))
            return std::stoull(line.substr(7), nullptr, 16);
    }
    return 0;
}

}  // namespace

bool BackgroundCli::waitUntilCatching(int signalNumber, std::chrono::milliseconds timeout) {
    const uint64_t bit = uint64_t{1} << (signalNumber - 1);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < deadline) {
        if ((caughtSignalsOf(pid_) & bit) != 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool BackgroundCli::running() {
    if (reaped_)
        return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_)
        reaped_ = true;
    return !reaped_;
}

std::optional<int> BackgroundCli::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!reaped_ || !WIFEXITED(status_))
        return std::nullopt;
    return WEXITSTATUS(status_);
}

void writeSampleTiff(const fs::path& path, unsigned pages, unsigned variant) {
    std::vector<fixtures::PageRecipe> pageList;
    for (unsigned i = 0; i < pages; ++i) {
        fixtures::PageRecipe page;
        page.width = 96 + 16 * variant;
        page.height = 64;
        page.photometric = PHOTOMETRIC_RGB;
        page.compression = COMPRESSION_LZW;
        page.rowsPerStrip = 16;
        page.variant = variant * 16 + i;
        pageList.push_back(page);
    }
    fixtures::writeTiff(path, pageList);
}

void writeNotATiff(const fs::path& path) {
    std::ofstream(path, std::ios::binary) << "This is a text file, not an image.\n";
}

namespace {

uint32_t readLittle(const std::string& bytes, std::size_t at, std::size_t size) {
    if (at + size > bytes.size())
        throw std::runtime_error("TIFF structure out of range");
    uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return value;
}

void writeLittle(std::string& bytes, std::size_t at, std::size_t size, uint32_t value) {
    for (std::size_t i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

void pointPageStripsPastEnd(const fs::path& path, unsigned pageIndex) {
    constexpr uint32_t kStripOffsetsTag = 273;
    constexpr uint32_t kTypeShort = 3;
    std::string bytes = support::readFile(path);
    if (bytes.compare(0, 4, std::string("II*\0", 4)) != 0) {
        throw std::runtime_error(path.string() + ": not a little-endian classic TIFF");
    }
    uint32_t directory = readLittle(bytes, 4, 4);
    for (unsigned page = 0; page < pageIndex; ++page) {
        directory = readLittle(bytes, directory + 2 + 12 * readLittle(bytes, directory, 2), 4);
    }
    const uint32_t entries = readLittle(bytes, directory, 2);
    for (uint32_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        if (readLittle(bytes, entry, 2) != kStripOffsetsTag)
            continue;
        const std::size_t width = readLittle(bytes, entry + 2, 2) == kTypeShort ? 2 : 4;
        const uint32_t count = readLittle(bytes, entry + 4, 4);
        const std::size_t values = count * width <= 4 ? entry + 8 : readLittle(bytes, entry + 8, 4);
        const uint32_t pastEnd = width == 2 ? 0xFFF0u : 0x7FFFFF00u;
        for (uint32_t s = 0; s < count; ++s)
            writeLittle(bytes, values + s * width, width, pastEnd);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return;
    }
    throw std::runtime_error(path.string() + ": page has no StripOffsets");
}

std::set<std::string> filesUnder(const fs::path& dir) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_directory())
            names.insert(entry.path().lexically_relative(dir).string());
    }
    return names;
}

}  // namespace clitest
