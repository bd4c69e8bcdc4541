// The helpers that run other programs (qpdf, poppler, mutool) and switch
// users: POSIX processes, so they are built on Linux only.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "support/TestSupport.h"

extern char** environ;

namespace support {
namespace {
std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// ---------------------------------------------------------------------------
// Child processes

class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

struct Channel {
    FileDescriptor parentEnd;
    FileDescriptor childEnd;
};

Channel makePipe(bool childReads) {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
        throw systemError("pipe");
    }
    Channel channel;
    channel.parentEnd = FileDescriptor(childReads ? fds[1] : fds[0]);
    channel.childEnd = FileDescriptor(childReads ? fds[0] : fds[1]);
    return channel;
}

// The child's standard input is a socket, so that writing to a child that has
// already exited gives EPIPE (MSG_NOSIGNAL) instead of killing the test with
// SIGPIPE.
Channel makeInputSocket() {
    std::array<int, 2> fds{};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds.data()) != 0) {
        throw systemError("socketpair");
    }
    ::shutdown(fds[0], SHUT_RD);
    ::shutdown(fds[1], SHUT_WR);
    return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

class ChildRun {
  public:
    ChildRun(const std::vector<std::string>& argv, const std::optional<std::string>& stdinText)
        : stdinText_(stdinText.value_or("")) {
        if (argv.empty()) {
            throw std::runtime_error("runCommand: empty argument list");
        }
        Channel out = makePipe(false);
        Channel err = makePipe(false);
        Channel in;
        if (stdinText) {
            in = makeInputSocket();
        }
        SpawnActions spawn;
        if (stdinText) {
            posix_spawn_file_actions_adddup2(&spawn.actions, in.childEnd.get(), STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, "/dev/null", O_RDONLY,
                                             0);
        }
        posix_spawn_file_actions_adddup2(&spawn.actions, out.childEnd.get(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&spawn.actions, err.childEnd.get(), STDERR_FILENO);

        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        const int status =
            posix_spawnp(&pid_, args[0], &spawn.actions, nullptr, args.data(), environ);
        if (status != 0) {
            throw std::runtime_error("cannot run " + argv[0] + ": " + std::strerror(status));
        }
        out_ = std::move(out.parentEnd);
        err_ = std::move(err.parentEnd);
        in_ = std::move(in.parentEnd);
        for (const FileDescriptor* fd : {&out_, &err_, &in_}) {
            if (fd->valid()) {
                setNonBlocking(fd->get());
            }
        }
    }

    ~ChildRun() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildRun(const ChildRun&) = delete;
    ChildRun& operator=(const ChildRun&) = delete;

    CommandResult finish(std::chrono::milliseconds timeout) {
        CommandResult result;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        if (stdinText_.empty()) {
            in_.reset();
        }
        while (out_.valid() || err_.valid()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                result.timedOut = true;
                ::kill(pid_, SIGKILL);
                break;
            }
            pump(static_cast<int>(std::min<int64_t>(left.count(), 1000)), result);
        }
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (WIFEXITED(status)) {
            result.exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            result.signal = WTERMSIG(status);
        }
        return result;
    }

  private:
    void pump(int timeoutMs, CommandResult& result) {
        std::array<pollfd, 3> fds{};
        fds[0] = {out_.get(), POLLIN, 0};
        fds[1] = {err_.get(), POLLIN, 0};
        fds[2] = {in_.get(), POLLOUT, 0};
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
            if (errno == EINTR) {
                return;
            }
            throw systemError("poll");
        }
        if (fds[0].revents != 0) {
            drain(out_, result.out);
        }
        if (fds[1].revents != 0) {
            drain(err_, result.err);
        }
        if (fds[2].revents != 0) {
            feed();
        }
    }

    static void drain(FileDescriptor& fd, std::string& sink) {
        std::array<char, 65536> buffer{};
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n > 0) {
            sink.append(buffer.data(), static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            fd.reset();
        }
    }

    void feed() {
        const ssize_t n = ::send(in_.get(), stdinText_.data() + written_,
                                 stdinText_.size() - written_, MSG_NOSIGNAL);
        if (n > 0) {
            written_ += static_cast<size_t>(n);
        }
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || written_ == stdinText_.size()) {
            in_.reset();  // done, or the child stopped reading
        }
    }

    pid_t pid_ = -1;
    std::string stdinText_;
    size_t written_ = 0;
    FileDescriptor out_, err_, in_;
};

