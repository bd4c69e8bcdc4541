// Runs as archive jobs drive them: inputs from a file list and a JSON Lines
// report to check afterwards (a run killed outright and started again is in
// ScalingRecipeTest, through the GNU parallel recipe).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using clitest::runCli;
using clitest::writeSampleTiff;

std::vector<Json> reportLines(const fs::path& report) {
    std::vector<Json> lines;
    std::istringstream text(support::readFile(report));
    for (std::string line; std::getline(text, line);)
        lines.push_back(Json::parse(line));  // throws on a broken line: none may be
    return lines;
}

std::vector<Json> fileLines(const std::vector<Json>& lines) {
    std::vector<Json> files;
    for (const Json& line : lines) {
        if (line["type"] == "file")
            files.push_back(line);
    }
    return files;
}

class CliBatchRunTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    support::TempDir dir_;
};

// Every way a file can end gives one line saying so, with the failure's kind.
TEST_F(CliBatchRunTest, ReportHasOneLinePerInputInEveryOutcome) {
    writeSampleTiff(dir_ / "good.tif", 2);
    fs::create_directories(dir_ / "dup");
    writeSampleTiff(dir_ / "dup/good.tif", 1, 1);
    writeSampleTiff(dir_ / "torn.tif", 2);
    clitest::pointPageStripsPastEnd(dir_ / "torn.tif", 1);
    clitest::writeNotATiff(dir_ / "bad.tif");
    writeSampleTiff(dir_ / "old.tif", 1);
    fs::create_directories(dir_ / "out");
    std::ofstream(dir_ / "out/old.pdf") << "kept";
    fs::create_directories(dir_ / "links");
    fs::create_symlink("gone.tif", dir_ / "links/lost.tif");

    const support::CommandResult result = runCli(
        {"-n", "-j2", "-d", path("out"), "--report", path("report.jsonl"), path("good.tif"),
         path("dup/good.tif"), path("torn.tif"), path("bad.tif"), path("old.tif"), path("links")});
    EXPECT_EQ(result.exitCode, 1) << result.err;

    struct Expected {
        const char* status;
        Json failure;
        int pages;
    };
    const std::map<std::string, Expected> expected{
        {"good.tif", {"converted", nullptr, 2}},
        {"dup/good.tif", {"failed", "input-refused", 0}},
        {"torn.tif", {"damaged", nullptr, 2}},
        {"bad.tif", {"failed", "input-unreadable", 0}},
        {"old.tif", {"skipped", nullptr, 0}},
        {"links/lost.tif", {"failed", "input-unreadable", 0}},
    };
    const std::vector<Json> lines = reportLines(dir_ / "report.jsonl");
    const std::vector<Json> files = fileLines(lines);
    ASSERT_EQ(files.size(), expected.size());
    for (const Json& line : files) {
        const std::string input =
            fs::path(line["input"].get<std::string>()).lexically_relative(dir_.path());
        ASSERT_TRUE(expected.contains(input)) << line;
        const Expected& want = expected.at(input);
        EXPECT_EQ(line["status"], want.status) << line;
        EXPECT_EQ(line["failure"], want.failure) << line;
        EXPECT_EQ(line["pages"], want.pages) << line;
        EXPECT_GT(line["peak_memory_bytes"].get<uint64_t>(), 0u) << line;
    }
    const Json& torn = *std::find_if(files.begin(), files.end(),
                                     [](const Json& line) { return line["status"] == "damaged"; });
    EXPECT_EQ(torn["damage"].size(), 1u) << torn;
    EXPECT_EQ(torn["bytes"], fs::file_size(dir_ / "out/torn.pdf"));
    ASSERT_EQ(lines.back()["type"], "summary");
    EXPECT_EQ(lines.back()["exit_status"], 1);
    EXPECT_EQ(lines.back()["files"], 6);
    EXPECT_EQ(lines.back()["failed"], 3);
}

// Names with any bytes: spaces, a newline, bytes that are not UTF-8, a
// leading dash; NUL-separated from standard input as find -print0 gives them.
TEST_F(CliBatchRunTest, NulSeparatedListFromStandardInputTakesAnyName) {
    const std::vector<std::string> names{"two\nlines.tif", "caf\xe9 1.tif", "-dash.tif", "-"};
    std::string list;
    for (const std::string& name : names) {
        writeSampleTiff(dir_ / name, 1);
        list += (name == "-" ? name : path(name)) + '\0';
    }
    const support::CommandResult result =
        support::runCommand({"sh", "-c", "cd \"$0\" && exec \"$@\"", dir_.path().string(),
                             clitest::cliPath(), "-0", "--files-from", "-", "--report", "r.jsonl"},
                            list);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const char* pdf : {"two\nlines.pdf", "caf\xe9 1.pdf", "-dash.pdf", "-.pdf"})
        EXPECT_EQ(support::pdfPageCount(dir_ / pdf), 1) << pdf;
    std::map<std::string, Json> byInput;  // lines come in the order files finish
    for (const Json& line : fileLines(reportLines(dir_ / "r.jsonl")))
        byInput[line["input"]] = line;
    ASSERT_EQ(byInput.size(), 4u);
    EXPECT_EQ(byInput.at(path("two\nlines.tif"))["status"], "converted");
    const Json& latin1 = byInput.at(path("caf\\xe9 1.tif"));
    EXPECT_EQ(latin1["input_hex"].get<std::string>().size(), 2 * path("caf\xe9 1.tif").size());
    EXPECT_EQ(latin1["status"], "converted");
    EXPECT_EQ(byInput.at("./-")["output"], "./-.pdf");
}

}  // namespace
