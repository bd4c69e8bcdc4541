// Shared pieces of the installation and package tests: what an installation
// must hold, and readers for the files and tool outputs they look at.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace packaging {

inline constexpr const char* kBuildDir = QUORVEX_BUILD_DIR;
inline constexpr const char* kSourceDir = QUORVEX_SOURCE_DIR;
inline constexpr const char* kCmake = QUORVEX_CMAKE_COMMAND;
inline constexpr const char* kCpack = QUORVEX_CPACK_COMMAND;
inline constexpr const char* kVersion = QUORVEX_VERSION;

inline constexpr const char* kDesktopEntry = "share/applications/quorvex-tiff2pdf.desktop";
inline constexpr const char* kIconName = "quorvex-tiff2pdf";
// The sizes the icon is drawn in, each installed as <size>x<size>.
inline constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// Every file an installation holds, relative to its prefix, sorted.
std::vector<std::string> expectedInstalledFiles();

// The regular files and symbolic links under root, relative to it, sorted.
std::vector<std::string> filesUnder(const std::filesystem::path& root);

// Width and height from a PNG file's header; nothing when it is no PNG.
struct PixelSize {
    uint32_t width = 0;
    uint32_t height = 0;
    bool operator==(const PixelSize&) const = default;
};
std::optional<PixelSize> pngSize(const std::filesystem::path& png);

// The keys of one group of a desktop entry (or any .ini-like file). Throws
// std::runtime_error when the file cannot be read.
std::map<std::string, std::string> desktopEntryGroup(const std::filesystem::path& file,
                                                     const std::string& group = "Desktop Entry");

// "Field: value" lines of a Debian control file; continuation lines are
// joined to their field with '\n'.
std::map<std::string, std::string> controlFields(const std::string& controlText);

// The package names of a Depends-style field, without versions or
// alternatives' bars ("a (>= 1), b | c" gives a, b, c).
std::vector<std::string> relationPackages(const std::string& field);

std::string readFile(const std::filesystem::path& file);

}  // namespace packaging
