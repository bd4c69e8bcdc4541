// Every input named gets its own PDF or a line saying why not, whatever the
// spelling of its name, and every line printed is safe for the terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using clitest::filesUnder;
using clitest::writeNotATiff;
using clitest::writeSampleTiff;

// The command line run from inside `dir`, so relative names mean what a
// user typing them there means; stdoutFull sends standard output to /dev/full.
support::CommandResult runCliIn(const fs::path& dir, const std::vector<std::string>& args,
                                bool stdoutFull = false) {
    std::vector<std::string> argv{
        "sh", "-c", stdoutFull ? R"(cd "$0" && exec "$@" > /dev/full)" : R"(cd "$0" && exec "$@")",
        dir.string(), clitest::cliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return support::runCommand(argv);
}

void expectPdfPages(const fs::path& pdf, int pages) {
    ASSERT_TRUE(fs::exists(pdf)) << pdf;
    EXPECT_TRUE(support::qpdfCheck(pdf).ok) << pdf;
    EXPECT_EQ(support::pdfPageCount(pdf), pages) << pdf;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct NothingLostCase {
    const char* what;
    std::function<void(const fs::path&)> setup;
    std::vector<std::string> args;
    bool stdoutFull = false;
    int exitCode = 0;
    std::function<void(const fs::path&, const support::CommandResult&)> check;
};

void PrintTo(const NothingLostCase& c, std::ostream* os) {
    *os << c.what;
}

class CliNothingLostTest : public ::testing::TestWithParam<NothingLostCase> {};

TEST_P(CliNothingLostTest, EveryInputIsAccountedFor) {
    const NothingLostCase& c = GetParam();
    support::TempDir dir;
    c.setup(dir.path());
    const support::CommandResult result = runCliIn(dir.path(), c.args, c.stdoutFull);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
    c.check(dir.path(), result);
}

const NothingLostCase kNothingLostCases[] = {
    {"two spellings writing one PDF fail the second",
     [](const fs::path& dir) {
         writeSampleTiff(dir / "a.tif", 1);
         writeSampleTiff(dir / "a", 2, 1);
     },
     {"./a.tif", "a"},
     false,
     1,
     [](const fs::path& dir, const support::CommandResult& result) {
         expectPdfPages(dir / "a.pdf", 1);
         EXPECT_EQ(result.err, "a: not converted: './a.tif' already writes 'a.pdf'\n");
         EXPECT_TRUE(contains(result.out, "converted 1 of 2 files, 1 failed")) << result.out;
     }},
    {"merge keeps repeated inputs",
     [](const fs::path& dir) {
         writeSampleTiff(dir / "p1.tif", 2);
         writeSampleTiff(dir / "p2.tif", 1, 1);
     },
     {"-m", "-o", "r.pdf", "p1.tif", "p2.tif", "p1.tif"},
     false,
     0,
     [](const fs::path& dir, const support::CommandResult& result) {
         expectPdfPages(dir / "r.pdf", 5);
         EXPECT_TRUE(contains(result.out, "p1.tif (+2 more) -> r.pdf (5 pages")) << result.out;
     }},
    {"a link named beside its file is said to be the same file",
     [](const fs::path& dir) {
         writeSampleTiff(dir / "a.tif", 1);
         fs::create_symlink("a.tif", dir / "link.tif");
     },
     {"a.tif", "link.tif", "./a.tif"},
     false,
     0,
     [](const fs::path& dir, const support::CommandResult& result) {
         EXPECT_EQ(filesUnder(dir), (std::set<std::string>{"a.tif", "a.pdf", "link.tif"}));
         EXPECT_TRUE(contains(result.out, "link.tif: skipped, same file as 'a.tif'\n"))
             << result.out;
         EXPECT_TRUE(contains(result.out, "./a.tif: skipped, same file as 'a.tif'\n"))
             << result.out;
         EXPECT_TRUE(contains(result.out, "converted 1 of 3 files, 0 failed, 2 skipped"))
             << result.out;
     }},
    {"a dangling link in a folder gets a line",
     [](const fs::path& dir) {
         fs::create_directories(dir / "scans");
         writeSampleTiff(dir / "scans/a.tif", 1);
         fs::create_symlink("../gone.tif", dir / "scans/b.tif");
     },
     {"scans"},
     false,
     1,
     [](const fs::path& dir, const support::CommandResult& result) {
         expectPdfPages(dir / "scans/a.pdf", 1);
         EXPECT_EQ(result.err,
                   "scans/b.tif: not converted: a link to '../gone.tif', which leads to no file\n");
         EXPECT_TRUE(contains(result.out, "converted 1 of 2 files, 1 failed")) << result.out;
     }},
    {"a full standard output ends the run after the current file",
     [](const fs::path& dir) {
         for (const char* name : {"a.tif", "b.tif", "c.tif"})
             writeSampleTiff(dir / name, 1);
     },
     {"-j1", "a.tif", "b.tif", "c.tif"},
     true,
     1,
     [](const fs::path& dir, const support::CommandResult& result) {
         EXPECT_EQ(filesUnder(dir), (std::set<std::string>{"a.tif", "a.pdf", "b.tif", "c.tif"}));
         EXPECT_TRUE(contains(result.err, "cannot write standard output (No space left on device)"))
             << result.err;
     }},
    {"a report that cannot be written ends the run after the current file",
     [](const fs::path& dir) {
         for (const char* name : {"a.tif", "b.tif", "c.tif"})
             writeSampleTiff(dir / name, 1);
     },
     {"-j1", "--report", "/dev/full", "a.tif", "b.tif", "c.tif"},
     false,
     1,
     [](const fs::path& dir, const support::CommandResult& result) {
         EXPECT_EQ(filesUnder(dir), (std::set<std::string>{"a.tif", "a.pdf", "b.tif", "c.tif"}));
         EXPECT_TRUE(
             contains(result.err, "cannot write the report '/dev/full' (No space left on device)"))
             << result.err;
     }},
    {"help on a full standard output fails",
     [](const fs::path&) {},
     {"--help"},
     true,
     1,
     [](const fs::path&, const support::CommandResult&) {}},
    {"libtiff's lines under -v are escaped",
     [](const fs::path& dir) { writeNotATiff(dir / "bad\033[2J\xc2\x9b\xff.tif"); },
     {"-v", "bad\033[2J\xc2\x9b\xff.tif"},
     false,
     1,
     [](const fs::path&, const support::CommandResult& result) {
         EXPECT_TRUE(contains(result.err, "\n    libtiff: ")) << result.err;
         EXPECT_TRUE(contains(result.err, "bad\\x1b[2J\\xc2\\x9b\\xff.tif: ")) << result.err;
         for (const std::string& text : {result.out, result.err}) {
             EXPECT_EQ(text.find('\033'), std::string::npos) << text;
             EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << text;
             EXPECT_EQ(text.find('\xff'), std::string::npos) << text;
         }
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, CliNothingLostTest, ::testing::ValuesIn(kNothingLostCases),
                         [](const auto& testParam) {
                             return "Case" + std::to_string(testParam.index);
                         });

}  // namespace
