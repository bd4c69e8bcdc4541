// What the engine asks of the operating system to read a TIFF and write a
// PDF, behind one narrow interface. PlatformPosix.cpp implements it for Linux
// and the other POSIX systems; a Windows build brings a file of its own in
// its place and leaves the callers as they are.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::platform {

#ifdef _WIN32
// Windows names files in UTF-16; the program keeps them in UTF-8 throughout.
std::wstring wideFromUtf8(const std::string& text);
std::string utf8FromWide(const std::wstring& text);
// `path` as the wide-character calls take it: past MAX_PATH made absolute
// and given the \\?\ prefix that lifts the limit.
std::wstring widePath(const std::string& path);
#endif

// A std::filesystem path from UTF-8 text, and its UTF-8 text. The plain
// constructor and string() read and write the ANSI code page on Windows,
// where names outside it are lost or throw.
std::filesystem::path pathFromUtf8(const std::string& text);
std::string utf8Of(const std::filesystem::path& path);

// The folder a path names its file in: "." for a bare name, "/" at the root.
std::string folderOf(const std::string& path);

// An open file, closed when its owner goes.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Hands the descriptor over (to libtiff, say); this object no longer closes it.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() noexcept;
    // Closes now; empty, or why closing failed (a delayed write error).
    std::string close();

  private:
    int fd_ = -1;
};

// ---- The TIFF

struct OpenedInput {
    FileHandle file;
    std::string refusal;  // why it was not opened, when `file` is empty
};

// Opens a regular file for reading. A FIFO, socket, device or folder is
// refused at once, without waiting for a writer ("not a regular file (FIFO)").
OpenedInput openRegularFile(const std::string& path);

// ---- The PDF

// Where a PDF asked for under some path really goes.
struct OutputTarget {
    enum class Kind {
        File,     // a regular file (or none yet): replaced whole, at the end
        Stream,   // a device, FIFO, socket or open descriptor: written into as it comes
        Refused,  // a folder, a block device, or not writable
    };
    Kind kind = Kind::File;
    // File: the file to replace or create, links followed (the link stays).
    // Stream: the file or descriptor name to write into.
    std::string path;
    int descriptor = -1;  // Stream through one of this process's descriptors
    std::string refusal;  // Refused: why, naming the path
};

OutputTarget findOutputTarget(const std::string& path);

// Opens a Stream target for writing. Waits for a FIFO's reader as long as
// `cancel` is unset (for ever without one). Empty handle and `error` set
// when it cannot be opened.
FileHandle openStream(const OutputTarget& target, const std::atomic<bool>* cancel,
                      std::string& error);

// Creates `path` for writing when nothing has that name yet (0666 less the
// umask). Empty handle and `error` (errno's text) otherwise; `exists` tells
// a taken name from other failures.
FileHandle createNewFile(const std::string& path, bool& exists, std::string& error);

// A hidden name in `folder` that no other process and no other call of this
// one picks: the PID, a counter and a random part, then `suffix`. Short, so
// that it fits wherever the final name fits.
std::string temporaryNameIn(const std::string& folder, const char* suffix = ".part");

// The folder for temporary files: $TMPDIR, or the system's.
std::string temporaryFilesFolder();

// Creates a folder only this user can enter, when nothing has that name yet.
// False and `error` otherwise; `exists` tells a taken name from other failures.
bool createPrivateFolder(const std::string& path, bool& exists, std::string& error);

// Writes some of `data`; the count written, or -1 with the error in `error`.
// Retries interrupted writes. A reader that went away is an error ("Broken
// pipe"), never a signal that ends the process.
int64_t writeSome(const FileHandle& file, const uint8_t* data, std::size_t size,
                  std::string& error);

// Reads some of `file` into `data`; the count read (0 at the end), or -1
// with the error in `error`.
int64_t readSome(const FileHandle& file, uint8_t* data, std::size_t size, std::string& error);

