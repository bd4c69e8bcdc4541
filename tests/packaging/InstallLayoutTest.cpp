// `cmake --install` of the build tree into a staging folder (DESTDIR), as a
// distribution's packaging does: exactly the expected files, with the right
// modes; icons of the size their folder names; a desktop entry that
// desktop-file-validate accepts and that names the installed program and icon;
// and programs that run from where they were installed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "PackagingSupport.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using packaging::desktopEntryGroup;

namespace {

constexpr const char* kPrefix = "usr";

class InstallLayoutTest : public testing::Test {
  protected:
    // One installation for all cases: installing is the slow part.
    static void SetUpTestSuite() {
        s_staging = std::make_unique<support::TempDir>("quorvex-install");
        s_install = support::runCommand(
            {"env", "DESTDIR=" + s_staging->path().string(), packaging::kCmake, "--install",
             packaging::kBuildDir, "--prefix", std::string("/") + kPrefix},
            std::nullopt, std::chrono::seconds(90));
    }
    static void TearDownTestSuite() { s_staging.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_install.succeeded()) << "cmake --install: " << s_install.statusText() << "\n"
                                           << s_install.out << s_install.err;
    }

    static fs::path installed(const std::string& relative) {
        return s_staging->path() / kPrefix / relative;
    }

    static inline std::unique_ptr<support::TempDir> s_staging;
    static inline support::CommandResult s_install;
};

fs::perms permissionBits(const fs::path& file) {
    return fs::status(file).permissions() & fs::perms::mask;
}

constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec;
constexpr fs::perms kReadable =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;

}  // namespace

TEST_F(InstallLayoutTest, InstallsExactlyTheExpectedFilesUnderThePrefix) {
    // Nothing lands outside the prefix, and nothing unexpected inside it.
    for (const auto& entry : fs::directory_iterator(s_staging->path())) {
        EXPECT_EQ(entry.path().filename(), kPrefix) << "installed outside the prefix";
    }
    EXPECT_EQ(packaging::filesUnder(s_staging->path() / kPrefix),
              packaging::expectedInstalledFiles());
}

TEST_F(InstallLayoutTest, ProgramsAreExecutableAndDataIsReadable) {
    for (const std::string& file : packaging::expectedInstalledFiles()) {
        const fs::perms expected = file.starts_with("bin/") ? kExecutable : kReadable;
        EXPECT_EQ(permissionBits(installed(file)), expected) << file;
    }
}

TEST_F(InstallLayoutTest, EachIconIsDrawnInTheSizeItsFolderNames) {
    for (int size : packaging::kIconSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const fs::path icon =
            installed("share/icons/hicolor/" + folder + "/apps/quorvex-tiff2pdf.png");
        const auto pixels = packaging::pngSize(icon);
        ASSERT_TRUE(pixels.has_value()) << icon << " is no PNG";
        EXPECT_EQ(*pixels,
                  (packaging::PixelSize{static_cast<uint32_t>(size), static_cast<uint32_t>(size)}))
            << folder;
    }
    const std::string svg =
        packaging::readFile(installed("share/icons/hicolor/scalable/apps/quorvex-tiff2pdf.svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("viewBox"), std::string::npos) << "a scalable icon needs a viewBox";
}

TEST_F(InstallLayoutTest, DesktopEntryPassesDesktopFileValidate) {
    const support::CommandResult validate = support::runCommand(
        {"desktop-file-validate", installed(packaging::kDesktopEntry).string()});
    // Hints (such as several main categories) are advice; errors and
    // warnings are not accepted.
    EXPECT_TRUE(validate.succeeded()) << validate.statusText() << "\n"
                                      << validate.out << validate.err;
    EXPECT_EQ(validate.out.find("error:"), std::string::npos) << validate.out;
    EXPECT_EQ(validate.out.find("warning:"), std::string::npos) << validate.out;
}

TEST_F(InstallLayoutTest, DesktopEntryOpensTiffFilesWithTheInstalledWindow) {
    const auto entry = desktopEntryGroup(installed(packaging::kDesktopEntry));
    EXPECT_EQ(entry.at("Type"), "Application");
    EXPECT_EQ(entry.at("Name"), "Quorvex Tiff to Pdf Converter");
    EXPECT_EQ(entry.at("MimeType"), "image/tiff;");
    EXPECT_EQ(entry.at("Categories"), "Graphics;Office;Utility;");
    EXPECT_EQ(entry.at("Terminal"), "false");
    // %F: "Open With" hands over any number of local files at once.
    EXPECT_EQ(entry.at("Exec"), "quorvex-tiff2pdf-gui %F");
    const std::string program = entry.at("Exec").substr(0, entry.at("Exec").find(' '));
    EXPECT_TRUE(fs::is_regular_file(installed("bin/" + program))) << program;
    EXPECT_EQ(entry.at("TryExec"), program);
    // The window's X11 instance name is its program name.
    EXPECT_EQ(entry.at("StartupWMClass"), program);
    EXPECT_EQ(entry.at("Icon"), packaging::kIconName);
    EXPECT_TRUE(fs::is_regular_file(
        installed(std::string("share/icons/hicolor/48x48/apps/") + packaging::kIconName + ".png")));
}

TEST_F(InstallLayoutTest, InstalledCommandLineRunsAndReportsTheVersion) {
    const support::CommandResult version =
        support::runCommand({installed("bin/quorvex-tiff2pdf").string(), "--version"});
    ASSERT_TRUE(version.succeeded()) << version.statusText() << "\n" << version.err;
    EXPECT_NE(version.out.find(packaging::kVersion), std::string::npos) << version.out;
}

TEST_F(InstallLayoutTest, ManPageAndReadmeAreTheProjectsOwn) {
    EXPECT_EQ(packaging::readFile(installed("share/man/man1/quorvex-tiff2pdf.1")),
              packaging::readFile(fs::path(packaging::kSourceDir) / "docs/quorvex-tiff2pdf.1"));
    EXPECT_EQ(packaging::readFile(installed("share/doc/quorvex-tiff2pdf/README.md")),
              packaging::readFile(fs::path(packaging::kSourceDir) / "README.md"));
}
