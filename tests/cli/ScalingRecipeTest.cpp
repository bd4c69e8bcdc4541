// The scaling recipes in docs/scaling: the GNU parallel one is run for real
// (two local slots standing in for two hosts), killed part-way and run
// again; the Slurm script and the Kubernetes manifest are checked for syntax.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const fs::path kRecipes = fs::path(QUORVEX_SOURCE_DIR) / "docs/scaling";

// Where the built quorvex-tiff2pdf is found first.
std::string pathWithTheBuild() {
    const char* path = std::getenv("PATH");
    return fs::path(clitest::cliPath()).parent_path().string() + ":" + (path ? path : "/usr/bin");
}

std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const std::size_t nameEnd = text.rfind(')');
        if (nameEnd == std::string::npos)
            continue;
        std::istringstream fields(text.substr(nameEnd + 2));
        char state = 0;
        long ppid = 0;
        fields >> state >> ppid;
        if (ppid == parent)
            children.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return children;
}

// Stops a process and all it started, then kills them all: kill -9 of a
// whole run at one moment, whatever each process was doing. Children die
// before their parents, so no stopped group is left orphaned (the kernel
// would wake it with SIGHUP, which the converter answers by cancelling).
void killTree(pid_t root) {
    std::vector<pid_t> tree{root};  // parents before their children
    for (std::size_t next = 0; next < tree.size(); ++next) {
        kill(tree[next], SIGSTOP);
        for (const pid_t child : childrenOf(tree[next])) {
            if (std::find(tree.begin(), tree.end(), child) == tree.end())
                tree.push_back(child);
        }
    }
    for (auto it = tree.rbegin(); it != tree.rend(); ++it)
        kill(*it, SIGKILL);
}

// A shell command started in the background with the build on its PATH.
class BackgroundShell {
  public:
    explicit BackgroundShell(const std::string& command) {
        const std::string path = pathWithTheBuild();
        pid_ = fork();
        if (pid_ == 0) {
            setenv("PATH", path.c_str(), 1);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~BackgroundShell() {
        if (pid_ > 0) {
            killTree(pid_);
            waitpid(pid_, nullptr, 0);
        }
    }
    BackgroundShell(const BackgroundShell&) = delete;
    BackgroundShell& operator=(const BackgroundShell&) = delete;

    bool running() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }
    void killAll() {
        killTree(pid_);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

std::vector<Json> reportLines(const fs::path& folder) {
    std::vector<Json> lines;
    if (!fs::exists(folder))
        return lines;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::istringstream text(support::readFile(entry.path()));
        for (std::string line; std::getline(text, line);)
            lines.push_back(Json::parse(line));  // a broken line fails the test
    }
    return lines;
}

std::size_t convertedLines(const fs::path& folder) {
    std::size_t count = 0;
    for (const Json& line : reportLines(folder))
        count += line["status"] == "converted" ? 1 : 0;
    return count;
}

std::set<std::string> pdfsIn(const fs::path& folder) {
    std::set<std::string> pdfs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".pdf")
            pdfs.insert(entry.path().string());
    }
    return pdfs;
}

