// Windows: the one file that knows about HANDLEs, UTF-16 paths, MoveFileExW
// and console control events. Paths reach it as UTF-8, as everywhere else in
// the program. A FileHandle holds a HANDLE in its int, which is what libtiff
// takes on Windows in place of a descriptor (kernel handles fit in 32 bits).
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <random>
#include <thread>

#include "engine/StopSignals.h"
#include "engine/platform/Platform.h"
#include "engine/platform/TemporaryRegistry.h"

namespace quorvex::platform {
namespace {

// Past this many characters a path needs the \\?\ prefix (MAX_PATH less
// room for an 8.3 name, the limit CreateDirectoryW keeps).
constexpr std::size_t kShortPathLimit = 248;

HANDLE handleOf(const FileHandle& file) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file.get()));
}

int intOf(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return -1;
    return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

std::string errorText(DWORD error = GetLastError()) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text),
        0, nullptr);
    std::string message =
        length > 0 ? utf8FromWide(std::wstring(text, length)) : "error " + std::to_string(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    return message;
}

bool isAbsolute(const std::wstring& path) {
    return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

// NUL, CON, PRN, AUX, COM1-9 and LPT1-9 name devices in every folder, with
// any extension ("nul.pdf" is the null device too).
bool isReservedDeviceName(const std::string& path) {
    const auto slash = path.find_last_of("/\\:");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (name == "NUL" || name == "CON" || name == "PRN" || name == "AUX" || name == "CONIN$" ||
        name == "CONOUT$")
        return true;
    return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) &&
           name[3] >= '1' && name[3] <= '9';
}

const char* kindOfOpenFile(HANDLE handle) {
    switch (GetFileType(handle)) {
        case FILE_TYPE_DISK:
            return nullptr;
        case FILE_TYPE_PIPE:
            return "not a regular file (pipe)";
        case FILE_TYPE_CHAR:
            return "not a regular file (character device)";
        default:
            return "not a regular file";
    }
}

OutputTarget refused(std::string why) {
    OutputTarget target;
    target.kind = OutputTarget::Kind::Refused;
    target.refusal = std::move(why);
    return target;
}

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load();
}

DWORD attributesOf(const std::string& path) {
    return GetFileAttributesW(widePath(path).c_str());
}

// FILETIME counts 100 ns steps since 1601.
std::time_t unixTimeOf(const FILETIME& time) {
    constexpr uint64_t kStepsPerSecond = 10'000'000;
    constexpr uint64_t kSecondsFrom1601To1970 = 11'644'473'600;
    const uint64_t steps = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<std::time_t>(steps / kStepsPerSecond - kSecondsFrom1601To1970);
}

}  // namespace

std::wstring wideFromUtf8(const std::string& text) {
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string utf8FromWide(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                        nullptr, nullptr);
    return narrow;
}

std::wstring widePath(const std::string& path) {
    std::wstring wide = wideFromUtf8(path);
    if (wide.size() < kShortPathLimit || wide.starts_with(L"\\\\?\\") ||
        wide.starts_with(L"\\\\.\\"))
        return wide;
    // Long: made absolute (the prefix turns off the system's own parsing,
    // so "." and ".." must be gone), then prefixed.
    if (!isAbsolute(wide)) {
        const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        std::wstring full(size, L'\0');
        const DWORD written = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
        full.resize(written);
        wide = full;
    }
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (wide.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + wide.substr(2);
    return L"\\\\?\\" + wide;
}

std::filesystem::path pathFromUtf8(const std::string& text) {
    return std::filesystem::path(wideFromUtf8(text));
}

std::string utf8Of(const std::filesystem::path& path) {
    return utf8FromWide(path.wstring());
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) + "." : ".";
    if (slash == 0)
        return path.substr(0, 1);
    if (slash == 2 && path[1] == ':')
        return path.substr(0, 3);  // "C:\" keeps its separator: "C:" is the current folder there
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
        CloseHandle(handleOf(*this));
    fd_ = -1;
}

std::string FileHandle::close() {
    const int fd = release();
    if (fd >= 0 && !CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd))))
        return errorText();
    return {};
}