// Puts the file's data on the disk; empty or why not.
std::string syncFile(const FileHandle& file);

// Gives `file` the permissions of `existing` (and, when allowed, its owner
// and group), when `existing` is a regular file; nothing otherwise.
void copyAttributes(const std::string& existing, const FileHandle& file);

// Renames `from` over `to` in one step; empty or why not.
std::string replaceFile(const std::string& from, const std::string& to);

// Puts the folder's entries (a rename into it) on the disk; best effort.
void syncFolderOf(const std::string& path);

// Remove a file, or an empty folder; quiet when it is already gone.
void removeFile(const std::string& path);
void removeFolder(const std::string& path);

// ---- Other processes' temporary files

// Whether other machines may write into `folder` too (NFS, SMB...); true
// when that cannot be told.
bool isNetworkFolder(const std::string& folder);

// A process that runs (and is no zombie): its program's name and when it started.
struct RunningProcess {
    std::string name;
    std::time_t startTime = 0;
};
std::optional<RunningProcess> runningProcess(long pid);

// When a regular file (no link, no folder) was last written to; nullopt
// for anything else.
std::optional<std::time_t> lastWriteOfRegularFile(const std::string& path);

// The broken-down local time of `seconds` and the offset of local time from
// UTC in seconds; false when the time cannot be expressed.
bool localTimeOf(int64_t seconds, std::tm& local, long& offsetSeconds);
// The broken-down UTC time of `seconds`; false when it cannot be expressed.
bool utcTimeOf(int64_t seconds, std::tm& utc);

// ---- The command line's standard streams and arguments

// Opens a file to read; a C library descriptor, or -1 with errno set
// (EISDIR for a folder, which would only fail at the first read).
int openForReading(const std::string& path);
// Opens (or creates) a file to append to; a C library descriptor, or -1
// with errno set.
int openForAppending(const std::string& path);
// Reads some bytes of a C library descriptor (standard input, say): the
// count, 0 at the end, or -1 with errno set. One call, interrupted or not.
int64_t readFromDescriptor(int fd, void* data, std::size_t size);
// Writes some of `data` to a C library descriptor: the count written, or -1
// with errno set. One call, interrupted or not.
int64_t writeToDescriptor(int fd, const void* data, std::size_t size);
void closeDescriptor(int fd);
// The last byte of the regular file open as `fd`; nullopt when it is empty,
// or no regular file.
std::optional<char> lastByteOfRegularFile(int fd);
// The most memory this process has held at once, in bytes; 0 when unknown.
uint64_t peakMemoryBytes();

// The program's arguments, argv[0] left out, in UTF-8 (on Windows taken
// from the UTF-16 command line, which holds names argv cannot).
std::vector<std::string> commandLineArguments(int argc, char** argv);
// Standard input and output carry bytes unchanged (no CR LF line ends).
void useBinaryStandardStreams();
// Lets the C library keep freed buffers of a few MiB for the next page
// instead of handing them back to the system at once. For programs that
// convert many pages; a library must not change its host's allocator.
void keepFreedBuffersForReuse();
bool isTerminal(int fd);
// The terminal's width in columns; 80 when `fd` is no terminal.
std::size_t terminalColumns(int fd);
// Waits up to `milliseconds` until `fd` can be read (or written) without
// blocking; true when it can, or when waiting failed for a reason the read
// or write will name. Where streams cannot be waited on, true at once.
bool waitReady(int fd, bool forWriting, int milliseconds);

// ---- The window

// Tells the users of one machine apart, the same in every session of one
// user: the user id, or on Windows the user's name. Names the window's
// single-instance channel.
std::string userKey();

// ---- The last resort (async-signal-safe: they only unlink and rmdir)

void removeFileNow(const char* path) noexcept;
void removeFolderNow(const char* path) noexcept;
void sleepOneMillisecond() noexcept;

}  // namespace quorvex::platform
