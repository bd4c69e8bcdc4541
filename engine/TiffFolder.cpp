#include "engine/Conversion.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <cctype>

namespace quorvex {
namespace fs = std::filesystem;
namespace {

std::string lowerCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool isTiffFileEntry(const fs::directory_entry& entry) {
    std::error_code ignored;
    return entry.is_regular_file(ignored) && hasTiffName(platform::utf8Of(entry.path().filename()));
}

// A link whose target is missing (or a loop) with a TIFF name: a scan the
// folder was meant to hold.
bool isDanglingTiffLink(const fs::directory_entry& entry) {
    std::error_code ignored;
    if (!entry.is_symlink(ignored) || fs::exists(entry.status(ignored)))
        return false;
    return hasTiffName(platform::utf8Of(entry.path().filename()));
}

bool isFolderToEnter(const fs::directory_entry& entry) {
    std::error_code ignored;
    return entry.is_directory(ignored) && !entry.is_symlink(ignored) &&
           !isHiddenName(platform::utf8Of(entry.path().filename()));
}

void listInto(const fs::path& folder, bool recursive, TiffFolderListing& listing) {
    std::vector<fs::path> subFolders;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (isTiffFileEntry(*it)) {
            listing.files.push_back(it->path());
        } else if (recursive && isFolderToEnter(*it)) {
            subFolders.push_back(it->path());
        } else if (isDanglingTiffLink(*it)) {
            listing.danglingLinks.push_back(it->path());
        }
    }
    if (error) {
        listing.unreadable.push_back({folder, error});
    }
    for (const fs::path& sub : subFolders) {
        listInto(sub, recursive, listing);
    }
}

}  // namespace

bool isHiddenName(const std::string& name) {
    return name.starts_with('.');
}

bool hasTiffName(const std::string& fileName) {
    const std::string name = lowerCased(fileName);
    return !isHiddenName(name) && (name.ends_with(".tif") || name.ends_with(".tiff"));
}

TiffFolderListing listTiffFolder(const fs::path& folder, bool recursive) {
    TiffFolderListing listing;
    listInto(folder, recursive, listing);
    std::sort(listing.files.begin(), listing.files.end());
    return listing;
}

}  // namespace quorvex
