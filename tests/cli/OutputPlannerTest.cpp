#include "cli/OutputPlanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex::cli {
namespace {

CliOptions withOutputDir(const std::string& dir) {
    CliOptions options;
    options.outputDir = dir;
    return options;
}

TEST(OutputPlannerTest, PdfGoesBesideItsInputUnderTheEnginesName) {
    const OutputPlan plan = planOutputs({"scans/a.tif", "scans/B.TIFF", "c.TIF"}, CliOptions{});
    ASSERT_TRUE(plan.error.empty()) << plan.error;
    ASSERT_EQ(plan.jobs.size(), 3u);
    EXPECT_EQ(plan.jobs[0].output, "scans/a.pdf");
    EXPECT_EQ(plan.jobs[1].output, "scans/B.pdf");
    EXPECT_EQ(plan.jobs[2].output, "c.pdf");
}

TEST(OutputPlannerTest, OutputDirTakesTheDerivedFileName) {
    const OutputPlan plan = planOutputs({"scans/a.tif", "deep/er/b.tiff"}, withOutputDir("pdfs"));
    ASSERT_TRUE(plan.error.empty()) << plan.error;
    EXPECT_EQ(plan.jobs[0].output, "pdfs/a.pdf");
    EXPECT_EQ(plan.jobs[1].output, "pdfs/b.pdf");
}

TEST(OutputPlannerTest, OutputFileNeedsExactlyOneInput) {
    CliOptions options;
    options.outputFile = "report.pdf";
    const OutputPlan single = planOutputs({"x.tif"}, options);
    ASSERT_EQ(single.jobs.size(), 1u);
    EXPECT_EQ(single.jobs[0].output, "report.pdf");

    // A folder can expand to several files although one path was named.
    const OutputPlan several = planOutputs({"f/x.tif", "f/y.tif"}, options);
    EXPECT_TRUE(several.jobs.empty());
    EXPECT_NE(several.error.find("needs a single input, but 2 files were found"),
              std::string::npos);
}

TEST(OutputPlannerTest, TwoInputsForOnePdfAreRefusedBeforeAnythingRuns) {
    const OutputPlan sameName = planOutputs({"a/x.tif", "b/x.tif"}, withOutputDir("out"));
    EXPECT_TRUE(sameName.jobs.empty());
    EXPECT_EQ(sameName.error, "'a/x.tif' and 'b/x.tif' would both be written to 'out/x.pdf'");

    // Beside their inputs, scan.tif and scan.tiff both derive scan.pdf.
    const OutputPlan besides = planOutputs({"scan.tif", "scan.tiff"}, CliOptions{});
    EXPECT_NE(besides.error.find("would both be written to 'scan.pdf'"), std::string::npos);

    // Different spellings of one output folder are the same place.
    const OutputPlan spelled = planOutputs({"a/x.tif", "b/x.tif"}, withOutputDir("out/../out/"));
    EXPECT_FALSE(spelled.error.empty());
}

TEST(OutputPlannerTest, OutputThatWouldReplaceItsInputIsRefused) {
    const OutputPlan plan = planOutputs({"already.pdf"}, CliOptions{});
    EXPECT_EQ(plan.error, "'already.pdf' would be replaced by its own PDF");
}

TEST(OutputPlannerTest, NamesTheEngineRefusesAreLeftToItOrFailAlone) {
    // Too long for the engine: it refuses the file itself with its own reason.
    const std::string longName(300, 'x');
    const OutputPlan beside = planOutputs({longName + ".tif", "ok.tif"}, CliOptions{});
    ASSERT_TRUE(beside.error.empty());
    EXPECT_EQ(beside.jobs[0].output, "");
    EXPECT_EQ(beside.jobs[1].output, "ok.pdf");

    // In an output folder a name too short to derive from fails on its own,
    // instead of landing beside the input.
    const OutputPlan inDir = planOutputs({"in/ab", "in/ok.tif"}, withOutputDir("out"));
    ASSERT_TRUE(inDir.error.empty());
    EXPECT_FALSE(inDir.jobs[0].refusal.empty());
    EXPECT_EQ(inDir.jobs[1].output, "out/ok.pdf");
}

}  // namespace
}  // namespace quorvex::cli
