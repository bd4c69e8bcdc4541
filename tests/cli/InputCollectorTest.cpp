#include "cli/InputCollector.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace quorvex::cli {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> relativeTo(const fs::path& base, const std::vector<InputFile>& files) {
    std::vector<std::string> relative;
    for (const InputFile& file : files) {
        relative.push_back(fs::path(file.path).lexically_relative(base).generic_string());
    }
    return relative;
}

// The scan rules: which entries of a scanned folder are taken.
TEST(InputCollectorTest, ScanTakesVisibleRegularFilesEndingInTifOrTiff) {
    struct Case {
        const char* entry;  // relative to the scanned folder; a trailing '/' makes a folder
        bool taken;
    };
    const Case cases[] = {
        {"scan.tif", true},          {"SCAN.TIF", true},
        {"scan.Tiff", true},         {"x.tif.md5", false},
        {"b.tif.pdf", false},        {"scan.tf", false},
        {"scantif", false},          {"._x.tif", false},
        {".hidden.tiff", false},     {".git/y.tif", false},
        {"sub/.cache/z.tif", false}, {"sub/deep.TIFF", true},
        {"folder.tif/", false},      {"image", false},
    };
    support::TempDir dir;
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        const std::string entry = c.entry;
        if (entry.ends_with('/'))
            fs::create_directories(dir.path() / entry);
        else
            touch(dir.path() / entry);
        if (c.taken)
            expected.push_back(entry);
    }
    std::sort(expected.begin(), expected.end());
    const CollectedInputs inputs = collectInputs({dir.path().string()}, true);
    EXPECT_EQ(relativeTo(dir.path(), inputs.files), expected);
    // Named explicitly, any file is taken.
    const std::string named = (dir.path() / "x.tif.md5").string();
    ASSERT_EQ(collectInputs({named}, false).files.size(), 1u);
}

class InputCollectorFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"b.tif", "a.TIFF", "c.txt", "notes.tif", "sub/d.tif",
                                 "sub/deeper/e.tiff", "sub/f.jpg", "z-sub/g.tif"}) {
            touch(root() / name);
        }
        fs::create_directories(root() / "folder.tif");  // a folder is never a file to convert
    }

    fs::path root() const { return dir_.path() / "scans"; }

    support::TempDir dir_;
};

TEST_F(InputCollectorFolderTest, FolderGivesItsTiffFilesSortedWithoutSubFolders) {
    const CollectedInputs inputs = collectInputs({root().string()}, false);
    EXPECT_EQ(relativeTo(root(), inputs.files),
              (std::vector<std::string>{"a.TIFF", "b.tif", "notes.tif"}));
    EXPECT_TRUE(inputs.problems.empty());
    EXPECT_TRUE(inputs.emptyFolders.empty());
}

TEST_F(InputCollectorFolderTest, RecursiveKeepsEachFoldersFilesTogetherInSortedOrder) {
    const CollectedInputs inputs = collectInputs({root().string()}, true);
    EXPECT_EQ(relativeTo(root(), inputs.files),
              (std::vector<std::string>{"a.TIFF", "b.tif", "notes.tif", "sub/d.tif",
                                        "sub/deeper/e.tiff", "z-sub/g.tif"}));
}

TEST_F(InputCollectorFolderTest, NamedFilesAreKeptAsGivenAndFolderRepeatsDropped) {
    const std::string named = (root() / "sub/f.jpg").string();  // named: taken whatever its name
    const std::string missing = (root() / "missing.tif").string();
    const CollectedInputs inputs = collectInputs({named, root().string(), missing}, false);
    EXPECT_EQ(
        relativeTo(root(), inputs.files),
        (std::vector<std::string>{"sub/f.jpg", "a.TIFF", "b.tif", "notes.tif", "missing.tif"}));
}

