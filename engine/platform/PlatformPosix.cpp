// Linux and the other POSIX systems: the one file that knows about
// descriptors, stat(), rename() and signals.
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "engine/StopSignals.h"
#include "engine/platform/Platform.h"
#include "engine/platform/TemporaryRegistry.h"

namespace quorvex::platform {
namespace {

std::string errnoText(int error = errno) {
    return std::strerror(error);
}

const char* fileKind(mode_t mode) {
    if (S_ISDIR(mode))
        return "it is a folder";
    if (S_ISFIFO(mode))
        return "not a regular file (FIFO)";
    if (S_ISSOCK(mode))
        return "not a regular file (socket)";
    if (S_ISCHR(mode))
        return "not a regular file (character device)";
    if (S_ISBLK(mode))
        return "not a regular file (block device)";
    return "not a regular file";
}

bool isStreamKind(mode_t mode) {
    return S_ISCHR(mode) || S_ISFIFO(mode) || S_ISSOCK(mode);
}

// The descriptor a path names through the kernel's links to a process's
// open files (/dev/stdout leads to /proc/self/fd/1). Reopening such a path
// would start a new file position, or fail for a pipe's "pipe:[…]" target;
// writing into the descriptor itself is what the user means.
std::optional<int> descriptorNamed(const std::string& path) {
    const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
    for (const std::string& prefix : {std::string("/proc/self/fd/"), std::string("/dev/fd/"),
                                      std::string("/proc/thread-self/fd/"), own}) {
        if (!path.starts_with(prefix) || path.size() == prefix.size())
            continue;
        const std::string number = path.substr(prefix.size());
        if (number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        return std::stoi(number);
    }
    return std::nullopt;
}

// One step along a link: its target, relative to the link's folder.
std::optional<std::string> linkTarget(const std::string& path, std::size_t sizeHint) {
    std::string target(sizeHint + 256, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size())
        return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    const auto slash = path.find_last_of('/');
    if (target.starts_with('/') || slash == std::string::npos)
        return target;
    return path.substr(0, slash + 1) + target;
}

// Where a path ends up after its links, stopping at a descriptor's name. A
// dangling link still names the file to create.
std::string followLinks(const std::string& path, std::optional<int>& descriptor) {
    constexpr int kMaxLinks = 40;  // the kernel's own limit (ELOOP)
    std::string current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        descriptor = descriptorNamed(current);
        if (descriptor)
            return current;
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        const std::optional<std::string> next =
            linkTarget(current, static_cast<std::size_t>(info.st_size));
        if (!next)
            return current;
        current = *next;
    }
    return current;
}

OutputTarget refused(std::string why) {
    OutputTarget target;
    target.kind = OutputTarget::Kind::Refused;
    target.refusal = std::move(why);
    return target;
}

FileHandle duplicateForWriting(int descriptor, std::string& error) {
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0) {
        error = "descriptor " + std::to_string(descriptor) + " is not open";
        return {};
    }
    if ((flags & O_ACCMODE) == O_RDONLY) {
        error = "descriptor " + std::to_string(descriptor) + " is open for reading only";
        return {};
    }
    FileHandle copy(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0));
    if (!copy)
        error = "cannot write into descriptor " + std::to_string(descriptor) + ": " + errnoText();
    return copy;
}

FileHandle connectSocket(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "the socket's path is too long to connect to: " + path;
        return {};
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    for (const int type : {SOCK_STREAM, SOCK_SEQPACKET}) {
        FileHandle socket(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
        if (!socket)
            break;
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            0) {
            return socket;
        }
        if (errno != EPROTOTYPE)
            break;
    }
    error = "cannot connect to the socket " + path + ": " + errnoText();
    return {};
}

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load();
}

