// The texts of --help and --version.
#pragma once

#include <string>

namespace quorvex::cli {

inline constexpr const char* kProgramName = "quorvex-tiff2pdf";

std::string helpText();
std::string versionText();  // "quorvex-tiff2pdf 1.0.0"

}  // namespace quorvex::cli
