#include "cli/InputCollector.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <system_error>

#include "cli/FileIdentity.h"

namespace quorvex::cli {
namespace fs = std::filesystem;
namespace {

std::string lowerCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool isFolder(const fs::path& path) {
    std::error_code ignored;
    return fs::is_directory(path, ignored);
}

bool isTiffFileEntry(const fs::directory_entry& entry) {
    std::error_code ignored;
    return entry.is_regular_file(ignored) && hasTiffName(entry.path().filename().string());
}

std::string describe(const std::error_code& error) {
    return "cannot read folder (" + error.message() + ")";
}

// A link whose target is missing (or a loop): with a TIFF name, a scan the
// folder was meant to hold.
bool isDanglingTiffLink(const fs::directory_entry& entry) {
    std::error_code ignored;
    if (!entry.is_symlink(ignored) || fs::exists(entry.status(ignored)))
        return false;
    return hasTiffName(entry.path().filename().string());
}

InputProblem danglingLink(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return {link.string(),
            "not converted: a link to '" + target.string() + "', which leads to no file"};
}

// Adds the TIFF files of one folder (and of its sub-folders when recursive)
// to found. Links to folders are not followed, so a link cycle cannot loop.
// A folder that cannot be read is reported and the rest are still listed.
void listFolder(const fs::path& folder, bool recursive, std::vector<fs::path>& found,
                CollectedInputs& collected) {
    std::vector<fs::path> subFolders;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        if (it->is_directory(ignored)) {
            if (recursive && !it->is_symlink(ignored) &&
                !isHiddenName(it->path().filename().string()))
                subFolders.push_back(it->path());
        } else if (isTiffFileEntry(*it)) {
            found.push_back(it->path());
        } else if (isDanglingTiffLink(*it)) {
            collected.problems.push_back(danglingLink(it->path()));
        }
    }
    if (error)
        collected.problems.push_back({folder.string(), describe(error)});
    for (const fs::path& sub : subFolders)
        listFolder(sub, recursive, found, collected);
}

// A folder's files in a sorted order (element by element, so a folder's
// files stay together), so runs repeat whatever order the file system uses.
std::vector<fs::path> listFolderSorted(const fs::path& folder, bool recursive,
                                       CollectedInputs& collected) {
    std::vector<fs::path> found;
    listFolder(folder, recursive, found, collected);
    std::sort(found.begin(), found.end());
    return found;
}

// Identity of a file for spotting the same file named twice.
std::string identityOf(const fs::path& path) {
    return path == kStandardStream ? std::string(kStandardStream) : fileIdentity(path);
}

}  // namespace

bool isHiddenName(const std::string& name) {
    return name.starts_with('.');
}

bool hasTiffName(const std::string& fileName) {
    const std::string name = lowerCased(fileName);
    return !isHiddenName(name) && (name.ends_with(".tif") || name.ends_with(".tiff"));
}

CollectedInputs collectInputs(const std::vector<std::string>& paths, bool recursive,
                              bool keepRepeats) {
    CollectedInputs collected;
    std::map<std::string, std::string> firstPathOf;  // identity -> the path that took it
    auto keep = [&](const fs::path& file, std::string subFolder, bool named) {
        const auto [first, isNew] = firstPathOf.emplace(identityOf(file), file.string());
        if (isNew || keepRepeats)
            collected.files.push_back({file.string(), std::move(subFolder), {}});
        else if (named)
            collected.files.push_back({file.string(), std::move(subFolder), first->second});
    };
    for (const std::string& argument : paths) {
        if (argument == kStandardStream || !isFolder(argument)) {
            keep(argument, {}, true);
            continue;
        }
        const std::size_t problemsBefore = collected.problems.size();
        const std::vector<fs::path> found = listFolderSorted(argument, recursive, collected);
        if (found.empty() && collected.problems.size() == problemsBefore) {
            collected.emptyFolders.push_back(argument);
        }
        for (const fs::path& file : found) {
            const fs::path relative = file.parent_path().lexically_relative(argument);
            keep(file, relative == "." ? std::string() : relative.string(), false);
        }
    }
    return collected;
}

}  // namespace quorvex::cli
