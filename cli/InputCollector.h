// Turns the paths named on the command line into the list of files to
// convert: files are taken as named, folders are expanded to the TIFF files
// they hold (and those of their sub-folders when recursive).
#pragma once

#include <string>
#include <vector>

namespace quorvex::cli {

// The filter the window applies to dropped files: the lower-cased name
// contains ".tif" (so .tif, .TIF, .tiff, .Tiff all pass).
bool hasTiffName(const std::string& fileName);

struct InputProblem {
    std::string path;
    std::string reason;  // e.g. "cannot read folder (Permission denied)"
};

struct CollectedInputs {
    std::vector<std::string> files;  // command-line order; each folder's files sorted
    std::vector<InputProblem> problems;
    std::vector<std::string> emptyFolders;  // folder arguments that held no TIFF file
};

// A path that is not a folder (including one that does not exist) is kept as
// a file, so the engine reports why it cannot be converted. A file reached
// twice (named twice, or named and inside a named folder) is kept once.
CollectedInputs collectInputs(const std::vector<std::string>& paths, bool recursive);

}  // namespace quorvex::cli
