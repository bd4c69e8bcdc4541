// --files-from: the names of the inputs read from a file or standard input,
// one a line or, for names that may hold newlines, each ended by a NUL (as
// find -print0 writes them). Lists of millions of names are the norm in
// archive runs, so the list is never put on a command line.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::cli {

// The names in a list, in order: every byte kept (spaces, tabs, carriage
// returns, bytes that are not UTF-8), empty entries left out, the last
// separator optional. A name "-" means the file of that name, not
// standard input, so it is given as "./-".
std::vector<std::string> splitFileList(std::string_view bytes, char separator);

struct FileListRead {
    std::vector<std::string> paths;
    std::string error;  // non-empty when the list could not be read
};

// Reads the list from `source` ("-": the file descriptor standardInput).
FileListRead readFileList(const std::string& source, bool nullSeparated, int standardInput,
                          const std::atomic<bool>* cancel);

}  // namespace quorvex::cli
