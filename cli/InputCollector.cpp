#include "cli/InputCollector.h"

#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "engine/Conversion.h"

namespace quorvex::cli {
namespace fs = std::filesystem;
namespace {

bool isFolder(const fs::path& path) {
    std::error_code ignored;
    return fs::is_directory(path, ignored);
}

std::string describe(const std::error_code& error) {
    return "cannot read folder (" + error.message() + ")";
}

// A folder's TIFF files in sorted order; folders that cannot be read are
// reported and the rest are still listed.
std::vector<fs::path> listFolderSorted(const fs::path& folder, bool recursive,
                                       CollectedInputs& collected) {
    TiffFolderListing listing = listTiffFolder(folder, recursive);
    for (const UnreadableFolder& unreadable : listing.unreadable)
        collected.problems.push_back({unreadable.folder.string(), describe(unreadable.error)});
    return std::move(listing.files);
}

// Identity of a file for spotting the same file named twice.
std::string identityOf(const fs::path& path) {
    if (path == kStandardStream)
        return kStandardStream;
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? path.lexically_normal().string() : canonical.string();
}

}  // namespace

CollectedInputs collectInputs(const std::vector<std::string>& paths, bool recursive) {
    CollectedInputs collected;
    std::set<std::string> seen;
    auto keep = [&](const fs::path& file, std::string subFolder) {
        if (seen.insert(identityOf(file)).second)
            collected.files.push_back({file.string(), std::move(subFolder)});
    };
    for (const std::string& argument : paths) {
        if (argument == kStandardStream || !isFolder(argument)) {
            keep(argument, {});
            continue;
        }
        const std::size_t problemsBefore = collected.problems.size();
        const std::vector<fs::path> found = listFolderSorted(argument, recursive, collected);
        if (found.empty() && collected.problems.size() == problemsBefore) {
            collected.emptyFolders.push_back(argument);
        }
        for (const fs::path& file : found) {
            const fs::path relative = file.parent_path().lexically_relative(argument);
            keep(file, relative == "." ? std::string() : relative.string());
        }
    }
    return collected;
}

}  // namespace quorvex::cli
