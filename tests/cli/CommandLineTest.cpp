// The command line run in-process with a stand-in engine: the paths through
// parsing, collection, planning and the batch that need no real conversion.
#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ExitCodes.h"
#include "support/TestSupport.h"

namespace quorvex::cli {
namespace {

namespace fs = std::filesystem;

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

std::string readAll(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        text += static_cast<char>(c);
    return text;
}

class CommandLineTest : public ::testing::Test {
  protected:
    CommandLineTest() : out_(std::tmpfile(), &std::fclose), err_(std::tmpfile(), &std::fclose) {
        env_.out = out_.get();
        env_.err = err_.get();
        env_.cancel = &cancel_;
        env_.converter = [this](const ConversionRequest& request) {
            requests_.push_back(request.inputPath + " => " + request.outputPath);
            ConversionOutcome outcome;
            outcome.result = 1;
            outcome.outputPath = request.outputPath;
            outcome.pageCount = 1;
            outcome.bytesWritten = 100;
            return outcome;
        };
    }

    int run(std::vector<std::string> args) { return runCommandLine(args, env_); }
    std::string out() { return readAll(out_.get()); }
    std::string err() { return readAll(err_.get()); }
    fs::path touch(const std::string& name) {
        const fs::path path = dir_ / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        return path;
    }

    support::TempDir dir_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> err_;
    std::atomic<bool> cancel_{false};
    std::vector<std::string> requests_;
    CommandLineEnvironment env_;
};

TEST_F(CommandLineTest, DuplicateOutputsFailTheSecondFileAndTheRunGoesOn) {
    const fs::path a = touch("a/x.tif");
    const fs::path b = touch("b/x.tif");
    const fs::path outDir = dir_ / "pdfs";
    EXPECT_EQ(run({"-d", outDir.string(), a.string(), b.string()}), kExitFailure);
    EXPECT_EQ(requests_.size(), 1u);
    EXPECT_EQ(err(), b.string() + ": not converted: '" + a.string() + "' already writes '" +
                         (outDir / "x.pdf").string() + "'\n");
}

// 3 when every file converted but some with damage; a failure still wins.
TEST_F(CommandLineTest, DamageEndsWithStatusThreeAndStrictReachesTheEngine) {
    const fs::path damaged = touch("damaged.tif");
    const fs::path broken = touch("broken.tif");
    std::vector<bool> strict;
    env_.converter = [&](const ConversionRequest& request) {
        strict.push_back(request.options.strict);
        ConversionOutcome outcome;
        outcome.result = request.inputPath == broken.string() ? 0 : 1;
        if (outcome.result == 0)
            outcome.failure = FailureKind::InputUnreadable;
        outcome.outputPath = request.outputPath;
        if (request.inputPath == damaged.string())
            outcome.warnings = {
                "page 1, rows 54-600 unreadable (LZW: Using code not yet in table)"};
        return outcome;
    };
    EXPECT_EQ(run({damaged.string()}), kExitDamaged);
    EXPECT_NE(err().find(damaged.string() +
                         ": damaged: page 1, rows 54-600 unreadable (LZW: Using code not yet in "
                         "table)\n"),
              std::string::npos);
    EXPECT_NE(out().find("converted 1 of 1 file (1 damaged), 0 failed"), std::string::npos);
    EXPECT_EQ(run({"-j1", "--strict", damaged.string(), broken.string()}), kExitFailure);
    EXPECT_EQ(strict, (std::vector<bool>{false, true, true}));
}

TEST_F(CommandLineTest, OutputDirIsCreatedAndEachRequestNamesItsPdf) {
    const fs::path a = touch("scans/a.tif");
    const fs::path outDir = dir_ / "new/nested";
    EXPECT_EQ(run({"--output-dir", outDir.string(), a.string()}), kExitSuccess);
    EXPECT_TRUE(fs::is_directory(outDir));
    EXPECT_EQ(requests_,
              std::vector<std::string>{a.string() + " => " + (outDir / "a.pdf").string()});
}

TEST_F(CommandLineTest, OutputDirThatIsAFileFailsWithoutConverting) {
    const fs::path a = touch("a.tif");
    const fs::path blocker = touch("blocker");
    EXPECT_EQ(run({"-d", blocker.string(), a.string()}), kExitFailure);
    EXPECT_TRUE(requests_.empty());
    EXPECT_NE(err().find("cannot create output folder"), std::string::npos);
}

TEST_F(CommandLineTest, CancelEndsWithTheSignalsStatusAndStillPrintsTheSummary) {
    for (const char* name : {"1.tif", "2.tif", "3.tif"})
        touch(name);
    env_.converter = [this](const ConversionRequest& request) {
        cancel_ = true;  // the first file is interrupted
        ConversionOutcome outcome;
        outcome.failure = FailureKind::Cancelled;
        outcome.outputPath = request.outputPath;
        return outcome;
    };
    env_.cancelExitStatus = [] { return kExitTerminated; };
    EXPECT_EQ(run({"-j1", dir_.path().string()}), kExitTerminated);
    EXPECT_TRUE(out().starts_with("converted 0 of 3 files, 0 failed, 0 skipped in ")) << out();
    const std::string errors = err();
    EXPECT_NE(errors.find("1.tif: cancelled\n"), std::string::npos) << errors;
    EXPECT_NE(errors.find("interrupted, 3 file(s) not converted"), std::string::npos) << errors;
}

// One JSON line per input a run-wide stop included: files cut short and
// files never begun are reported as cancelled.
TEST_F(CommandLineTest, ReportHasALineForEveryInputWhenTheRunIsCancelled) {
    for (const char* name : {"1.tif", "2.tif", "3.tif"})
        touch(name);
    env_.converter = [this](const ConversionRequest& request) {
        cancel_ = true;
        ConversionOutcome outcome;
        outcome.failure = FailureKind::Cancelled;
        outcome.outputPath = request.outputPath;
        return outcome;
    };
    env_.cancelExitStatus = [] { return kExitTerminated; };
    const fs::path report = dir_ / "report.jsonl";
    EXPECT_EQ(run({"-j1", "--report", report.string(), dir_.path().string()}), kExitTerminated);
    const std::vector<nlohmann::json> lines = jsonLines(support::readFile(report));
    ASSERT_EQ(lines.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i]["status"], "cancelled");
        EXPECT_EQ(lines[i]["failure"], "cancelled");
    }
    EXPECT_EQ(lines[3]["type"], "summary");
    EXPECT_EQ(lines[3]["cancelled"], 3);
    EXPECT_EQ(lines[3]["exit_status"], kExitTerminated);
}

