// Ctrl-C, SIGTERM and SIGHUP in the middle of a large conversion: the run stops,
// reports, and leaves neither a partial PDF nor a temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct InterruptCase {
    int signalNumber;
    int expectedExit;
};

// Names the case in test output ("SIGINT, exit 130").
void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << "SIG" << sigabbrev_np(c.signalNumber) << ", exit " << c.expectedExit;
}

// Uncompressed RGB pages in many strips: slow enough to convert that a run
// can be caught mid-page, with many points at which to stop.
void writeUncompressedRgb(const fs::path& path, uint32_t pageCount, uint32_t width, uint32_t height,
                          uint32_t rowsPerStrip) {
    std::vector<fixtures::PageRecipe> pages;
    for (uint32_t i = 0; i < pageCount; ++i) {
        pages.push_back({.width = width,
                         .height = height,
                         .compression = COMPRESSION_NONE,
                         .photometric = PHOTOMETRIC_RGB,
                         .rowsPerStrip = rowsPerStrip,
                         .variant = i});
    }
    fixtures::writeTiff(path, pages);
}

class CliInterruptTest : public ::testing::TestWithParam<InterruptCase> {
  protected:
    // Large enough that converting it takes far longer than the time the
    // test needs to notice the run has started: uncompressed RGB pages in
    // many strips, so the engine has many points at which to stop.
    static void SetUpTestSuite() {
        inputs_ = std::make_unique<support::TempDir>("quorvex-cli-interrupt");
        writeUncompressedRgb(bigInput(), 3, 2400, 1800, 32);
        clitest::writeSampleTiff(inputs_->path() / "small-1.tif", 1);
        clitest::writeSampleTiff(inputs_->path() / "small-2.tif", 1, 1);
    }
    static void TearDownTestSuite() { inputs_.reset(); }

    static fs::path bigInput() { return inputs_->path() / "big.tif"; }

    // Waits until the engine has begun writing into folder (its temporary
    // file appears there), or the run has ended.
    static bool waitForWriting(clitest::BackgroundCli& cli, const fs::path& folder) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline && cli.running()) {
            std::error_code ignored;
            if (fs::is_directory(folder, ignored) && !fs::is_empty(folder, ignored))
                return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    static std::unique_ptr<support::TempDir> inputs_;
    support::TempDir work_;
};

std::unique_ptr<support::TempDir> CliInterruptTest::inputs_;

TEST_P(CliInterruptTest, StopsAndLeavesNoPdfAndNoTemporaryFile) {
    const fs::path outDir = work_ / "pdfs";
    const std::set<std::string> inputsBefore = clitest::filesUnder(inputs_->path());
    clitest::BackgroundCli cli(
        {"-j1", "-d", outDir.string(), bigInput().string(),
         (inputs_->path() / "small-1.tif").string(), (inputs_->path() / "small-2.tif").string()},
        work_ / "stdout.txt", work_ / "stderr.txt");

    ASSERT_TRUE(waitForWriting(cli, outDir))
        << "the run ended before it was interrupted; make the input larger\n"
        << support::readFile(work_ / "stderr.txt");
    cli.sendSignal(GetParam().signalNumber);
    const std::optional<int> status = cli.waitForExit(60s);

    ASSERT_TRUE(status.has_value()) << "did not exit after the signal";
    EXPECT_EQ(*status, GetParam().expectedExit);
    EXPECT_TRUE(fs::is_empty(outDir)) << "left behind: " << *clitest::filesUnder(outDir).begin();
    EXPECT_EQ(clitest::filesUnder(inputs_->path()), inputsBefore);

    const std::string out = support::readFile(work_ / "stdout.txt");
    const std::string err = support::readFile(work_ / "stderr.txt");
    EXPECT_TRUE(out.starts_with("converted 0 of 3 files, 0 failed, 0 skipped in ")) << out;
    // The big file was stopped part-way, the others never started.
    EXPECT_NE(err.find(bigInput().string() + ": cancelled\n"), std::string::npos) << err;
    EXPECT_NE(err.find("interrupted, 3 file(s) not converted"), std::string::npos) << err;
}

