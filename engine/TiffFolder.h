// Which files of a folder are TIFF files to convert. The command line and the
// window both expand folders by this one rule, so a folder converts the same
// files whichever way it was handed in.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace quorvex {

// The folder scan's name rule: ends in ".tif" or ".tiff" (any letter case)
// and is not hidden (macOS "._scan.tif" files are resource forks, not TIFFs).
bool hasTiffName(const std::string& fileName);

// Folders a scan does not enter: hidden ones (".git", ".Trash-1000").
bool isHiddenName(const std::string& name);

struct UnreadableFolder {
    std::filesystem::path folder;
    std::error_code error;
};

struct TiffFolderListing {
    // Regular files with a TIFF name, sorted element by element so that a
    // folder's files stay together and runs repeat whatever order the file
    // system lists them in.
    std::vector<std::filesystem::path> files;
    // Folders that could not be read; the others are still listed.
    std::vector<UnreadableFolder> unreadable;
};

// The TIFF files of a folder, and of its sub-folders when recursive (hidden
// sub-folders and links to folders left out, so a link cycle cannot loop).
TiffFolderListing listTiffFolder(const std::filesystem::path& folder, bool recursive);

}  // namespace quorvex