// Schedulers retry on 4 only: a failure that may pass (a full disk, an
// I/O error) wins over one that will not.
TEST_F(CommandLineTest, ExitStatusSaysWhetherARetryCanHelp) {
    struct Outcome {
        FailureKind kind;
        const char* detail;
        bool damaged;
    };
    struct Case {
        std::vector<Outcome> outcomes;  // one per file, in order
        int exitStatus;
    };
    const Outcome fine{FailureKind::None, "", false};
    const Outcome damaged{FailureKind::None, "", true};
    const Outcome unreadable{FailureKind::InputUnreadable, "not a TIFF", false};
    const Outcome diskFull{FailureKind::OutputFailed, "write: No space left on device", false};
    const Outcome ioError{FailureKind::OutputFailed, "write: Input/output error", false};
    const Outcome denied{FailureKind::OutputFailed, "open: Permission denied", false};
    const Case cases[] = {
        {{fine, fine}, kExitSuccess},          {{fine, damaged}, kExitDamaged},
        {{damaged, unreadable}, kExitFailure}, {{denied, fine}, kExitFailure},
        {{fine, diskFull}, kExitRetry},        {{unreadable, ioError}, kExitRetry},
    };
    for (const Case& c : cases) {
        std::size_t next = 0;
        env_.converter = [&](const ConversionRequest& request) {
            const Outcome& wanted = c.outcomes[next++];
            ConversionOutcome outcome;
            outcome.outputPath = request.outputPath;
            outcome.result = wanted.kind == FailureKind::None ? 1 : 0;
            outcome.failure = wanted.kind;
            outcome.detail = wanted.detail;
            if (wanted.damaged)
                outcome.warnings = {"page 1, rows 1-2 unreadable"};
            return outcome;
        };
        std::vector<std::string> args{"-j1"};
        for (std::size_t i = 0; i < c.outcomes.size(); ++i)
            args.push_back(touch("f" + std::to_string(i) + ".tif").string());
        EXPECT_EQ(run(args), c.exitStatus) << c.exitStatus;
    }
}