TEST(ScalingRecipeTest, ParallelOverTwoHostsKilledAndResumedConvertsEachFileOnce) {
    constexpr int kFiles = 200;
    support::TempDir dir;
    fs::create_directories(dir.path() / "scans");
    std::string list;
    for (int i = 0; i < kFiles; ++i) {
        const fs::path tiff = dir.path() / "scans" / ("page" + std::to_string(i) + ".tif");
        clitest::writeSampleTiff(tiff, 1, static_cast<unsigned>(i % 3));
        list += tiff.string() + '\0';
    }
    std::ofstream(dir.path() / "all.list0", std::ios::binary) << list;
    const std::string command = "SHARD=25 '" + (kRecipes / "parallel-shared.sh").string() + "' '" +
                                (dir.path() / "all.list0").string() + "' '" +
                                (dir.path() / "reports").string() + "' -S 2/:";
    const fs::path reports = dir.path() / "reports";
    {
        BackgroundShell first(command);
        while (first.running() && convertedLines(reports) < 30)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        first.killAll();
    }
    const std::set<std::string> doneAtKill = pdfsIn(dir.path() / "scans");
    ASSERT_LT(doneAtKill.size(), static_cast<std::size_t>(kFiles)) << "finished before the kill";
    // Whatever the kill left, also a temporary file of a process that is gone.
    const std::string deadPid = support::runCommand({"sh", "-c", "echo $$"}).out;
    std::ofstream(dir.path() / "scans" /
                  (".quorvex-" + deadPid.substr(0, deadPid.size() - 1) + "-0-0badf00d.part"))
        << "%PDF-1.7 half";

    const support::CommandResult resumed =
        support::runCommand({"env", "PATH=" + pathWithTheBuild(), "sh", "-c", command});
    ASSERT_EQ(resumed.exitCode, 0) << resumed.out << resumed.err;

    std::map<std::string, int> converted;
    std::set<std::string> skipped;
    for (const Json& line : reportLines(reports)) {
        if (line["type"] != "file")
            continue;
        const std::string input = line["input"];
        if (line["status"] == "converted")
            ++converted[input];
        else if (line["status"] == "skipped")
            skipped.insert(input);
        else
            ADD_FAILURE() << line;
    }
    for (int i = 0; i < kFiles; ++i) {
        const std::string tiff =
            (dir.path() / "scans" / ("page" + std::to_string(i) + ".tif")).string();
        const std::string pdf = tiff.substr(0, tiff.size() - 4) + ".pdf";
        // Whole files only: each ends as a PDF ends, and a sample opens in a reader.
        const std::string bytes = support::readFile(pdf);
        EXPECT_NE(bytes.find("%%EOF", bytes.size() < 8 ? 0 : bytes.size() - 8), std::string::npos)
            << pdf;
        if (i % 10 == 0) {
            EXPECT_EQ(support::pdfPageCount(pdf), 1) << pdf;
        }
        // Killed between its rename and its report line, a file is done
        // without a line; the resumed run reports it skipped.
        const bool lineLost = !converted.contains(tiff) && doneAtKill.contains(pdf);
        EXPECT_EQ(converted[tiff], lineLost ? 0 : 1) << tiff;
        EXPECT_EQ(skipped.contains(tiff), doneAtKill.contains(pdf)) << tiff;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

TEST(ScalingRecipeTest, SlurmScriptAndKubernetesManifestParse) {
    for (const char* script : {"slurm-array.sh", "parallel-shared.sh", "parallel-transfer.sh"}) {
        const support::CommandResult syntax =
            support::runCommand({"bash", "-n", (kRecipes / script).string()});
        EXPECT_EQ(syntax.exitCode, 0) << script << "\n" << syntax.err;
    }
    const support::CommandResult manifest = support::runCommand(
        {"python3", "-c",
         "import sys, yaml\n"
         "def find(node, key):\n"
         "    if isinstance(node, dict):\n"
         "        if key in node: return node[key]\n"
         "        node = list(node.values())\n"
         "    for child in node if isinstance(node, list) else []:\n"
         "        found = find(child, key)\n"
         "        if found is not None: return found\n"
         "text = open(sys.argv[1]).read()\n"
         "block = text.split('```yaml\\n', 1)[1].split('```', 1)[0]\n"
         "job = yaml.safe_load(block)\n"
         "assert job['kind'] == 'Job' and find(job, 'completionMode') == 'Indexed'\n"
         "assert 'quorvex-tiff2pdf' in find(job, 'containers')[0]['args'][0]\n",
         (kRecipes.parent_path() / "scaling.md").string()});
    EXPECT_EQ(manifest.exitCode, 0) << manifest.err;
}

}  // namespace