OpenedInput openRegularFile(const std::string& path) {
    OpenedInput opened;
    const DWORD attributes = attributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        opened.refusal = "it is a folder";
        return opened;
    }
    if (isReservedDeviceName(path)) {
        opened.refusal = "not a regular file (character device)";
        return opened;
    }
    // Others may read, rename or delete it meanwhile, as on POSIX.
    FileHandle file(intOf(CreateFileW(widePath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!file) {
        opened.refusal = errorText();
        return opened;
    }
    if (const char* kind = kindOfOpenFile(handleOf(file))) {
        opened.refusal = kind;
        return opened;
    }
    opened.file = std::move(file);
    return opened;
}

OutputTarget findOutputTarget(const std::string& path) {
    OutputTarget target;
    target.path = path;
    if (path == "/dev/stdout" || path == "CONOUT$") {
        target.kind = OutputTarget::Kind::Stream;
        target.descriptor = 1;
        return target;
    }
    if (isReservedDeviceName(path) || path.starts_with("\\\\.\\")) {
        target.kind = OutputTarget::Kind::Stream;  // NUL, COM1, a named pipe: written into
        return target;
    }
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return target;  // nothing there yet: created; other failures say why then
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return refused(path + " is a folder");
    // MoveFileExW will not replace a read-only file; it is left as it is.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return refused(path + ": the file is read-only");
    return target;
}

FileHandle openStream(const OutputTarget& target, const std::atomic<bool>* cancel,
                      std::string& error) {
    if (target.descriptor >= 0) {
        HANDLE duplicate = nullptr;
        const HANDLE own = reinterpret_cast<HANDLE>(_get_osfhandle(target.descriptor));
        if (own == INVALID_HANDLE_VALUE ||
            !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &duplicate, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            error = errorText();
            return {};
        }
        return FileHandle(intOf(duplicate));
    }
    // A named pipe with no reader yet: wait for one while not cancelled.
    for (;;) {
        FileHandle file(intOf(CreateFileW(widePath(target.path).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (file)
            return file;
        const DWORD failure = GetLastError();
        if (failure != ERROR_PIPE_BUSY || cancelled(cancel)) {
            error = cancelled(cancel) ? "cancelled" : errorText(failure);
            return {};
        }
        WaitNamedPipeW(widePath(target.path).c_str(), 100);
    }
}

FileHandle createNewFile(const std::string& path, bool& exists, std::string& error) {
    // No FILE_SHARE_DELETE: nobody renames the file from under the writer;
    // the replace at the end happens after the handle is closed.
    FileHandle file(
        intOf(CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
    const DWORD failure = GetLastError();
    exists = !file && (failure == ERROR_FILE_EXISTS || failure == ERROR_ALREADY_EXISTS);
    if (!file)
        error = errorText(failure);
    return file;
}

std::string temporaryNameIn(const std::string& folder, const char* suffix) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    char name[96];
    std::snprintf(name, sizeof name, "/.quorvex-%lu-%u-%08x%s",
                  static_cast<unsigned long>(GetCurrentProcessId()), counter.fetch_add(1),
                  static_cast<unsigned>(random()), suffix);
    return folder + name;
}

std::string temporaryFilesFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
    std::string folder = utf8FromWide(std::wstring(buffer, length));
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    return folder.empty() ? "." : folder;
}

bool createPrivateFolder(const std::string& path, bool& exists, std::string& error) {
    // The folder inherits the temporary folder's ACL, which on Windows is
    // the user's own (%LOCALAPPDATA%\Temp).
    if (CreateDirectoryW(widePath(path).c_str(), nullptr))
        return true;
    const DWORD failure = GetLastError();
    exists = failure == ERROR_ALREADY_EXISTS;
    error = errorText(failure);
    return false;
}

int64_t writeSome(const FileHandle& file, const uint8_t* data, std::size_t size,
                  std::string& error) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handleOf(file), data, chunk, &written, nullptr)) {
        const DWORD failure = GetLastError();
        error = failure == ERROR_NO_DATA || failure == ERROR_BROKEN_PIPE ? "Broken pipe"
                                                                         : errorText(failure);
        return -1;
    }
    return written;
}

int64_t readSome(const FileHandle& file, uint8_t* data, std::size_t size, std::string& error) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD count = 0;
    if (ReadFile(handleOf(file), data, chunk, &count, nullptr))
        return count;
    const DWORD failure = GetLastError();
    if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF)
        return 0;  // a pipe's writer closed it: the end
    error = errorText(failure);
    return -1;
}