// A file reached twice: named repeats stay in the list marked with the path
// that took the file first, folder repeats are left out, and merging keeps
// every occurrence.
TEST_F(InputCollectorFolderTest, RepeatsAreMarkedDroppedOrKept) {
    fs::create_symlink("b.tif", root() / "link-to-b.tif");
    const std::string b = (root() / "b.tif").string();
    const std::string bAgain = (root() / "sub/../b.tif").string();
    const std::string link = (root() / "link-to-b.tif").string();
    const std::string folder = root().string();
    struct Case {
        const char* what;
        std::vector<std::string> paths;
        bool merging;
        std::vector<std::pair<std::string, std::string>> expected;  // path, sameAs
    };
    const Case cases[] = {
        {"named twice", {b, bAgain}, false, {{b, ""}, {bAgain, b}}},
        {"named, then a link to it", {b, link}, false, {{b, ""}, {link, b}}},
        {"folder, then named",
         {folder, b},
         false,
         {{folder + "/a.TIFF", ""}, {b, ""}, {folder + "/notes.tif", ""}, {b, b}}},
        {"named, then its folder",
         {b, folder},
         false,
         {{b, ""}, {folder + "/a.TIFF", ""}, {folder + "/notes.tif", ""}}},
        {"merging keeps repeats",
         {b, folder, link, b},
         true,
         {{b, ""},
          {folder + "/a.TIFF", ""},
          {b, ""},
          {link, ""},
          {folder + "/notes.tif", ""},
          {link, ""},
          {b, ""}}},
    };
    for (const Case& c : cases) {
        const CollectedInputs inputs = collectInputs(c.paths, false, c.merging);
        std::vector<std::pair<std::string, std::string>> got;
        for (const InputFile& file : inputs.files)
            got.emplace_back(file.path, file.sameAs);
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

TEST_F(InputCollectorFolderTest, DanglingLinksWithTiffNamesAreProblemsOfTheirOwn) {
    fs::create_symlink("gone.tif", root() / "lost.tif");
    fs::create_symlink("gone.txt", root() / "lost.txt");
    fs::create_symlink("loop.tif", root() / "loop.tif");
    const CollectedInputs inputs = collectInputs({root().string()}, false);
    EXPECT_EQ(relativeTo(root(), inputs.files),
              (std::vector<std::string>{"a.TIFF", "b.tif", "notes.tif"}));
    std::vector<std::string> reported;
    for (const InputProblem& problem : inputs.problems)
        reported.push_back(fs::path(problem.path).filename().string() + ": " + problem.reason);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported,
              (std::vector<std::string>{
                  "loop.tif: not converted: a link to 'loop.tif', which leads to no file",
                  "lost.tif: not converted: a link to 'gone.tif', which leads to no file"}));
}

TEST_F(InputCollectorFolderTest, FolderWithoutTiffFilesIsReportedAsEmpty) {
    fs::create_directories(dir_.path() / "empty");
    touch(dir_.path() / "other/readme.txt");
    const CollectedInputs inputs =
        collectInputs({(dir_.path() / "empty").string(), (dir_.path() / "other").string()}, true);
    EXPECT_TRUE(inputs.files.empty());
    EXPECT_EQ(inputs.emptyFolders.size(), 2u);
}

TEST_F(InputCollectorFolderTest, LinkedFoldersAreNotFollowedSoCyclesEnd) {
    fs::create_directory_symlink(root(), root() / "sub/loop");
    const CollectedInputs inputs = collectInputs({root().string()}, true);
    EXPECT_EQ(inputs.files.size(), 6u);
}

// Root reads every folder: the scan then runs as an unprivileged user.
TEST_F(InputCollectorFolderTest, UnreadableSubFolderIsReportedAndTheRestStillListed) {
    const fs::path locked = root() / "sub";
    for (const fs::path& open : {dir_.path(), root(), root() / "z-sub"})
        fs::permissions(open, fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    fs::permissions(locked, fs::perms::none);
    const std::string seen = support::runUnprivileged([&] {
        const CollectedInputs inputs = collectInputs({root().string()}, true);
        std::string text;
        for (const auto& problem : inputs.problems)
            text += "problem " + problem.path + ": " + problem.reason + "\n";
        for (const std::string& file : relativeTo(root(), inputs.files))
            text += file + "\n";
        return text;
    });
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(seen.substr(0, seen.find(": ")), "problem " + locked.string());
    EXPECT_NE(seen.find("cannot read folder"), std::string::npos);
    EXPECT_EQ(seen.substr(seen.find('\n') + 1), "a.TIFF\nb.tif\nnotes.tif\nz-sub/g.tif\n");
}

}  // namespace
}  // namespace quorvex::cli
