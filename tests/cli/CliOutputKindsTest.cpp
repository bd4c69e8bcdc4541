// What -o names decides how the PDF is written: a character device, FIFO or
// socket (or a link to one), and /dev/stdout, take the PDF as it is made and
// stay what they are; a block device is refused untouched; a regular file is
// replaced whole, synced before the rename and its folder after it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr unsigned kPages = 2;

// Reads a descriptor to its end (EIO from a terminal whose writer is gone).
std::string readAll(int fd) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            bytes.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return bytes;
    }
}

struct NodeIdentity {
    mode_t type = 0;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const NodeIdentity&) const = default;
};

NodeIdentity identityOf(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return {};
    return {info.st_mode & S_IFMT, info.st_rdev, info.st_ino};
}

class CliOutputKindsTest : public ::testing::Test {
  protected:
    void SetUp() override { clitest::writeSampleTiff(dir_ / "a.tif", kPages); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // The bytes are a PDF qpdf accepts, with every page.
    void expectPdfBytes(const std::string& bytes, const std::string& what) {
        ASSERT_TRUE(bytes.starts_with("%PDF-")) << what << ": " << bytes.substr(0, 64);
        const fs::path copy = dir_ / ("received-" + std::to_string(++received_) + ".pdf");
        std::ofstream(copy, std::ios::binary) << bytes;
        const support::QpdfCheck check = support::qpdfCheck(copy);
        EXPECT_TRUE(check.ok) << what << "\n" << check.output;
        EXPECT_EQ(support::pdfPageCount(copy), static_cast<int>(kPages)) << what;
        fs::remove(copy);
    }

    // Nothing in the folder but the input and `names`: no temporary file.
    void expectOnly(std::set<std::string> names) {
        names.insert("a.tif");
        EXPECT_EQ(clitest::filesUnder(dir_.path()), names);
    }

    support::TempDir dir_;
    int received_ = 0;
};

// A terminal in raw mode passes bytes through unchanged: a character device
// whose every byte can be read. (Linux opens a terminal only through its own
// /dev/pts name, not through a node made elsewhere.)
class RawTerminal {
  public:
    RawTerminal() {
        char name[64] = {};
        if (openpty(&master_, &follower_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        name_ = name;
        termios raw{};
        tcgetattr(follower_, &raw);
        cfmakeraw(&raw);
        tcsetattr(follower_, TCSANOW, &raw);
        // Read while it is written: a terminal holds only a few kilobytes.
        reading_ = std::async(std::launch::async, [this] { return readAll(master_); });
    }
    ~RawTerminal() {
        closeFollower();
        if (reading_.valid())
            reading_.wait();
        ::close(master_);
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    const std::string& name() const { return name_; }

    // Everything written, once no one else holds the terminal open.
    std::string received() {
        closeFollower();
        return reading_.get();
    }

  private:
    void closeFollower() {
        if (follower_ >= 0)
            ::close(follower_);
        follower_ = -1;
    }

    int master_ = -1;
    int follower_ = -1;
    std::string name_;
    std::future<std::string> reading_;
};

TEST_F(CliOutputKindsTest, CharacterDeviceTakesThePdfAndALinkToItStays) {
    for (const bool throughLink : {false, true}) {
        RawTerminal terminal;
        const NodeIdentity before = identityOf(terminal.name());
        fs::remove(dir_ / "link.pdf");
        fs::create_symlink(terminal.name(), dir_ / "link.pdf");
        const std::string output = throughLink ? path("link.pdf") : terminal.name();
        const support::CommandResult result = clitest::runCli({"-o", output, path("a.tif")});
        EXPECT_EQ(result.exitCode, 0) << output << ": " << result.err;
        expectPdfBytes(terminal.received(), output);
        EXPECT_EQ(identityOf(terminal.name()), before) << output;
        EXPECT_TRUE(fs::is_symlink(dir_ / "link.pdf"));
    }
    expectOnly({"link.pdf"});
}

TEST_F(CliOutputKindsTest, NullDeviceIsWrittenIntoNeverReplaced) {
    ASSERT_EQ(mknod(path("null").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0) << strerror(errno);
    const NodeIdentity before = identityOf(dir_ / "null");
    const support::CommandResult result = clitest::runCli({"-o", path("null"), path("a.tif")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.starts_with(path("a.tif") + " -> " + path("null") + " (2 pages, "))
        << result.out;
    EXPECT_EQ(identityOf(dir_ / "null"), before);
    expectOnly({"null"});
}

// Someone who may not write the device gets the reason; the device and the
// folder (writable by all, so a temporary file could be made) stay as they were.
TEST_F(CliOutputKindsTest, WithoutRootAClosedDeviceIsRefusedAndAnOpenOneWritten) {
    ASSERT_EQ(mknod(path("private").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    ASSERT_EQ(mknod(path("shared").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    fs::permissions(dir_ / "shared", fs::perms::owner_read | fs::perms::owner_write |
                                         fs::perms::group_read | fs::perms::group_write |
                                         fs::perms::others_read | fs::perms::others_write);
    fs::permissions(dir_.path(), fs::perms::all);
    fs::permissions(dir_ / "a.tif",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const NodeIdentity before = identityOf(dir_ / "private");
    const auto asNobody = [&](const std::string& output) {
        return support::runCommand({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                    clitest::cliPath(), "-o", path(output), path("a.tif")});
    };

    const support::CommandResult refused = asNobody("private");
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_NE(refused.err.find(path("a.tif") + ": cannot create the PDF: "), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("Permission denied"), std::string::npos) << refused.err;
    EXPECT_EQ(identityOf(dir_ / "private"), before);

    const support::CommandResult written = asNobody("shared");
    EXPECT_EQ(written.exitCode, 0) << written.err;
    expectOnly({"private", "shared"});
}

TEST_F(CliOutputKindsTest, BlockDeviceIsRefusedUntouched) {
    // A local-use major number: no driver behind it, should anything open it.
    ASSERT_EQ(mknod(path("disk").c_str(), S_IFBLK | 0600, makedev(240, 7)), 0);
    const NodeIdentity before = identityOf(dir_ / "disk");
    const support::CommandResult result = clitest::runCli({"-o", path("disk"), path("a.tif")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(path("disk") + " is a block device"), std::string::npos)
        << result.err;
    EXPECT_EQ(identityOf(dir_ / "disk"), before);
    expectOnly({"disk"});
}

TEST_F(CliOutputKindsTest, FifoIsWrittenIntoForItsReader) {
    ASSERT_EQ(mkfifo(path("pipe.pdf").c_str(), 0600), 0);
    fs::create_symlink("pipe.pdf", dir_ / "link.pdf");
    const NodeIdentity before = identityOf(dir_ / "pipe.pdf");
    for (const char* name : {"pipe.pdf", "link.pdf"}) {
        // The reader opens only after the run has started: the run waits for it.
        auto reading = std::async(std::launch::async, [this] {
            std::this_thread::sleep_for(200ms);
            const int fd = ::open(path("pipe.pdf").c_str(), O_RDONLY);
            std::string bytes = fd >= 0 ? readAll(fd) : std::string();
            ::close(fd);
            return bytes;
        });
        const support::CommandResult result = clitest::runCli({"-o", path(name), path("a.tif")});
        EXPECT_EQ(result.exitCode, 0) << name << ": " << result.err;
        expectPdfBytes(reading.get(), name);
    }
    EXPECT_EQ(identityOf(dir_ / "pipe.pdf"), before);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.pdf"));
    expectOnly({"pipe.pdf", "link.pdf"});
}

TEST_F(CliOutputKindsTest, SocketIsConnectedToAndWrittenInto) {
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = path("socket.pdf");
    ASSERT_LT(name.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    auto reading = std::async(std::launch::async, [listener] {
        const int connection = ::accept(listener, nullptr, nullptr);
        std::string bytes = connection >= 0 ? readAll(connection) : std::string();
        ::close(connection);
        return bytes;
    });
    const support::CommandResult result = clitest::runCli({"-o", name, path("a.tif")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectPdfBytes(reading.get(), "socket");
    ::close(listener);
    EXPECT_EQ(identityOf(dir_ / "socket.pdf").type, static_cast<mode_t>(S_IFSOCK));
    expectOnly({"socket.pdf"});
}

TEST_F(CliOutputKindsTest, DevStdoutWritesIntoStandardOutputAndLinesGoToStderr) {
    for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        const support::CommandResult piped = clitest::runCli({"-o", name, path("a.tif")});
        EXPECT_EQ(piped.exitCode, 0) << name << ": " << piped.err;
        expectPdfBytes(piped.out, name);
        EXPECT_NE(piped.err.find("converted 1 of 1 file"), std::string::npos) << piped.err;
    }
    // Standard output on a file: written where the shell put it, the file
    // itself kept (not replaced by another one under its name).
    {
        std::ofstream(dir_ / "out.pdf") << "";
        const NodeIdentity before = identityOf(dir_ / "out.pdf");
        clitest::BackgroundCli cli({"-o", "/dev/stdout", path("a.tif")}, dir_ / "out.pdf",
                                   dir_ / "err.txt");
        EXPECT_EQ(cli.waitForExit(60s), 0) << support::readFile(dir_ / "err.txt");
        EXPECT_EQ(identityOf(dir_ / "out.pdf"), before);
        expectPdfBytes(support::readFile(dir_ / "out.pdf"), "a file on stdout");
    }
    fs::remove(dir_ / "err.txt");
    expectOnly({"out.pdf"});
}

// The order of the calls that make a replaced PDF survive a power loss: the
// temporary file synced, renamed over the PDF, then the folder synced.
TEST_F(CliOutputKindsTest, RegularFileIsSyncedBeforeTheRenameAndItsFolderAfter) {
    std::ofstream(dir_ / "a.pdf") << "old";
    // LeakSanitizer cannot run under a tracer; the sanitizer builds run this too.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::string noLeakCheck =
        "ASAN_OPTIONS=" + std::string(sanitizer != nullptr ? sanitizer : "") + ":detect_leaks=0";
    const support::CommandResult traced = support::runCommand(
        {"env", noLeakCheck, "strace", "-f", "-qq", "-e",
         "trace=fsync,fdatasync,rename,renameat,renameat2", "-o", path("trace.txt"),
         clitest::cliPath(), "-o", path("a.pdf"), path("a.tif")});
    ASSERT_EQ(traced.exitCode, 0) << traced.err;
    const std::string trace = support::readFile(dir_ / "trace.txt");
    const std::regex rename(R"(rename(at2?)?\([^\n]*\.part", [^\n]*a\.pdf")");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(trace, match, rename)) << trace;
    const std::string before = trace.substr(0, static_cast<std::size_t>(match.position()));
    const std::string after = match.suffix().str();
    EXPECT_TRUE(std::regex_search(before, std::regex(R"((fsync|fdatasync)\(\d+\) += 0)"))) << trace;
    EXPECT_TRUE(std::regex_search(after, std::regex(R"(fsync\(\d+\) += 0)"))) << trace;
    fs::remove(dir_ / "trace.txt");
    expectOnly({"a.pdf"});
}

}  // namespace