TEST_F(CommandLineTest, ReportOnStandardOutputMovesTheLinesToStandardError) {
    const fs::path a = touch("a.tif");
    EXPECT_EQ(run({"--report", "-", a.string()}), kExitSuccess);
    const std::vector<nlohmann::json> lines = jsonLines(out());
    ASSERT_EQ(lines.size(), 2u) << out();
    EXPECT_EQ(lines[0]["input"], a.string());
    EXPECT_EQ(lines[0]["status"], "converted");
    EXPECT_NE(err().find(a.string() + " -> "), std::string::npos) << err();
}

// A listed folder is scanned as a folder argument is; listed files count as
// named, after those on the command line.
TEST_F(CommandLineTest, FileListMayNameFoldersAndFollowsTheCommandLine) {
    const fs::path first = touch("first.tif");
    touch("tree/a.tif");
    touch("tree/sub/b.tif");
    const fs::path named = touch("named.any");
    const fs::path list = dir_ / "list";
    std::ofstream(list) << (dir_ / "tree").string() << "\n" << named.string() << "\n";
    EXPECT_EQ(run({"-j1", "-r", "-d", (dir_ / "out").string(), "--files-from", list.string(),
                   first.string()}),
              kExitSuccess);
    const std::string out = (dir_ / "out").string();
    EXPECT_EQ(requests_, (std::vector<std::string>{
                             first.string() + " => " + out + "/first.pdf",
                             (dir_ / "tree/a.tif").string() + " => " + out + "/a.pdf",
                             (dir_ / "tree/sub/b.tif").string() + " => " + out + "/sub/b.pdf",
                             named.string() + " => " + out + "/named.any.pdf"}));
}

// A shard of a larger run may be empty: nothing to do is not a mistake.
TEST_F(CommandLineTest, EmptyFileListIsAnEmptyRun) {
    const fs::path list = dir_ / "list";
    std::ofstream(list) << "\n\n";
    EXPECT_EQ(run({"--files-from", list.string(), "--report", "-"}), kExitSuccess);
    const std::vector<nlohmann::json> lines = jsonLines(out());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["files"], 0);
    EXPECT_EQ(run({"--files-from", (dir_ / "gone").string()}), kExitUsage);
}

TEST_F(CommandLineTest, ReportThatCannotBeOpenedConvertsNothing) {
    const fs::path a = touch("a.tif");
    EXPECT_EQ(run({"--report", (dir_ / "missing/r.jsonl").string(), a.string()}), kExitFailure);
    EXPECT_TRUE(requests_.empty());
    EXPECT_NE(err().find("cannot open the report"), std::string::npos) << err();
}

TEST_F(CommandLineTest, EmptyFolderBesideOtherInputsIsANoticeNotAnError) {
    const fs::path a = touch("a.tif");
    fs::create_directories(dir_ / "empty");
    EXPECT_EQ(run({a.string(), (dir_ / "empty").string()}), kExitSuccess);
    EXPECT_EQ(err(), "quorvex-tiff2pdf: no TIFF files in '" + (dir_ / "empty").string() + "'\n");
    EXPECT_EQ(requests_.size(), 1u);
}

TEST_F(CommandLineTest, HelpListsEveryOptionAndExamples) {
    EXPECT_EQ(run({"--help"}), kExitSuccess);
    const std::string help = out();
    for (const char* option :
         {"--recursive", "--output",  "--output-dir",    "--no-clobber", "--jobs",    "--merge",
          "--strict",    "--dpi",     "--force-dpi",     "--title",      "--author",  "--subject",
          "--keywords",  "--creator", "--creation-date", "--quiet",      "--verbose", "--help",
          "--version",   "Examples:", "Exit status:"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(err(), "");
}

}  // namespace
}  // namespace quorvex::cli