// ---------------------------------------------------------------------------
// PNM reading (the P5 and P6 files mutool writes)

class PnmReader {
  public:
    explicit PnmReader(std::string bytes) : bytes_(std::move(bytes)) {}

    RgbImage read() {
        const std::string magic = token();
        if (magic != "P5" && magic != "P6") {
            throw std::runtime_error("not a binary PGM/PPM file (magic '" + magic + "')");
        }
        RgbImage image;
        image.width = static_cast<uint32_t>(number());
        image.height = static_cast<uint32_t>(number());
        if (number() != 255) {
            throw std::runtime_error("only 8-bit PNM files are read");
        }
        ++pos_;  // the single white-space byte after the header
        const size_t channels = magic == "P6" ? 3 : 1;
        const size_t pixels = size_t{image.width} * image.height;
        if (bytes_.size() < pos_ || bytes_.size() - pos_ < pixels * channels) {
            throw std::runtime_error("PNM data is short");
        }
        image.rgb.resize(pixels * 3);
        for (size_t i = 0; i < pixels; ++i) {
            for (size_t c = 0; c < 3; ++c) {
                image.rgb[i * 3 + c] =
                    static_cast<uint8_t>(bytes_[pos_ + i * channels + (channels == 3 ? c : 0)]);
            }
        }
        return image;
    }

  private:
    void skipSpaceAndComments() {
        while (pos_ < bytes_.size()) {
            if (bytes_[pos_] == '#') {
                while (pos_ < bytes_.size() && bytes_[pos_] != '\n') {
                    ++pos_;
                }
            } else if (std::isspace(static_cast<unsigned char>(bytes_[pos_]))) {
                ++pos_;
            } else {
                return;
            }
        }
    }

    std::string token() {
        skipSpaceAndComments();
        const size_t start = pos_;
        while (pos_ < bytes_.size() && !std::isspace(static_cast<unsigned char>(bytes_[pos_]))) {
            ++pos_;
        }
        return bytes_.substr(start, pos_ - start);
    }

    unsigned long number() {
        const std::string text = token();
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
            throw std::runtime_error("bad PNM header field '" + text + "'");
        }
        return std::stoul(text);
    }

    std::string bytes_;
    size_t pos_ = 0;
};

std::runtime_error toolFailure(const std::string& tool, const std::filesystem::path& file,
                               const CommandResult& result) {
    return std::runtime_error(tool + " failed on " + file.string() + " (" + result.statusText() +
                              "): " + result.err + result.out);
}

}  // namespace

std::string CommandResult::statusText() const {
    if (timedOut) {
        return "timed out";
    }
    if (signal != 0) {
        return "signal " + std::to_string(signal);
    }
    return "exit " + std::to_string(exitCode);
}

CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::optional<std::string>& stdinText,
                         std::chrono::milliseconds timeout) {
    ChildRun child(argv, stdinText);
    return child.finish(timeout);
}

QpdfCheck qpdfCheck(const std::filesystem::path& pdf) {
    const CommandResult result = runCommand({"qpdf", "--check", pdf.string()});
    QpdfCheck check;
    check.exitCode = result.exitCode;
    check.ok = result.succeeded();
    check.output = result.out + result.err;
    if (!result.succeeded() && result.exitCode < 0) {
        check.output += "\n(qpdf " + result.statusText() + ")";
    }
    return check;
}

int pdfPageCount(const std::filesystem::path& pdf) {
    const CommandResult result = runCommand({"pdfinfo", pdf.string()});
    if (!result.succeeded()) {
        throw toolFailure("pdfinfo", pdf, result);
    }
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Pages:", 0) == 0) {
            return std::stoi(line.substr(6));
        }
    }
    throw std::runtime_error("pdfinfo printed no page count for " + pdf.string());
}

