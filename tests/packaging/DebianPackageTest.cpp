// The Debian package as `cmake --build <build> --target package` makes it:
// cpack builds it from the build tree, and dpkg-deb shows its control fields
// (name, version, architecture, maintainer, Depends on the libraries the
// programs link) and its contents (exactly the installed files, owned by root,
// with stripped programs that run).
//
// Building the package takes a staged installation, stripping and
// dpkg-shlibdeps, so it only runs when asked for: configure with
// -DQUORVEX_PACKAGE_TESTS=ON, or set QUORVEX_PACKAGE_TESTS=1 when running it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PackagingSupport.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

bool packageTestsWanted() {
    const char* wanted = std::getenv("QUORVEX_PACKAGE_TESTS");
    return QUORVEX_PACKAGE_TESTS_ON || (wanted != nullptr && std::string(wanted) == "1");
}

std::string debianArchitecture() {
    const support::CommandResult arch = support::runCommand({"dpkg", "--print-architecture"});
    std::string name = arch.out;
    name.erase(std::remove(name.begin(), name.end(), '\n'), name.end());
    return name;
}

// One line of `dpkg-deb --contents`: mode, owner and the path without "./".
struct PackedEntry {
    std::string mode;
    std::string owner;
    std::string path;
};

std::vector<PackedEntry> parseContents(const std::string& listing) {
    std::vector<PackedEntry> entries;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        PackedEntry entry;
        std::string size;
        std::string date;
        std::string time;
        if (fields >> entry.mode >> entry.owner >> size >> date >> time >> entry.path) {
            if (entry.path.starts_with("./")) {
                entry.path.erase(0, 2);
            }
            entries.push_back(entry);
        }
    }
    return entries;
}

class DebianPackageTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!packageTestsWanted()) {
            return;
        }
        s_work = std::make_unique<support::TempDir>("quorvex-deb");
        s_cpack = support::runCommand({packaging::kCpack, "-G", "DEB", "--config",
                                       std::string(packaging::kBuildDir) + "/CPackConfig.cmake",
                                       "-B", s_work->path().string()},
                                      std::nullopt, std::chrono::seconds(240));
        s_deb = s_work->path() / ("quorvex-tiff2pdf_" + std::string(packaging::kVersion) + "_" +
                                  debianArchitecture() + ".deb");
    }
    static void TearDownTestSuite() { s_work.reset(); }

    void SetUp() override {
        if (!packageTestsWanted()) {
            GTEST_SKIP() << "set QUORVEX_PACKAGE_TESTS=1 (or configure with "
                            "-DQUORVEX_PACKAGE_TESTS=ON) to build and check the package";
        }
        ASSERT_TRUE(s_cpack.succeeded()) << "cpack: " << s_cpack.statusText() << "\n"
                                         << s_cpack.out << s_cpack.err;
        ASSERT_TRUE(fs::is_regular_file(s_deb)) << s_deb << " missing; cpack said:\n"
                                                << s_cpack.out;
    }

    static std::map<std::string, std::string> control() {
        const support::CommandResult fields =
            support::runCommand({"dpkg-deb", "--field", s_deb.string()});
        EXPECT_TRUE(fields.succeeded()) << fields.err;
        return packaging::controlFields(fields.out);
    }

    static std::vector<PackedEntry> contents() {
        const support::CommandResult listing =
            support::runCommand({"dpkg-deb", "--contents", s_deb.string()});
        EXPECT_TRUE(listing.succeeded()) << listing.err;
        return parseContents(listing.out);
    }

    static inline std::unique_ptr<support::TempDir> s_work;
    static inline support::CommandResult s_cpack;
    static inline fs::path s_deb;
};

}  // namespace

