// Ctrl-C, SIGTERM and SIGHUP in the middle of a large conversion: the run stops,
// reports, and leaves neither a partial PDF nor a temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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

class CliInterruptTest : public ::testing::TestWithParam<InterruptCase> {
  protected:
    // Large enough that converting it takes far longer than the time the
    // test needs to notice the run has started: uncompressed RGB pages in
    // many strips, so the engine has many points at which to stop.
    static void SetUpTestSuite() {
        inputs_ = std::make_unique<support::TempDir>("quorvex-cli-interrupt");
        std::vector<fixtures::PageRecipe> pages;
        for (uint32_t i = 0; i < 3; ++i) {
            pages.push_back({.width = 2400,
                             .height = 1800,
                             .compression = COMPRESSION_NONE,
                             .photometric = PHOTOMETRIC_RGB,
                             .rowsPerStrip = 32,
                             .variant = i});
        }
        fixtures::writeTiff(bigInput(), pages);
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
        ASSERT_TRUE(cli.running()) << support::readFile(work_ / "stderr.txt");
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

}  // namespace
