#include "cli/InputCollector.h"

#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "engine/Conversion.h"

#include "cli/FileIdentity.h"
#include "engine/platform/Platform.h"

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

// A link with a TIFF name that leads to no file, said as a failed input.
InputProblem danglingLink(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return {platform::utf8Of(link),
            "not converted: a link to '" + platform::utf8Of(target) + "', which leads to no file"};
}

// A folder's TIFF files in sorted order; folders that cannot be read are
// reported and the rest are still listed.
std::vector<fs::path> listFolderSorted(const fs::path& folder, bool recursive,
                                       CollectedInputs& collected) {
    TiffFolderListing listing = listTiffFolder(folder, recursive);
    for (const UnreadableFolder& unreadable : listing.unreadable)
        collected.problems.push_back(
            {platform::utf8Of(unreadable.folder), describe(unreadable.error)});
    for (const fs::path& link : listing.danglingLinks)
        collected.problems.push_back(danglingLink(link));
    return std::move(listing.files);
}

// Identity of a file for spotting the same file named twice.
std::string identityOf(const fs::path& path) {
    return path == kStandardStream ? std::string(kStandardStream)
                                   : fileIdentity(platform::utf8Of(path));
}

}  // namespace

CollectedInputs collectInputs(const std::vector<std::string>& paths, bool recursive,
                              bool keepRepeats) {
    CollectedInputs collected;
    std::map<std::string, std::string> firstPathOf;  // identity -> the path that took it
    auto keep = [&](const fs::path& file, std::string subFolder, bool named) {
        const std::string text = platform::utf8Of(file);
        const auto [first, isNew] = firstPathOf.emplace(identityOf(file), text);
        if (isNew || keepRepeats)
            collected.files.push_back({text, std::move(subFolder), {}});
        else if (named)
            collected.files.push_back({text, std::move(subFolder), first->second});
    };
    for (const std::string& argument : paths) {
        const fs::path named = platform::pathFromUtf8(argument);
        if (argument == kStandardStream || !isFolder(named)) {
            keep(named, {}, true);
            continue;
        }
        const std::size_t problemsBefore = collected.problems.size();
        const std::vector<fs::path> found = listFolderSorted(named, recursive, collected);
        if (found.empty() && collected.problems.size() == problemsBefore) {
            collected.emptyFolders.push_back(argument);
        }
        for (const fs::path& file : found) {
            const fs::path relative = file.parent_path().lexically_relative(named);
            keep(file, relative == "." ? std::string() : platform::utf8Of(relative), false);
        }
    }
    return collected;
}

}  // namespace quorvex::cli
