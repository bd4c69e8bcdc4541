// Usage errors, --help and --version of the real binary: none of them
// converts anything, so they hold whatever the engine does.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using clitest::runCli;

struct UsageCase {
    std::string name;
    std::vector<std::string> args;
    std::string expectedText;
};

class CliUsageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clitest::writeNotATiff(dir_ / "a.tif");
        clitest::writeNotATiff(dir_ / "b.tif");
        fs::create_directories(dir_ / "empty");
        clitest::writeNotATiff(dir_ / "empty/readme.txt");
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    support::TempDir dir_;
};

TEST_F(CliUsageTest, EachUsageErrorExitsTwoWithOneLineAndAHintToHelp) {
    const std::vector<UsageCase> cases = {
        {"unknown option", {"--colour", path("a.tif")}, "unknown option '--colour'"},
        {"unknown short option", {"-z", path("a.tif")}, "unknown option '-z'"},
        {"missing value", {path("a.tif"), "--jobs"}, "option '--jobs' needs a value"},
        {"bad job count", {"-j", "zero", path("a.tif")}, "invalid value 'zero' for '-j'"},
        {"no input", {}, "no input files given"},
        {"output with several inputs",
         {"-o", path("out.pdf"), path("a.tif"), path("b.tif")},
         "needs a single input"},
        {"output with a folder of several files",
         {"-o", path("out.pdf"), dir_.path().string()},
         "needs a single input, but 2 files were found"},
        {"folder without TIFF files", {path("empty")}, "no TIFF files found in"},
        {"merge without an output", {"-m", path("a.tif"), path("b.tif")}, "needs '--output FILE'"},
        {"standard input without an output", {"-"}, "needs '--output FILE'"},
        {"creation date not ISO 8601",
         {"--creation-date", "01/05/2024", path("a.tif")},
         "invalid value '01/05/2024' for '--creation-date'"},
    };
    const std::set<std::string> before = clitest::filesUnder(dir_.path());
    for (const UsageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const support::CommandResult result = runCli(c.args);
        EXPECT_EQ(result.exitCode, 2) << result.statusText();
        EXPECT_EQ(result.out, "");
        ASSERT_FALSE(result.err.empty());
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
        EXPECT_TRUE(result.err.starts_with("quorvex-tiff2pdf: ")) << result.err;
        EXPECT_NE(result.err.find(c.expectedText), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
    }
    // Nothing was written, not even the output folder.
    EXPECT_EQ(clitest::filesUnder(dir_.path()), before);
    EXPECT_FALSE(fs::exists(dir_ / "pdfs"));
}

TEST(CliInfoTest, VersionComesFromTheProject) {
    const support::CommandResult result = runCli({"--version"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, std::string("quorvex-tiff2pdf ") + QUORVEX_EXPECTED_VERSION + "\n");
    EXPECT_EQ(result.err, "");
}

TEST(CliInfoTest, HelpDescribesUsageOptionsExamplesAndExitStatus) {
    const support::CommandResult result = runCli({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.starts_with("Usage: quorvex-tiff2pdf [OPTIONS] PATH...")) << result.out;
    for (const char* text : {"-r, --recursive", "-o, --output FILE", "-d, --output-dir DIR",
                             "-n, --no-clobber", "-j, --jobs N", "--title", "--creation-date",
                             "-q, --quiet", "-v, --verbose", "Examples:", "130"}) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(runCli({"-h"}).out, result.out);
}

}  // namespace
