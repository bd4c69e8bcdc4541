// One spelling for every way of naming a file, so that "./a.pdf", "a.pdf",
// "out/../a.pdf" and a link to it compare equal.
#pragma once

#include <string>

namespace quorvex::cli {

// The absolute path the name ends at: made absolute first (so relative and
// absolute spellings meet), links followed where they exist (a dangling
// link names the file the engine would create, as the engine follows it
// too), "." and ".." resolved.
std::string fileIdentity(const std::string& path);

}  // namespace quorvex::cli
