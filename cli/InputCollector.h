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
    // A named path that is a file already taken (named twice, or a link to
    // a file also named): not converted again, and said so.
    std::string sameAs;
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
// twice is converted once: a named repeat is kept with sameAs set, a repeat
// found in a folder is left out. keepRepeats (merging) keeps every
// occurrence, as each adds its pages again. A link with a TIFF name in a
// folder that leads nowhere is a problem of its own.
CollectedInputs collectInputs(const std::vector<std::string>& paths, bool recursive,
                              bool keepRepeats = false);

}  // namespace quorvex::cli