namespace {

// Poppler smooths the edges of image pixels drawn at their own size; drawn
// larger, the centre of each pixel's block is its true colour.
constexpr uint32_t kPopplerScale = 4;

RgbImage centresOf(const RgbImage& large, uint32_t scale) {
    RgbImage image;
    image.width = large.width / scale;
    image.height = large.height / scale;
    image.rgb.resize(std::size_t{image.width} * image.height * 3);
    for (uint32_t y = 0; y < image.height; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t* from = large.pixel(x * scale + scale / 2, y * scale + scale / 2);
            std::copy(from, from + 3, image.rgb.begin() + (std::size_t{y} * image.width + x) * 3);
        }
    }
    return image;
}

}  // namespace

RgbImage renderPdfPage(const std::filesystem::path& pdf, int pageIndex, uint32_t width,
                       uint32_t height, Renderer renderer) {
    // mutool quietly draws the last page for a page number past the end.
    const int pages = pdfPageCount(pdf);
    if (pageIndex < 0 || pageIndex >= pages) {
        throw std::runtime_error(pdf.string() + " has no page " + std::to_string(pageIndex) +
                                 " (it has " + std::to_string(pages) + ")");
    }
    const TempDir scratch("quorvex-render");
    const std::filesystem::path output = scratch / "page.ppm";
    const std::string page = std::to_string(pageIndex + 1);
    const CommandResult result =
        renderer == Renderer::MuPdf
            ? runCommand({"mutool", "draw", "-q", "-N", "-f", "-w", std::to_string(width), "-h",
                          std::to_string(height), "-c", "rgb", "-F", "pnm", "-o", output.string(),
                          pdf.string(), page})
            : runCommand({"pdftoppm", "-f", page, "-l", page, "-singlefile", "-scale-to-x",
                          std::to_string(width * kPopplerScale), "-scale-to-y",
                          std::to_string(height * kPopplerScale), "-aa", "no", "-aaVector", "no",
                          pdf.string(), (scratch / "page").string()});
    if (!result.succeeded() || !fileExists(output)) {
        throw toolFailure(renderer == Renderer::MuPdf ? "mutool draw" : "pdftoppm", pdf, result);
    }
    RgbImage image;
    try {
        image = PnmReader(readFile(output)).read();
    } catch (const std::exception& e) {
        throw std::runtime_error("mutool draw output for " + pdf.string() + ": " + e.what());
    }
    if (renderer == Renderer::Poppler)
        image = centresOf(image, kPopplerScale);
    if (image.width != width || image.height != height) {
        throw std::runtime_error("mutool draw rendered page " + std::to_string(pageIndex) + " of " +
                                 pdf.string() + " at " + std::to_string(image.width) + "x" +
                                 std::to_string(image.height) + ", asked for " +
                                 std::to_string(width) + "x" + std::to_string(height));
    }
    return image;
}

std::vector<PdfImageInfo> extractImageInfo(const std::filesystem::path& pdf) {
    const CommandResult result = runCommand({"pdfimages", "-list", pdf.string()});
    if (!result.succeeded()) {
        throw toolFailure("pdfimages -list", pdf, result);
    }
    std::vector<PdfImageInfo> rows;
    std::istringstream lines(result.out);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        if (++lineNumber <= 2) {
            continue;  // the column titles and the rule under them
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        std::istringstream fields(line);
        PdfImageInfo row;
        std::string interpolate;
        int generation = 0;
        fields >> row.page >> row.num >> row.type >> row.width >> row.height >> row.color >>
            row.components >> row.bitsPerComponent >> row.encoding >> interpolate >>
            row.objectNumber >> generation >> row.xPpi >> row.yPpi;
        if (!fields) {
            throw std::runtime_error("pdfimages -list printed a row that is not understood for " +
                                     pdf.string() + ": " + line);
        }
        row.interpolate = interpolate == "yes";
        rows.push_back(row);
    }
    return rows;
}

std::string runUnprivileged(const std::function<std::string()>& body) {
    if (::geteuid() != 0)
        return body();
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        ::close(fds[0]);
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(2);
        const std::string result = body();
        const ssize_t written = ::write(fds[1], result.data(), result.size());
        ::_exit(written == static_cast<ssize_t>(result.size()) ? 0 : 3);
    }
    ::close(fds[1]);
    std::string result;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(got));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the unprivileged child failed (status " + std::to_string(status) +
                                 ")");
    return result;
}

}  // namespace support
