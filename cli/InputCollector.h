// Turns the paths named on the command line into the list of files to
// convert: files are taken as named, folders are expanded to the TIFF files
// they hold (and those of their sub-folders when recursive) by the rule of
// engine/Conversion.h.
#pragma once

#include <string>
#include <vector>

namespace quorvex::cli {

// The name standard input goes by on the command line.
inline constexpr const char* kStandardStream = "-";

struct InputFile {
    std::string path;
    // Where the file sits under the folder argument it was found in ("2023"
    // for scans/2023/page1.tif), so -d can mirror the tree; empty for files
    // named directly and for those at a folder argument's top.
    std::string subFolder;
};

struct InputProblem {
    std::string path;
    std::string reason;  // e.g. "cannot read folder (Permission denied)"
};

struct CollectedInputs {
    std::vector<InputFile> files;  // command-line order; each folder's files sorted
    std::vector<InputProblem> problems;
    std::vector<std::string> emptyFolders;  // folder arguments that held no TIFF file
};

// A path that is not a folder (including one that does not exist) is kept as
// a file, so the engine reports why it cannot be converted. A file reached
// twice (named twice, or named and inside a named folder) is kept once.
CollectedInputs collectInputs(const std::vector<std::string>& paths, bool recursive);

}  // namespace quorvex::cli