// A pipe that never delivers the TIFF, or never takes the PDF: the signal
// still ends the run (within a second; the bound below leaves room for a
// loaded machine), and nothing is left behind.
TEST_P(CliInterruptTest, StalledPipesDoNotHoldTheSignal) {
    const fs::path fifo = work_ / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Held open for reading and writing here, so the child's open returns at
    // once and the pipe neither ends nor drains.
    const int held = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(held, 0);
    fcntl(held, F_SETPIPE_SZ, 4096);
    struct Case {
        std::vector<std::string> args;
        fs::path in;
        fs::path out;
    };
    const Case cases[] = {
        {{"-o", (work_ / "x.pdf").string(), "-"}, fifo, work_ / "stdout.txt"},
        {{"-o", "-", (inputs_->path() / "small-1.tif").string()}, "/dev/null", fifo},
    };
    for (const Case& c : cases) {
        clitest::BackgroundCli cli(c.args, c.out, work_ / "stderr.txt", c.in);
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(cli.waitUntilCatching(GetParam().signalNumber, 20s))
            << support::readFile(work_ / "stderr.txt");
        cli.sendSignal(GetParam().signalNumber);
        const auto start = std::chrono::steady_clock::now();
        const std::optional<int> status = cli.waitForExit(5s);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << c.args[2];
        EXPECT_EQ(status, GetParam().expectedExit) << c.args[2];
    }
    ::close(held);
    EXPECT_EQ(clitest::filesUnder(work_.path()),
              (std::set<std::string>{"pipe", "stdout.txt", "stderr.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Signals, CliInterruptTest,
                         ::testing::Values(InterruptCase{SIGINT, 130}, InterruptCase{SIGTERM, 143},
                                           InterruptCase{SIGHUP, 129}),
                         [](const auto& testParam) {
                             return "SIG" + std::string(sigabbrev_np(testParam.param.signalNumber));
                         });

// Whether a temporary file of the engine is in the folder.
bool holdsTemporaryFile(const fs::path& folder) {
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored)) {
        if (entry.path().filename().string().ends_with(".part"))
            return true;
    }
    return false;
}

// Waits until a temporary file appears in folder, or the run has ended.
bool waitForTemporaryFile(clitest::BackgroundCli& cli, const fs::path& folder) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline && cli.running()) {
        if (holdsTemporaryFile(folder))
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

// Nothing in the folder, or the whole PDF and nothing else.
void expectCompletePdfOrNothing(const fs::path& folder, const std::string& pdf,
                                const std::string& moment) {
    const std::set<std::string> left = clitest::filesUnder(folder);
    if (left.empty())
        return;
    ASSERT_EQ(left, std::set<std::string>{pdf}) << moment;
    const support::QpdfCheck check = support::qpdfCheck(folder / pdf);
    EXPECT_TRUE(check.ok) << moment << "\n" << check.output;
}

// One page of about 100 MB, so that its compression is long: a signal must
// stop it within the grace a signal gives, or the last resort must remove
// what it was writing. Either way only a complete PDF or none is left.
class CliCompressionInterruptTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        inputs_ = std::make_unique<support::TempDir>("quorvex-cli-compression");
        fixtures::writeTiff(bigInput(), {fixtures::largeRgbPage(5800, 5800)});
    }
    static void TearDownTestSuite() { inputs_.reset(); }
    static fs::path bigInput() { return inputs_->path() / "big.tif"; }

    static std::unique_ptr<support::TempDir> inputs_;
    support::TempDir work_;
};

std::unique_ptr<support::TempDir> CliCompressionInterruptTest::inputs_;

TEST_F(CliCompressionInterruptTest, AnySignalAtAnyMomentLeavesACompletePdfOrNone) {
    int run = 0;
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        for (const auto after : {0ms, 400ms, 1200ms}) {
            const std::string moment = "SIG" + std::string(sigabbrev_np(signalNumber)) + " " +
                                       std::to_string(after.count()) + " ms in";
            const fs::path out = work_ / ("run-" + std::to_string(++run));
            fs::create_directories(out);
            clitest::BackgroundCli cli({"-o", (out / "big.pdf").string(), bigInput().string()},
                                       work_ / "stdout.txt", work_ / "stderr.txt");
            ASSERT_TRUE(waitForTemporaryFile(cli, out))
                << moment << ": " << support::readFile(work_ / "stderr.txt");
            std::this_thread::sleep_for(after);
            cli.sendSignal(signalNumber);
            const std::optional<int> status = cli.waitForExit(20s);
            ASSERT_TRUE(status.has_value()) << moment << ": did not exit";
            if (*status != 0) {
                EXPECT_EQ(*status, 128 + signalNumber) << moment;
            }
            expectCompletePdfOrNothing(out, "big.pdf", moment);
        }
    }
}