std::string syncFile(const FileHandle& file) {
    // The console, NUL, a pipe: nothing kept to flush (Wine even refuses it).
    if (GetFileType(handleOf(file)) != FILE_TYPE_DISK)
        return {};
    if (FlushFileBuffers(handleOf(file)))
        return {};
    const DWORD failure = GetLastError();
    if (failure == ERROR_INVALID_HANDLE || failure == ERROR_INVALID_FUNCTION)
        return {};  // the console or NUL: nothing kept to flush
    return errorText(failure);
}

void copyAttributes(const std::string& existing, const FileHandle& file) {
    // NTFS's share of the permissions: the hidden, system and archive flags
    // (a read-only file is refused before, see findOutputTarget).
    const DWORD attributes = attributesOf(existing);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return;
    FILE_BASIC_INFO info{};
    if (!GetFileInformationByHandleEx(handleOf(file), FileBasicInfo, &info, sizeof info))
        return;
    info.FileAttributes =
        attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (info.FileAttributes == 0)
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(handleOf(file), FileBasicInfo, &info, sizeof info);
}

std::string replaceFile(const std::string& from, const std::string& to) {
    // One step, as rename() on POSIX; WRITE_THROUGH returns only once the
    // new name is on the disk, which is what syncFolderOf does there.
    if (MoveFileExW(widePath(from).c_str(), widePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return errorText();
}

void syncFolderOf(const std::string&) {
    // Nothing left to do: MOVEFILE_WRITE_THROUGH did it.
}

void removeFile(const std::string& path) {
    DeleteFileW(widePath(path).c_str());
}

void removeFolder(const std::string& path) {
    RemoveDirectoryW(widePath(path).c_str());
}

// The last resort runs on an ordinary thread on Windows (console control
// handlers do), but allocates nothing all the same: the heap may be locked
// by a thread it is about to end.
void removeFileNow(const char* path) noexcept {
    wchar_t wide[4096];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 4096) > 0)
        DeleteFileW(wide);
}

void removeFolderNow(const char* path) noexcept {
    wchar_t wide[4096];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 4096) > 0)
        RemoveDirectoryW(wide);
}

void sleepOneMillisecond() noexcept {
    Sleep(1);
}

bool isNetworkFolder(const std::string& folder) {
    if (folder.starts_with("\\\\") || folder.starts_with("//"))
        return true;  // \\server\share
    wchar_t root[MAX_PATH + 1];
    std::wstring wide = widePath(folder);
    if (!GetVolumePathNameW(wide.c_str(), root, MAX_PATH + 1))
        return true;  // unknown: the cautious answer
    return GetDriveTypeW(root) == DRIVE_REMOTE;
}

std::optional<RunningProcess> runningProcess(long pid) {
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED
                   ? std::optional<RunningProcess>(RunningProcess{"?", 0})  // another user's
                   : std::nullopt;
    DWORD status = 0;
    FILETIME created{}, ended{}, kernel{}, user{};
    wchar_t image[MAX_PATH + 1];
    DWORD length = MAX_PATH + 1;
    std::optional<RunningProcess> running;
    if (GetExitCodeProcess(process, &status) && status == STILL_ACTIVE &&
        GetProcessTimes(process, &created, &ended, &kernel, &user) &&
        QueryFullProcessImageNameW(process, 0, image, &length)) {
        const std::string path = utf8FromWide(std::wstring(image, length));
        running = RunningProcess{path.substr(path.find_last_of("\\/") + 1), unixTimeOf(created)};
    }
    CloseHandle(process);
    return running;
}

std::optional<std::time_t> lastWriteOfRegularFile(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return std::nullopt;
    return unixTimeOf(data.ftLastWriteTime);
}

bool localTimeOf(int64_t seconds, std::tm& local, long& offsetSeconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    if (localtime_s(&local, &time) != 0)
        return false;
    std::tm copy = local;
    // The local fields read as UTC, less the real UTC time: the offset.
    const std::time_t asUtc = _mkgmtime(&copy);
    if (asUtc == -1)
        return false;
    offsetSeconds = static_cast<long>(asUtc - time);
    return true;
}

bool utcTimeOf(int64_t seconds, std::tm& utc) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    return gmtime_s(&utc, &time) == 0;
}

