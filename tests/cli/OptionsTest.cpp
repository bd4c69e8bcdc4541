#include "cli/Options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::cli {
namespace {

using Action = ParseResult::Action;

ParseResult parse(std::vector<std::string> args) {
    return parseOptions(args);
}

CliOptions parseOk(std::vector<std::string> args) {
    const ParseResult result = parseOptions(args);
    EXPECT_EQ(result.action, Action::Run) << result.error;
    return result.options;
}

TEST(OptionsTest, PathsKeepCommandLineOrderAndDocumentInfoNamesThisProgram) {
    const CliOptions options = parseOk({"b.tif", "a.tif", "dir"});
    EXPECT_EQ(options.paths, (std::vector<std::string>{"b.tif", "a.tif", "dir"}));
    EXPECT_FALSE(options.recursive);
    EXPECT_FALSE(options.noClobber);
    EXPECT_FALSE(options.outputFile);
    EXPECT_FALSE(options.outputDir);
    EXPECT_EQ(options.jobs, 0u);
    EXPECT_EQ(options.verbosity, Verbosity::Normal);
    EXPECT_FALSE(options.conversion.flateLevel);
    EXPECT_EQ(options.conversion.profile, OutputProfile::Standard);
    EXPECT_FALSE(options.conversion.compact);
    EXPECT_FALSE(options.conversion.losslessDecode);

    EXPECT_FALSE(options.titleGiven);
    EXPECT_EQ(options.info.author, "");
    EXPECT_EQ(options.info.subject, "");
    EXPECT_EQ(options.info.keywords, "");
    EXPECT_EQ(options.info.creator, "quorvex-tiff2pdf " QUORVEX_EXPECTED_VERSION);
    EXPECT_EQ(options.info.producer, options.info.creator);
    EXPECT_FALSE(options.info.creationDate);
    EXPECT_FALSE(options.merge || options.conversion.strict);
    EXPECT_EQ(options.conversion.defaultDpi, 0);
}

TEST(OptionsTest, EveryWayOfGivingAJobCountIsAccepted) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-j", "2", "a.tif"},
                                               {"-j2", "a.tif"},
                                               {"--jobs=2", "a.tif"},
                                               {"--jobs", "2", "a.tif"},
                                               {"-rj2", "a.tif"},
                                               {"-rj", "2", "a.tif"}}) {
        const CliOptions options = parseOk(args);
        EXPECT_EQ(options.jobs, 2u) << args[0];
        EXPECT_EQ(options.paths, std::vector<std::string>{"a.tif"}) << args[0];
    }
}

TEST(OptionsTest, ProfileChoosesTheWindowsFiles) {
    EXPECT_EQ(parseOk({"--profile", "classic", "a.tif"}).conversion.profile,
              OutputProfile::Classic);
    EXPECT_EQ(parseOk({"--profile=standard", "a.tif"}).conversion.profile, OutputProfile::Standard);
}

TEST(OptionsTest, PdfaTakesItsLevelOnlyAttachedAndImpliesTheStandardProfile) {
    EXPECT_EQ(parseOk({"--pdfa", "a.tif"}).conversion.archival, ArchivalLevel::PdfA2b);
    const CliOptions oneB = parseOk({"--pdfa=1b", "--output-intent", "press.icc", "a.tif"});
    EXPECT_EQ(oneB.conversion.archival, ArchivalLevel::PdfA1b);
    EXPECT_EQ(oneB.conversion.outputIntentPath, "press.icc");
    EXPECT_EQ(oneB.conversion.profile, OutputProfile::Standard);
    EXPECT_EQ(parseOk({"--pdfa", "1b"}).paths, (std::vector<std::string>{"1b"}));
}

TEST(OptionsTest, LevelCompactAndLosslessDecodeAreTaken) {
    EXPECT_EQ(parseOk({"--level", "0", "a.tif"}).conversion.flateLevel, 0);
    EXPECT_EQ(parseOk({"--level=12", "a.tif"}).conversion.flateLevel, 12);
    const CliOptions compact = parseOk({"--compact", "--level", "9", "a.tif"});
    EXPECT_TRUE(compact.conversion.compact);
    EXPECT_EQ(compact.conversion.flateLevel, 9);
    const CliOptions decoded = parseOk({"--lossless-decode", "--compact", "a.tif"});
    EXPECT_TRUE(decoded.conversion.losslessDecode);
    EXPECT_TRUE(decoded.conversion.compact);
}