// With -o - the PDF is finished in a folder of its own under $TMPDIR first:
// that folder goes too, and standard output gets a whole PDF or nothing.
TEST_F(CliCompressionInterruptTest, SpoolForStandardOutputIsRemovedOnASignal) {
    int run = 0;
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        const fs::path spool = work_ / ("tmp-" + std::to_string(++run));
        fs::create_directories(spool);
        const fs::path pdf = work_ / "stdout.pdf";
        clitest::BackgroundCli cli({"-o", "-", bigInput().string()}, pdf, work_ / "stderr.txt",
                                   "/dev/null", {"TMPDIR=" + spool.string()});
        // The spool's own folder appears first, the PDF's temporary file in it.
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        const auto writing = [&spool] {
            const std::set<std::string> names = clitest::filesUnder(spool);
            return std::any_of(names.begin(), names.end(),
                               [](const std::string& name) { return name.ends_with(".part"); });
        };
        while (cli.running() && std::chrono::steady_clock::now() < deadline && !writing())
            std::this_thread::sleep_for(2ms);
        std::this_thread::sleep_for(1200ms);  // compressing by now
        cli.sendSignal(signalNumber);
        const std::optional<int> status = cli.waitForExit(20s);
        ASSERT_TRUE(status.has_value()) << "did not exit";
        EXPECT_TRUE(fs::is_empty(spool))
            << "left behind: " << fs::directory_iterator(spool)->path();
        if (*status == 0) {
            EXPECT_TRUE(support::qpdfCheck(pdf).ok);
        } else {
            EXPECT_EQ(*status, 128 + signalNumber);
            EXPECT_EQ(fs::file_size(pdf), 0u);
        }
    }
}

// A terminal nobody reads: the worker blocks drawing the progress line after
// a page, its temporary file open, and no flag reaches it there. The last
// resort removes the file before the process ends, and leaves the terminal
// alone (writing to it would block the end as well).
TEST(CliLastResortTest, RemovesTheTemporaryFileOfAWorkerBlockedOnTheTerminal) {
    const support::TempDir work;
    writeUncompressedRgb(work / "many.tif", 40, 1200, 900, 64);
    const fs::path out = work / "out";
    fs::create_directories(out);

    int master = -1;
    int follower = -1;
    char name[64] = {};
    ASSERT_EQ(openpty(&master, &follower, name, nullptr, nullptr), 0);
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        char buffer[4096];
        pollfd ready{master, POLLIN, 0};
        while (draining.load()) {
            if (::poll(&ready, 1, 10) == 1 && ::read(master, buffer, sizeof buffer) <= 0)
                return;
        }
    });
    // The slowest Flate level keeps a fast machine from finishing before
    // the terminal is full; the run is stopped long before it would end.
    clitest::BackgroundCli cli(
        {"-j1", "--level", "12", "-o", (out / "many.pdf").string(), (work / "many.tif").string()},
        work / "stdout.txt", {}, "/dev/null", {}, follower);
    const bool writing = waitForTemporaryFile(cli, out);
    draining.store(false);
    drain.join();
    ASSERT_TRUE(writing) << "the run ended before the terminal was stopped";
    // Filled up through a second descriptor of our own, which must not wait.
    // The kernel moves queued bytes on to the reading side's line buffer a
    // little later, which opens room for a few kilobytes more: top it up
    // until nothing has been taken for a while, or a fast run would draw
    // its remaining progress lines into that room and end unblocked.
    const int filler = ::open(name, O_WRONLY | O_NONBLOCK | O_NOCTTY);
    ASSERT_GE(filler, 0);
    const std::string block(4096, 'x');
    auto lastTaken = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - lastTaken < 300ms) {
        if (::write(filler, block.data(), block.size()) > 0)
            lastTaken = std::chrono::steady_clock::now();
        else
            std::this_thread::sleep_for(5ms);
    }
    ::close(filler);
    std::this_thread::sleep_for(1s);  // the next progress line blocks
    ASSERT_TRUE(holdsTemporaryFile(out)) << "the run ended before it was blocked";

    cli.sendSignal(SIGINT);
    const std::optional<int> status = cli.waitForExit(20s);
    ::close(follower);
    ::close(master);
    ASSERT_TRUE(status.has_value()) << "did not exit";
    EXPECT_EQ(*status, 130);
    EXPECT_TRUE(fs::is_empty(out)) << "left behind: " << *clitest::filesUnder(out).begin();
}

}  // namespace
