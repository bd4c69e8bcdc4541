// Decides where each input's PDF goes (beside it, into -d's folder, or -o's
// file) and refuses, before anything is written, a batch in which two inputs
// would write the same PDF or a PDF would replace its own input.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace quorvex::cli {

struct PlannedJob {
    std::string input;
    std::string output;   // empty: left to the engine, which refuses the input
    std::string refusal;  // non-empty: the file fails with this reason, unconverted
};

struct OutputPlan {
    std::vector<PlannedJob> jobs;
    std::string error;  // one-line usage error; jobs is empty when set
};

OutputPlan planOutputs(const std::vector<std::string>& files, const CliOptions& options);

}  // namespace quorvex::cli