// A FIFO opened for writing waits for a reader; opened without waiting it
// fails (ENXIO) until one comes, so the wait can watch the cancel flag.
FileHandle openDeviceOrFifo(const std::string& path, const std::atomic<bool>* cancel,
                            std::string& error) {
    for (;;) {
        FileHandle file(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (file) {
            const int flags = ::fcntl(file.get(), F_GETFL);
            if (flags >= 0)
                ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
            return file;
        }
        if (errno != ENXIO || cancelled(cancel)) {
            error = cancelled(cancel) ? "cancelled"
                                      : "cannot open " + path + " for writing: " + errnoText();
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

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

bool isNetworkFolderType(const std::string& folder) {
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

std::filesystem::path pathFromUtf8(const std::string& text) {
    return std::filesystem::path(text);
}

std::string utf8Of(const std::filesystem::path& path) {
    return path.string();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

void FileHandle::reset() noexcept {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::string FileHandle::close() {
    const int fd = release();
    if (fd >= 0 && ::close(fd) != 0)
        return errnoText();
    return {};
}

OpenedInput openRegularFile(const std::string& path) {
    OpenedInput opened;
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
        opened.refusal = fileKind(named.st_mode);  // sockets cannot even be opened
        return opened;
    }
    // Without blocking: a FIFO put there since would wait for ever.
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file) {
        opened.refusal = errnoText();
        return opened;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        opened.refusal = errnoText();
        return opened;
    }
    if (!S_ISREG(info.st_mode)) {
        opened.refusal = fileKind(info.st_mode);
        return opened;
    }
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
    opened.file = std::move(file);
    return opened;
}

OutputTarget findOutputTarget(const std::string& path) {
    std::optional<int> descriptor;
    const std::string resolved = followLinks(path, descriptor);
    OutputTarget target;
    target.path = resolved;
    if (descriptor) {
        target.kind = OutputTarget::Kind::Stream;
        target.descriptor = *descriptor;
        return target;
    }
    struct stat info {};
    if (::stat(resolved.c_str(), &info) != 0)
        return target;  // nothing there yet: created; other failures say why then
    if (S_ISDIR(info.st_mode))
        return refused(path + " is a folder");
    if (S_ISBLK(info.st_mode))
        return refused(path + " is a block device");
    if (isStreamKind(info.st_mode)) {
        target.kind = OutputTarget::Kind::Stream;
        return target;
    }
    if (::access(resolved.c_str(), W_OK) != 0)
        return refused(path + ": " + errnoText());
    return target;
}

FileHandle openStream(const OutputTarget& target, const std::atomic<bool>* cancel,
                      std::string& error) {
    if (target.descriptor >= 0)
        return duplicateForWriting(target.descriptor, error);
    struct stat info {};
    if (::stat(target.path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        return connectSocket(target.path, error);
    return openDeviceOrFifo(target.path, cancel, error);
}

FileHandle createNewFile(const std::string& path, bool& exists, std::string& error) {
    // 0666 less the umask: the finished PDF gets a plain file's permissions.
    FileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    exists = !file && errno == EEXIST;
    if (!file)
        error = errnoText();
    return file;
}

std::string temporaryNameIn(const std::string& folder, const char* suffix) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    char name[96];
    std::snprintf(name, sizeof name, "/.quorvex-%d-%u-%08x%s", static_cast<int>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(random()), suffix);
    return folder + name;
}

std::string temporaryFilesFolder() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
}

bool createPrivateFolder(const std::string& path, bool& exists, std::string& error) {
    if (::mkdir(path.c_str(), 0700) == 0)
        return true;
    exists = errno == EEXIST;
    error = errnoText();
    return false;
}

int64_t writeSome(const FileHandle& file, const uint8_t* data, std::size_t size,
                  std::string& error) {
    // SIGPIPE goes to the thread that wrote: held back here, and taken off
    // again should the write have raised it, it never ends the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    ssize_t written = 0;
    do {
        written = ::write(file.get(), data, size);
    } while (written < 0 && errno == EINTR);
    const int saved = errno;
    if (written < 0 && saved == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (written < 0)
        error = errnoText(saved);
    return written;
}

int64_t readSome(const FileHandle& file, uint8_t* data, std::size_t size, std::string& error) {
    ssize_t count = 0;
    do {
        count = ::read(file.get(), data, size);
    } while (count < 0 && errno == EINTR);
    if (count < 0)
        error = errnoText();
    return count;
}

std::string syncFile(const FileHandle& file) {
    if (::fsync(file.get()) == 0 || errno == EINVAL)
        return {};  // EINVAL: a file system that keeps nothing to sync
    return errnoText();
}

void copyAttributes(const std::string& existing, const FileHandle& file) {
    struct stat info {};
    if (::stat(existing.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    if (::geteuid() == 0 && ::fchown(file.get(), info.st_uid, info.st_gid) != 0) {
        // Keeping the owner is best effort; the file is still written.
    }
    ::fchmod(file.get(), info.st_mode & 07777);
}

std::string replaceFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0)
        return {};
    return errnoText();
}

void syncFolderOf(const std::string& path) {
    // Best effort: the file is in place by now, and some file systems
    // cannot sync a folder at all.
    const FileHandle folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        ::fsync(folder.get());
}

void removeFile(const std::string& path) {
    ::unlink(path.c_str());
}

void removeFolder(const std::string& path) {
    ::rmdir(path.c_str());
}

void removeFileNow(const char* path) noexcept {
    ::unlink(path);
}

void removeFolderNow(const char* path) noexcept {
    ::rmdir(path);
}

void sleepOneMillisecond() noexcept {
    const timespec millisecond{0, 1'000'000};
    ::nanosleep(&millisecond, nullptr);
}

bool isNetworkFolder(const std::string& folder) {
    return isNetworkFolderType(folder);
}

std::optional<RunningProcess> runningProcess(long pid) {
    if ((::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) || isZombie(pid))
        return std::nullopt;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    RunningProcess process;
    std::getline(comm, process.name);
    const std::optional<std::time_t> start = startTimeOf(pid);
    if (!comm || !start)
        return std::nullopt;  // ended while it was being looked at
    process.startTime = *start;
    return process;
}

std::optional<std::time_t> lastWriteOfRegularFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return info.st_mtime;
}

bool localTimeOf(int64_t seconds, std::tm& local, long& offsetSeconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    if (localtime_r(&time, &local) == nullptr)
        return false;
    offsetSeconds = local.tm_gmtoff;
    return true;
}

bool utcTimeOf(int64_t seconds, std::tm& utc) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    return gmtime_r(&time, &utc) != nullptr;
}

int openForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info {};
    const int failure = ::fstat(fd, &info) != 0 ? errno : (S_ISDIR(info.st_mode) ? EISDIR : 0);
    if (failure == 0)
        return fd;
    ::close(fd);
    errno = failure;
    return -1;
}

int openForAppending(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
}

int64_t readFromDescriptor(int fd, void* data, std::size_t size) {
    return ::read(fd, data, size);
}

int64_t writeToDescriptor(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

void closeDescriptor(int fd) {
    ::close(fd);
}

std::optional<char> lastByteOfRegularFile(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0)
        return std::nullopt;
    char last = '\0';
    if (::pread(fd, &last, 1, info.st_size - 1) != 1)
        return std::nullopt;
    return last;
}

uint64_t peakMemoryBytes() {
    constexpr uint64_t kBytesPerKibibyte = 1024;
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return static_cast<uint64_t>(usage.ru_maxrss) * kBytesPerKibibyte;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void useBinaryStandardStreams() {
    // POSIX streams carry bytes as they are already.
}

void keepFreedBuffersForReuse() {
#if defined(__GLIBC__)
    // Pages are read and compressed in buffers of 4 to 30 MiB that come and
    // go many times a second. By default glibc maps each one afresh (its
    // adaptive threshold stops at 32 MiB) and trims the heap as soon as 128
    // KiB are free, so every buffer's pages fault in again: a tenth of the
    // time of a multi-page RGB scan. Up to 32 MiB of free heap per arena are
    // kept instead; the peak grows by about that much at most.
    constexpr int kBufferBytes = 32 << 20;
    ::mallopt(M_MMAP_THRESHOLD, kBufferBytes);
    ::mallopt(M_TRIM_THRESHOLD, kBufferBytes);
#endif
}

bool isTerminal(int fd) {
    return ::isatty(fd) == 1;
}

std::size_t terminalColumns(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

bool waitReady(int fd, bool forWriting, int milliseconds) {
    pollfd entry{fd, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&entry, 1, milliseconds);
    return ready > 0 || (ready < 0 && errno != EINTR);
}

std::string userKey() {
    return std::to_string(::getuid());
}

}  // namespace quorvex::platform

namespace quorvex {
namespace {

// A signal handler may only touch lock-free atomics.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<bool> gStopRequested{false};
std::atomic<int> gStopSignal{0};
// Posted by the handler (sem_post is async-signal-safe) to wake the last resort.
sem_t gStopArrived;
// Written by the handler to wake an event loop.
int gNotifier[2] = {-1, -1};
// The last resort's words to standard error, fixed before any signal can come.
char gFarewell[64] = {};
std::size_t gFarewellLength = 0;

extern "C" void onStopSignal(int signalNumber) {
    const int savedErrno = errno;
    int none = 0;
    gStopSignal.compare_exchange_strong(none, signalNumber);
    gStopRequested.store(true);
    sem_post(&gStopArrived);
    if (gNotifier[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(gNotifier[1], &byte, 1);
    }
    errno = savedErrno;
}

// Only when the terminal takes it at once: what blocks the process may be
// that very terminal.
void writeFarewell() noexcept {
    pollfd error{STDERR_FILENO, POLLOUT, 0};
    if (gFarewellLength > 0 && ::poll(&error, 1, 0) == 1 && (error.revents & POLLOUT) != 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, gFarewell, gFarewellLength);
    }
}

void installHandler(int signalNumber) {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads and writes: nothing expects EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

const std::atomic<bool>& StopSignals::install() {
    static const bool installed = [] {
        sem_init(&gStopArrived, 0, 0);
        if (::pipe2(gNotifier, O_CLOEXEC | O_NONBLOCK) != 0)
            gNotifier[0] = gNotifier[1] = -1;
        installHandler(SIGINT);
        installHandler(SIGTERM);
        installHandler(SIGHUP);  // the terminal went away: stop as for Ctrl-C
        // A reader that stops early (quorvex-tiff2pdf ... | head) must not
        // end the process mid-file; the write fails and says so instead.
        ::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)installed;
    return gStopRequested;
}

int StopSignals::received() {
    return gStopSignal.load();
}

int StopSignals::exitStatusFor(int signalNumber) {
    return 128 + (signalNumber != 0 ? signalNumber : SIGINT);
}

int StopSignals::notifier() {
    install();
    return gNotifier[0];
}

void StopSignals::drainNotifier() {
    char bytes[64];
    while (gNotifier[0] >= 0 && ::read(gNotifier[0], bytes, sizeof bytes) > 0) {
    }
}

void StopSignals::startLastResort(std::chrono::milliseconds grace, const std::string& farewell) {
    install();
    gFarewellLength = std::min(farewell.size(), sizeof gFarewell);
    std::memcpy(gFarewell, farewell.data(), gFarewellLength);
    std::thread([grace] {
        while (sem_wait(&gStopArrived) != 0) {
        }
        std::this_thread::sleep_for(grace);
        // Still running: something blocks that polls no flag. What it was
        // writing must not stay behind.
        platform::removeListedTemporaries();
        writeFarewell();
        ::_exit(exitStatusFor(gStopSignal.load()));
    }).detach();
}

void StopSignals::endNow(int status) noexcept {
    platform::removeListedTemporaries();
    ::_exit(status);
}

}  // namespace quorvex