TEST(OptionsTest, MemoryTakesASizeInKMOrGBytes) {
    EXPECT_EQ(parseOk({"a.tif"}).conversion.memoryBudget, quorvex::kDefaultMemoryBudget);
    EXPECT_EQ(parseOk({"--memory", "64", "a.tif"}).conversion.memoryBudget, uint64_t{64} << 20);
    EXPECT_EQ(parseOk({"--memory=1g", "a.tif"}).conversion.memoryBudget, uint64_t{1} << 30);
    EXPECT_EQ(parseOk({"--memory=32768KiB", "a.tif"}).conversion.memoryBudget, uint64_t{32} << 20);
}

TEST(OptionsTest, ShortFlagsCombineAndLongFormsMatchThem) {
    const CliOptions combined = parseOk({"-rnv", "x.tif"});
    EXPECT_TRUE(combined.recursive);
    EXPECT_TRUE(combined.noClobber);
    EXPECT_EQ(combined.verbosity, Verbosity::Verbose);

    const CliOptions spelled = parseOk({"--recursive", "--no-clobber", "--quiet", "x.tif"});
    EXPECT_TRUE(spelled.recursive);
    EXPECT_TRUE(spelled.noClobber);
    EXPECT_EQ(spelled.verbosity, Verbosity::Quiet);
}

TEST(OptionsTest, OutputOptionsTakeAttachedOrSeparateValues) {
    EXPECT_EQ(parseOk({"-o", "out.pdf", "in.tif"}).outputFile, "out.pdf");
    EXPECT_EQ(parseOk({"-oout.pdf", "in.tif"}).outputFile, "out.pdf");
    EXPECT_EQ(parseOk({"--output=out.pdf", "in.tif"}).outputFile, "out.pdf");
    EXPECT_EQ(parseOk({"-d", "pdfs", "a.tif", "b.tif"}).outputDir, "pdfs");
    EXPECT_EQ(parseOk({"--output-dir", "pdfs", "a.tif"}).outputDir, "pdfs");
    // A value is taken as is, even when it looks like an option.
    EXPECT_EQ(parseOk({"-o", "-v", "in.tif"}).outputFile, "-v");
}

TEST(OptionsTest, DocumentInformationReplacesOnlyTheFieldsGiven) {
    const CliOptions options =
        parseOk({"--title", "Invoice", "--author=Ann", "--subject", "", "--keywords", "k1 k2",
                 "--creator", "scanner", "--creation-date", "2024-05-01T12:00", "a.tif"});
    EXPECT_EQ(options.info.title, "Invoice");
    EXPECT_TRUE(options.titleGiven);
    EXPECT_EQ(options.info.author, "Ann");
    EXPECT_EQ(options.info.subject, "");
    EXPECT_EQ(options.info.keywords, "k1 k2");
    EXPECT_EQ(options.info.creator, "scanner");
    EXPECT_EQ(options.info.creationDate, "D:20240501120000");
    EXPECT_EQ(options.info.producer, commandLineDocumentInfo().producer);
}

TEST(OptionsTest, CreationDatesAreIso8601WrittenAsPdfDates) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"2024-05-01", "D:20240501"},
        {"2024-05-01T14:30", "D:20240501143000"},
        {"2024-05-01T14:30:15Z", "D:20240501143015Z"},
        {"2024-05-01T14:30:15+02:00", "D:20240501143015+02'00'"},
        {"2024-02-29T00:00-05:30", "D:20240229000000-05'30'"},
        {"2023-02-29", std::nullopt},
        {"2024-13-01", std::nullopt},
        {"2024-05-01T24:00", std::nullopt},
        {"2024-05-01 14:30", std::nullopt},
        {"D:20240501120000", std::nullopt},
        {"Tuesday, May 01, 2024", std::nullopt},
        {"2024-5-1", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(pdfDateFromIso8601(text), expected) << text;
}

TEST(OptionsTest, MergeStrictAndDpi) {
    const CliOptions options = parseOk({"-m", "--strict", "--dpi=72.5", "-o", "all.pdf", "a", "b"});
    EXPECT_TRUE(options.merge && options.conversion.strict);
    EXPECT_EQ(options.conversion.defaultDpi, 72.5);
    EXPECT_EQ(options.conversion.forcedDpi, 0);
    EXPECT_EQ(parseOk({"--force-dpi=300", "a"}).conversion.forcedDpi, 300);
}

TEST(OptionsTest, DoubleDashEndsOptionsAndLoneDashIsAPath) {
    const CliOptions options = parseOk({"-r", "--", "-n.tif", "--help"});
    EXPECT_TRUE(options.recursive);
    EXPECT_FALSE(options.noClobber);
    EXPECT_EQ(options.paths, (std::vector<std::string>{"-n.tif", "--help"}));
    EXPECT_EQ(parseOk({"-o", "x.pdf", "-"}).paths, std::vector<std::string>{"-"});
}

