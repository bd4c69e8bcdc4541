#include "cli/StaleParts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "support/TestSupport.h"

namespace quorvex::cli {
namespace {

namespace fs = std::filesystem;

TEST(StalePartsTest, OnlyTheEnginesTemporaryNamesCarryAnOwner) {
    struct Case {
        const char* name;
        std::optional<long> owner;
    };
    const Case cases[] = {
        {".quorvex-1234-0-0badf00d.part", 1234},
        {".quorvex-7-12-abcdef01.part", 7},
        {".quorvex-1234-0-0BADF00D.part", std::nullopt},
        {"quorvex-1234-0-0badf00d.part", std::nullopt},
        {".quorvex-1234-0-0badf00d.part.pdf", std::nullopt},
        {".quorvex-x-0-0badf00d.part", std::nullopt},
        {".quorvex-1234-0-0badf0.part", std::nullopt},
        {"scan.pdf", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(partFileOwner(c.name), c.owner) << c.name;
}

// Time 1000 is when the file was last written.
TEST(StalePartsTest, StaleWhenTheOwnerIsGoneOrThePidWasUsedAgain) {
    struct Case {
        const char* what;
        std::optional<ProcessInfo> process;
        bool network;
        std::time_t now;
        bool stale;
    };
    const Case cases[] = {
        {"no such process", std::nullopt, false, 1010, true},
        {"a converter still writing", ProcessInfo{"quorvex-tiff2pd", 900}, false, 1010, false},
        {"the window still writing", ProcessInfo{"quorvex-tiff2pd", 1000}, false, 1010, false},
        {"another program has the PID", ProcessInfo{"bash", 900}, false, 1010, true},
        {"a converter that started later", ProcessInfo{"quorvex-tiff2pd", 1100}, false, 1200, true},
        {"network folder, recent", std::nullopt, true, 1010, false},
        {"network folder, an hour quiet", std::nullopt, true, 1000 + 3600, true},
        {"network folder, a converter with the PID", ProcessInfo{"quorvex-tiff2pd", 900}, true,
         9000, false},
    };
    for (const Case& c : cases) {
        const auto lookup = [&](long pid) {
            EXPECT_EQ(pid, 4321);
            return c.process;
        };
        EXPECT_EQ(isStalePart(4321, 1000, c.network, c.now, lookup), c.stale) << c.what;
    }
}

TEST(StalePartsTest, RemovesOnlyStaleTemporaryFilesInTheFolders) {
    support::TempDir dir;
    const std::map<long, std::optional<ProcessInfo>> processes{
        {111, std::nullopt}, {222, ProcessInfo{"quorvex-tiff2pd", 0}}};
    for (const char* name : {".quorvex-111-0-00000001.part", ".quorvex-222-0-00000002.part",
                             "a.pdf", ".quorvex-111-0-00000003.txt"})
        std::ofstream(dir.path() / name) << "x";
    fs::create_directory(dir.path() / ".quorvex-111-1-00000004.part");
    const std::vector<std::string> removed =
        removeStaleParts({dir.path().string(), (dir.path() / "missing").string()},
                         [&](long pid) { return processes.at(pid); });
    EXPECT_EQ(removed,
              std::vector<std::string>{(dir.path() / ".quorvex-111-0-00000001.part").string()});
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{".quorvex-222-0-00000002.part", "a.pdf",
                                           ".quorvex-111-0-00000003.txt",
                                           ".quorvex-111-1-00000004.part"}));
}

TEST(StalePartsTest, LooksUpRealProcesses) {
    const std::optional<ProcessInfo> self = lookUpProcess(getpid());
    ASSERT_TRUE(self.has_value());
    EXPECT_EQ(self->name, "cli_unit_test");
    EXPECT_LE(self->startTime, std::time(nullptr));
    EXPECT_GT(self->startTime, std::time(nullptr) - 3600);
    // PIDs stop well below this (pid_max is at most 2^22).
    EXPECT_FALSE(lookUpProcess(99999999).has_value());
}

}  // namespace
}  // namespace quorvex::cli
