// Runs as archive jobs drive them: inputs from a file list, a JSON Lines
// report to check afterwards, and a run killed outright then started again.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
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

std::set<std::string> partFilesUnder(const fs::path& dir) {
    std::set<std::string> parts;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path().extension() == ".part")
            parts.insert(entry.path().string());
    }
    return parts;
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

// kill -9 at any moment leaves no PDF that is not whole under its final
// name; the next run with -n removes the dead run's temporary files and
// converts exactly what is missing, adding to the same report.
TEST_F(CliBatchRunTest, KilledRunResumesAndEveryInputConvertsOnce) {
    constexpr int kFiles = 120;
    fs::create_directories(dir_ / "in");
    std::string list;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "in/scan" + std::to_string(i) + ".tif";
        writeSampleTiff(dir_ / name, 2, static_cast<unsigned>(i % 4));
        list += path(name) + '\n';
    }
    std::ofstream(dir_ / "list") << list;
    const std::vector<std::string> args{
        "-n",           "-j2",        "-d",       path("out"),
        "--files-from", path("list"), "--report", path("report.jsonl")};
    {
        clitest::BackgroundCli first(args, dir_ / "out1.txt", dir_ / "err1.txt");
        // Killed once a few files are reported, in the middle of others.
        while (first.running() && (!fs::exists(dir_ / "report.jsonl") ||
                                   reportLines(dir_ / "report.jsonl").size() < 5))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        first.sendSignal(SIGKILL);
        EXPECT_FALSE(first.waitForExit(std::chrono::seconds(10)).has_value());
    }
    const std::vector<Json> firstLines = reportLines(dir_ / "report.jsonl");
    ASSERT_LT(fileLines(firstLines).size(), static_cast<std::size_t>(kFiles));
    std::set<std::string> pdfsAfterKill;
    for (const auto& entry : fs::directory_iterator(dir_ / "out")) {
        if (entry.path().extension() != ".pdf")
            continue;
        EXPECT_TRUE(support::qpdfCheck(entry.path()).ok) << entry.path();
        pdfsAfterKill.insert(entry.path().string());
    }
    // A temporary file of a process that is gone, whatever the kill left.
    const std::string deadPid = support::runCommand({"sh", "-c", "echo $$"}).out;
    std::ofstream(dir_ /
                  ("out/.quorvex-" + deadPid.substr(0, deadPid.size() - 1) + "-0-0badf00d.part"))
        << "%PDF-1.7 half";

    const support::CommandResult resumed = runCli(args);
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_EQ(partFilesUnder(dir_.path()), std::set<std::string>{});
    std::map<std::string, int> converted;
    std::set<std::string> skipped;
    for (const Json& line : fileLines(reportLines(dir_ / "report.jsonl"))) {
        if (line["status"] == "converted")
            ++converted[line["output"].get<std::string>()];
        else if (line["status"] == "skipped")
            skipped.insert(line["output"].get<std::string>());
        else
            ADD_FAILURE() << line;
    }
    for (int i = 0; i < kFiles; ++i) {
        const std::string pdf = path("out/scan" + std::to_string(i) + ".pdf");
        EXPECT_EQ(support::pdfPageCount(pdf), 2) << pdf;
        // Killed between the rename and its line, a file is done yet has
        // no line: the resumed run then says it skipped it.
        const int expectedConverted = converted.contains(pdf) || !pdfsAfterKill.contains(pdf);
        EXPECT_EQ(converted[pdf], expectedConverted) << pdf;
        EXPECT_EQ(skipped.contains(pdf), pdfsAfterKill.contains(pdf)) << pdf;
    }
}

}  // namespace
