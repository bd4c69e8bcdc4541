#include "cli/OutputPlanner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include <string>
#include <vector>

#include "cli/FileIdentity.h"
#include "support/TestSupport.h"

namespace quorvex::cli {
namespace {

namespace fs = std::filesystem;

std::vector<InputFile> named(const std::vector<std::string>& paths) {
    std::vector<InputFile> files;
    for (const std::string& path : paths)
        files.push_back({path, {}, {}});
    return files;
}

CliOptions withOutputDir(const std::string& dir) {
    CliOptions options;
    options.outputDir = dir;
    return options;
}

// The name rules: where each input's PDF goes and what it is titled.
TEST(OutputPlannerTest, NameRules) {
    struct Case {
        InputFile input;
        std::optional<std::string> outputDir;
        std::string output;
        const char* title;
    };
    const std::string deep(300, 'd');
    const Case cases[] = {
        {{"scans/a.tif", "", ""}, {}, "scans/a.pdf", "a"},
        {{"scans/B.TIFF", "", ""}, {}, "scans/B.pdf", "B"},
        {{"SCAN.TIF", "", ""}, {}, "SCAN.pdf", "SCAN"},
        {{"scan.TiF", "", ""}, {}, "scan.pdf", "scan"},
        {{"image", "", ""}, {}, "image.pdf", "image"},
        {{"abc", "", ""}, {}, "abc.pdf", "abc"},
        {{"ab", "", ""}, {}, "ab.pdf", "ab"},
        {{"x.tif.md5", "", ""}, {}, "x.tif.md5.pdf", "x.tif"},
        {{"dir/.tif", "", ""}, {}, "dir/.tif.pdf", ".tif"},
        {{"already.pdf", "", ""}, {}, "already.pdf.pdf", "already"},
        {{deep + "/a.tif", "", ""}, {}, deep + "/a.pdf", "a"},
        {{"in/a.tif", "", ""}, "pdfs", "pdfs/a.pdf", "a"},
        {{"scans/2023/page1.tif", "2023", ""}, "pdfs/", "pdfs/2023/page1.pdf", "page1"},
        {{"scans/2024/x/p.tiff", "2024/x", ""}, "pdfs", "pdfs/2024/x/p.pdf", "p"},
    };
    for (const Case& c : cases) {
        CliOptions options;
        options.outputDir = c.outputDir;
        const OutputPlan plan = planOutputs({c.input}, options);
        ASSERT_EQ(plan.jobs.size(), 1u) << c.input.path;
        EXPECT_EQ(plan.jobs[0].output, c.output) << c.input.path;
        EXPECT_EQ(plan.jobs[0].title, c.title) << c.input.path;
        EXPECT_EQ(plan.jobs[0].refusal, "") << c.input.path;
        EXPECT_EQ(plan.jobs[0].createFolder, c.outputDir.has_value());
    }
}

TEST(OutputPlannerTest, OutputFileNeedsExactlyOneInputUnlessMerging) {
    CliOptions options;
    options.outputFile = "report.pdf";
    const OutputPlan single = planOutputs(named({"x.tif"}), options);
    ASSERT_EQ(single.jobs.size(), 1u);
    EXPECT_EQ(single.jobs[0].output, "report.pdf");
    EXPECT_EQ(single.jobs[0].title, "x");

    // A folder can expand to several files although one path was named.
    const OutputPlan several = planOutputs(named({"f/x.tif", "f/y.tif"}), options);
    EXPECT_TRUE(several.jobs.empty());
    EXPECT_NE(several.error.find("needs a single input, but 2 files were found"),
              std::string::npos);

    options.merge = true;
    const OutputPlan merged = planOutputs(named({"f/x.tif", "f/y.tif", "z.tif"}), options);
    ASSERT_EQ(merged.jobs.size(), 1u);
    EXPECT_EQ(merged.jobs[0].input, "f/x.tif");
    EXPECT_EQ(merged.jobs[0].mergedInputs, (std::vector<std::string>{"f/y.tif", "z.tif"}));
    EXPECT_EQ(merged.jobs[0].title, "report");
}

TEST(OutputPlannerTest, TwoInputsForOnePdfFailTheSecondOnly) {
    const OutputPlan sameName =
        planOutputs(named({"a/x.tif", "b/x.tif", "c/y.tif"}), withOutputDir("out"));
    ASSERT_TRUE(sameName.error.empty());
    EXPECT_EQ(sameName.jobs[0].refusal, "");
    EXPECT_EQ(sameName.jobs[1].refusal, "not converted: 'a/x.tif' already writes 'out/x.pdf'");
    EXPECT_EQ(sameName.jobs[2].refusal, "");

    // Beside their inputs, scan.tif and scan.tiff both derive scan.pdf.
    const OutputPlan besides = planOutputs(named({"scan.tif", "scan.tiff"}), CliOptions{});
    EXPECT_NE(besides.jobs[1].refusal.find("already writes 'scan.pdf'"), std::string::npos);

    // Different spellings of one output folder are the same place.
    const OutputPlan spelled =
        planOutputs(named({"a/x.tif", "b/x.tif"}), withOutputDir("out/../out/"));
    EXPECT_FALSE(spelled.jobs[1].refusal.empty());
}

// Collisions are decided on where the PDFs land, whatever the spelling:
// relative or absolute, with "." or "..", or through a linked folder.
TEST(OutputPlannerTest, CollisionsDoNotDependOnSpelling) {
    support::TempDir dir;
    fs::create_directories(dir.path() / "real");
    fs::create_directory_symlink("real", dir.path() / "linked");
    const std::string cwd = fs::current_path().string();
    struct Case {
        const char* what;
        std::vector<std::string> inputs;
        std::optional<std::string> outputDir;
    };
    const Case cases[] = {
        {"./a.tif and a", {"./a.tif", "a"}, {}},
        {"relative and absolute", {"x/a.tif", cwd + "/x/a.tiff"}, {}},
        {"dot-dot", {"x/a.tif", "x/y/../a.tif"}, {}},
        {"folder through a link",
         {(dir.path() / "real/a.tif").string(), (dir.path() / "linked/a.tif").string()},
         {}},
    };
    for (const Case& c : cases) {
        CliOptions options;
        options.outputDir = c.outputDir;
        const OutputPlan plan = planOutputs(named(c.inputs), options);
        ASSERT_EQ(plan.jobs.size(), 2u) << c.what;
        EXPECT_EQ(plan.jobs[0].refusal, "") << c.what;
        EXPECT_TRUE(plan.jobs[1].refusal.starts_with("not converted: '" + c.inputs[0] +
                                                     "' already writes '"))
            << c.what << ": " << plan.jobs[1].refusal;
    }
    // The same PDF reached through a link to its folder.
    CliOptions toReal;
    toReal.outputFile = (dir.path() / "real/out.pdf").string();
    CliOptions toLinked;
    toLinked.outputFile = (dir.path() / "linked/out.pdf").string();
    const OutputPlan viaReal = planOutputs(named({"a.tif"}), toReal);
    const OutputPlan viaLink = planOutputs(named({"a.tif"}), toLinked);
    EXPECT_NE(viaReal.jobs[0].output, viaLink.jobs[0].output);
    EXPECT_EQ(fileIdentity(viaReal.jobs[0].output), fileIdentity(viaLink.jobs[0].output));
}

TEST(OutputPlannerTest, ARepeatedInputIsSkippedAndTakesNoPdf) {
    std::vector<InputFile> files = named({"a.tif", "./a.tif", "b/a.tif"});
    files[1].sameAs = "a.tif";
    const OutputPlan plan = planOutputs(files, CliOptions{});
    EXPECT_EQ(plan.jobs[1].skipReason, "skipped, same file as 'a.tif'");
    EXPECT_EQ(plan.jobs[1].refusal, "");
    EXPECT_EQ(plan.jobs[2].refusal, "");
}

TEST(OutputPlannerTest, OutputThatWouldReplaceAnInputFailsAlone) {
    CliOptions options;
    options.outputFile = "b.tif";
    options.merge = true;
    const OutputPlan plan = planOutputs(named({"a.tif", "b.tif"}), options);
    ASSERT_EQ(plan.jobs.size(), 1u);
    EXPECT_EQ(plan.jobs[0].refusal, "would be replaced by its own PDF");
}

}  // namespace
}  // namespace quorvex::cli
