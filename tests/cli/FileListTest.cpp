#include "cli/FileList.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "support/TestSupport.h"

namespace quorvex::cli {
namespace {

using Names = std::vector<std::string>;

struct SplitCase {
    const char* what;
    std::string bytes;
    char separator;
    Names names;
};

// Names keep every byte but their separator; empty entries are no names.
TEST(FileListTest, SplitsOnNewlinesOrNulKeepingEveryOtherByte) {
    const SplitCase cases[] = {
        {"lines", "a.tif\nb/c.tif\n", '\n', {"a.tif", "b/c.tif"}},
        {"no final newline", "a.tif\nb.tif", '\n', {"a.tif", "b.tif"}},
        {"empty lines", "\n\na.tif\n\n\nb.tif\n\n", '\n', {"a.tif", "b.tif"}},
        {"empty list", "", '\n', {}},
        {"spaces and tabs kept", " a b.tif \n\tc.tif\n", '\n', {" a b.tif ", "\tc.tif"}},
        {"carriage return kept", "a.tif\r\n", '\n', {"a.tif\r"}},
        {"bytes that are not UTF-8",
         "caf\xe9.tif\n\xff\xfe.tif\n",
         '\n',
         {"caf\xe9.tif", "\xff\xfe.tif"}},
        {"a dash is a file", "-\n", '\n', {"./-"}},
        {"NUL ends names", std::string("a.tif\0b.tif\0", 12), '\0', {"a.tif", "b.tif"}},
        {"NUL keeps newlines in names",
         std::string("two\nlines.tif\0x\0", 16),
         '\0',
         {"two\nlines.tif", "x"}},
        {"NUL list, no final NUL", std::string("a\0\0b", 4), '\0', {"a", "b"}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(splitFileList(c.bytes, c.separator), c.names) << c.what;
}

TEST(FileListTest, ReadsAFileOrStandardInputAndNamesAListItCannotRead) {
    support::TempDir dir;
    const std::string list = (dir.path() / "list").string();
    std::ofstream(list, std::ios::binary) << std::string("a\0b\0", 4);
    EXPECT_EQ(readFileList(list, true, -1, nullptr).paths, (Names{"a", "b"}));

    std::ofstream(dir.path() / "stdin") << "x.tif\ny.tif\n";
    const int standardInput = ::open((dir.path() / "stdin").c_str(), O_RDONLY);
    const FileListRead fromStdin = readFileList("-", false, standardInput, nullptr);
    ::close(standardInput);
    EXPECT_EQ(fromStdin.paths, (Names{"x.tif", "y.tif"}));

    const FileListRead missing = readFileList(list + ".gone", false, -1, nullptr);
    EXPECT_TRUE(missing.paths.empty());
    EXPECT_EQ(missing.error,
              "cannot read the file list '" + list + ".gone' (No such file or directory)");
    EXPECT_EQ(readFileList(dir.path().string(), false, -1, nullptr).error,
              "cannot read the file list '" + dir.path().string() + "' (Is a directory)");
}

TEST(FileListTest, OptionsCombineWithTheListOrAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {{"--files-from", "list"}, ""},
        {{"--files-from=-", "-0", "-r", "-n", "-j2", "-d", "out"}, ""},
        {{"--null", "--files-from", "list", "-m", "-o", "all.pdf"}, ""},
        {{"--files-from", "list", "--report", "-"}, ""},
        {{"-0", "a.tif"}, "option '--null' needs '--files-from FILE'"},
        {{"--files-from", "-", "-", "-o", "x.pdf"},
         "standard input ('-') cannot hold both the file list and a TIFF"},
        {{"--files-from", "l", "-", "-o", "x.pdf"}, "standard input ('-') must be the only input"},
        {{"--report", "-", "-o", "-", "a.tif"},
         "'--report -' and '-o -' cannot both write to standard output"},
        {{"--files-from"}, "option '--files-from' needs a value"},
        {{"--report="}, "option '--report' needs a non-empty path"},
    };
    for (const Case& c : cases) {
        const ParseResult parsed = parseOptions(c.args);
        EXPECT_EQ(parsed.error, c.error) << c.args[0];
    }
    const CliOptions options = parseOptions({"-0", "--files-from", "l", "--report", "r"}).options;
    EXPECT_EQ(options.filesFrom, "l");
    EXPECT_TRUE(options.nullSeparated);
    EXPECT_EQ(options.reportFile, "r");
}

}  // namespace
}  // namespace quorvex::cli