int openForReading(const std::string& path) {
    // A folder would fail as "Permission denied"; say what it is, as on POSIX.
    const DWORD attributes = attributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EISDIR;
        return -1;
    }
    return _wopen(widePath(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int openForAppending(const std::string& path) {
    // Binary: the report's lines end in LF on every system.
    return _wopen(widePath(path).c_str(),
                  _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}

// _read and _write take an unsigned int count.
constexpr std::size_t kMostPerDescriptorCall = std::size_t{1} << 30;

int64_t readFromDescriptor(int fd, void* data, std::size_t size) {
    return _read(fd, data, static_cast<unsigned>(std::min(size, kMostPerDescriptorCall)));
}

int64_t writeToDescriptor(int fd, const void* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(std::min(size, kMostPerDescriptorCall)));
}

void closeDescriptor(int fd) {
    _close(fd);
}

std::optional<char> lastByteOfRegularFile(int fd) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    LARGE_INTEGER size{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size) ||
        size.QuadPart == 0)
        return std::nullopt;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char last = '\0';
    DWORD count = 0;
    if (!ReadFile(handle, &last, 1, &count, &at) || count != 1)
        return std::nullopt;
    return last;
}

uint64_t peakMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PeakWorkingSetSize;
}

std::vector<std::string> commandLineArguments(int, char**) {
    // argv holds the arguments in the ANSI code page, where names outside
    // it are lost; the UTF-16 command line has them all.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide != nullptr && i < count; ++i)
        arguments.push_back(utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

void keepFreedBuffersForReuse() {
    // The Windows heap keeps freed blocks for reuse by itself.
}

void useBinaryStandardStreams() {
    // A PDF on standard output must not have its line ends turned into CR LF.
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    // Messages naming non-ASCII files reach the console as written.
    SetConsoleOutputCP(CP_UTF8);
}

bool isTerminal(int fd) {
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode) != 0;
}

std::size_t terminalColumns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0)
            return static_cast<std::size_t>(columns);
    }
    return 80;
}

bool waitReady(int, bool, int) {
    // Pipes and consoles cannot be polled on Windows: the read or write
    // blocks instead, and a stop request ends it through the last resort.
    return true;
}

std::string userKey() {
    // UNLEN characters and the terminating null.
    std::array<wchar_t, 257> name{};
    DWORD size = static_cast<DWORD>(name.size());
    if (!GetUserNameW(name.data(), &size))
        return "unknown";
    return utf8FromWide(name.data());
}

}  // namespace quorvex::platform

namespace quorvex {
namespace {

std::atomic<bool> gStopRequested{false};
std::atomic<int> gStopSignal{0};
// Set by the control handler to wake the last resort.
HANDLE gStopArrived = nullptr;
char gFarewell[64] = {};
std::size_t gFarewellLength = 0;

// The POSIX signal a console event stands for, so that exit statuses and
// messages are the same on both systems (130 for Ctrl-C).
int signalFor(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return SIGINT;
        case CTRL_BREAK_EVENT:
            return SIGBREAK;
        default:
            return SIGTERM;  // the console closed, the user logged off, shutdown
    }
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    int none = 0;
    gStopSignal.compare_exchange_strong(none, signalFor(event));
    gStopRequested.store(true);
    if (gStopArrived != nullptr)
        SetEvent(gStopArrived);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Returning ends the process at once: give the run the time to stop
        // and remove its temporary files first.
        Sleep(2000);
    }
    return TRUE;
}

void writeFarewell() noexcept {
    DWORD written = 0;
    if (gFarewellLength > 0)
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), gFarewell, static_cast<DWORD>(gFarewellLength),
                  &written, nullptr);
}

}  // namespace

const std::atomic<bool>& StopSignals::install() {
    static const bool installed = [] {
        gStopArrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
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
    return -1;  // the window is not built for Windows; nothing watches one
}

void StopSignals::drainNotifier() {}

void StopSignals::startLastResort(std::chrono::milliseconds grace, const std::string& farewell) {
    install();
    gFarewellLength = std::min(farewell.size(), sizeof gFarewell);
    std::memcpy(gFarewell, farewell.data(), gFarewellLength);
    std::thread([grace] {
        WaitForSingleObject(gStopArrived, INFINITE);
        std::this_thread::sleep_for(grace);
        platform::removeListedTemporaries();
        writeFarewell();
        std::_Exit(exitStatusFor(gStopSignal.load()));
    }).detach();
}

void StopSignals::endNow(int status) noexcept {
    platform::removeListedTemporaries();
    std::_Exit(status);
}

}  // namespace quorvex