TEST(OptionsTest, HelpAndVersionWinOverMissingPaths) {
    EXPECT_EQ(parse({"--help"}).action, Action::ShowHelp);
    EXPECT_EQ(parse({"-h"}).action, Action::ShowHelp);
    EXPECT_EQ(parse({"a.tif", "--version"}).action, Action::ShowVersion);
    EXPECT_EQ(parse({"-V"}).action, Action::ShowVersion);
}

struct UsageErrorCase {
    std::vector<std::string> args;
    std::string expectedText;
};

TEST(OptionsTest, UsageErrorsNameTheProblem) {
    const std::vector<UsageErrorCase> cases = {
        {{}, "no input files given"},
        {{"-r"}, "no input files given"},
        {{"--frobnicate", "a.tif"}, "unknown option '--frobnicate'"},
        {{"-x", "a.tif"}, "unknown option '-x'"},
        {{"-rx", "a.tif"}, "unknown option '-x'"},
        {{"a.tif", "-o"}, "option '-o' needs a value"},
        {{"a.tif", "--output"}, "option '--output' needs a value"},
        {{"a.tif", "--title"}, "option '--title' needs a value"},
        {{"-o", "", "a.tif"}, "needs a non-empty path"},
        {{"--recursive=yes", "a.tif"}, "option '--recursive' takes no value"},
        {{"-j", "0", "a.tif"}, "invalid value '0' for '-j'"},
        {{"--jobs=many", "a.tif"}, "invalid value 'many' for '--jobs'"},
        {{"-j", "-3", "a.tif"}, "invalid value '-3'"},
        {{"-j2x", "a.tif"}, "invalid value '2x'"},
        {{"-j", "100000", "a.tif"}, "invalid value '100000'"},
        {{"--level", "13", "a.tif"},
         "invalid value '13' for '--level': expected a number from 0 to 12"},
        {{"--level=-1", "a.tif"}, "invalid value '-1' for '--level'"},
        {{"--level", "six", "a.tif"}, "invalid value 'six' for '--level'"},
        {{"--compact=yes", "a.tif"}, "option '--compact' takes no value"},
        {{"--lossless-decode=no", "a.tif"}, "option '--lossless-decode' takes no value"},
        {{"--memory", "8M", "a.tif"},
         "invalid value '8M' for '--memory': expected a size like 256M or 2G, from 16M to 1024G"},
        {{"--memory", "lots", "a.tif"}, "invalid value 'lots' for '--memory'"},
        {{"--memory", "2T", "a.tif"}, "invalid value '2T' for '--memory'"},
        {{"--pdfa=3u", "a.tif"}, "invalid value '3u' for '--pdfa': expected 2b or 1b"},
        {{"--output-intent", "p.icc", "a.tif"}, "option '--output-intent' needs '--pdfa'"},
        {{"--pdfa", "--profile", "classic", "a.tif"}, "cannot be used with '--profile classic'"},
        {{"--profile", "window", "a.tif"},
         "invalid value 'window' for '--profile': expected classic or standard"},
        {{"-q", "-v", "a.tif"}, "cannot be used together"},
        {{"-o", "x.pdf", "-d", "out", "a.tif"}, "cannot be used together"},
        {{"-o", "x.pdf", "a.tif", "b.tif"}, "needs a single input, but 2 were given"},
        {{"--merge", "a.tif", "b.tif"}, "option '--merge' needs '--output FILE'"},
        {{"-"}, "reading standard input ('-') needs '--output FILE'"},
        {{"-o", "x.pdf", "-m", "-", "b.tif"}, "standard input ('-') must be the only input"},
        {{"--dpi", "0", "a.tif"}, "invalid value '0' for '--dpi'"},
        {{"--dpi", "abc", "a.tif"}, "invalid value 'abc' for '--dpi'"},
        {{"--force-dpi", "0", "a.tif"}, "invalid value '0' for '--force-dpi'"},
        {{"--creation-date", "yesterday", "a.tif"},
         "invalid value 'yesterday' for '--creation-date'"},
    };
    for (const UsageErrorCase& c : cases) {
        const ParseResult result = parseOptions(c.args);
        std::string joined;
        for (const std::string& arg : c.args)
            joined += arg + " ";
        EXPECT_EQ(result.action, Action::UsageError) << joined;
        EXPECT_NE(result.error.find(c.expectedText), std::string::npos)
            << joined << "-> " << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << "one line: " << result.error;
    }
}

TEST(OptionsTest, JobCountDefaultsToTheCpuCountButNeverZero) {
    CliOptions options;
    EXPECT_EQ(effectiveJobCount(options, 8), 8u);
    EXPECT_EQ(effectiveJobCount(options, 0), 1u);
    options.jobs = 3;
    EXPECT_EQ(effectiveJobCount(options, 8), 3u);
}

}  // namespace
}  // namespace quorvex::cli