TEST_F(DebianPackageTest, ControlNamesThePackageVersionAndArchitecture) {
    const auto fields = control();
    EXPECT_EQ(fields.at("Package"), "quorvex-tiff2pdf");
    EXPECT_EQ(fields.at("Version"), packaging::kVersion);
    EXPECT_EQ(fields.at("Architecture"), debianArchitecture());
    EXPECT_EQ(fields.at("Section"), "graphics");
    EXPECT_EQ(fields.at("Priority"), "optional");
    // "Name <address>", as dpkg expects of a maintainer.
    const std::string& maintainer = fields.at("Maintainer");
    EXPECT_LT(maintainer.find(" <"), maintainer.find('>')) << maintainer;
    const std::string& description = fields.at("Description");
    EXPECT_TRUE(description.starts_with("convert TIFF images into PDF documents\n")) << description;
    EXPECT_NE(description.find("quorvex-tiff2pdf-gui"), std::string::npos) << description;
}

TEST_F(DebianPackageTest, DependsOnTheLibrariesTheProgramsLink) {
    const std::vector<std::string> depends = packaging::relationPackages(control().at("Depends"));
    for (const char* library : {"libc6", "libstdc++6", "libtiff6", "zlib1g", "libqt6core6",
                                "libqt6gui6", "libqt6widgets6", "libqt6network6"}) {
        EXPECT_NE(std::find(depends.begin(), depends.end(), library), depends.end())
            << library << " missing from Depends: " << control().at("Depends");
    }
    // Every dependency is a real package: here, each is installed.
    for (const std::string& package : depends) {
        const support::CommandResult query =
            support::runCommand({"dpkg-query", "--show", "--showformat=${Status}", package});
        EXPECT_NE(query.out.find("install ok installed"), std::string::npos) << package;
    }
}

TEST_F(DebianPackageTest, HoldsExactlyTheInstalledFilesOwnedByRoot) {
    std::vector<std::string> files;
    for (const PackedEntry& entry : contents()) {
        EXPECT_EQ(entry.owner, "root/root") << entry.path;
        if (entry.mode.starts_with('d')) {
            EXPECT_EQ(entry.mode, "drwxr-xr-x") << entry.path;
            continue;
        }
        ASSERT_TRUE(entry.path.starts_with("usr/")) << entry.path;
        files.push_back(entry.path.substr(4));
        EXPECT_EQ(entry.mode, entry.path.starts_with("usr/bin/") ? "-rwxr-xr-x" : "-rw-r--r--")
            << entry.path;
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, packaging::expectedInstalledFiles());
}

TEST_F(DebianPackageTest, ProgramsAreStrippedWithoutBuildPathsAndRun) {
    const support::TempDir unpacked("quorvex-deb-x");
    const support::CommandResult extract =
        support::runCommand({"dpkg-deb", "--extract", s_deb.string(), unpacked.path().string()});
    ASSERT_TRUE(extract.succeeded()) << extract.err;
    for (const char* program : {"quorvex-tiff2pdf", "quorvex-tiff2pdf-gui"}) {
        const fs::path binary = unpacked.path() / "usr/bin" / program;
        const support::CommandResult type =
            support::runCommand({"file", "--brief", binary.string()});
        EXPECT_NE(type.out.find(", stripped"), std::string::npos) << program << ": " << type.out;
        const support::CommandResult dynamic =
            support::runCommand({"readelf", "--dynamic", binary.string()});
        EXPECT_EQ(dynamic.out.find("RPATH"), std::string::npos) << program;
        EXPECT_EQ(dynamic.out.find("RUNPATH"), std::string::npos) << program;
    }
    const support::CommandResult version =
        support::runCommand({(unpacked.path() / "usr/bin/quorvex-tiff2pdf").string(), "--version"});
    ASSERT_TRUE(version.succeeded()) << version.statusText() << "\n" << version.err;
    EXPECT_NE(version.out.find(packaging::kVersion), std::string::npos) << version.out;
}

TEST_F(DebianPackageTest, ControlArchiveCarriesChecksums) {
    const support::CommandResult info = support::runCommand({"dpkg-deb", "--info", s_deb.string()});
    ASSERT_TRUE(info.succeeded()) << info.err;
    EXPECT_NE(info.out.find(" md5sums"), std::string::npos) << info.out;
}
