// Decides where each input's PDF goes (beside it, into -d's folder mirroring
// the scanned tree, -o's file, or standard output) and what it is titled.
// Two inputs that would write the same PDF, or a PDF that would replace its
// own input, fail on their own; the rest of the batch still converts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/InputCollector.h"
#include "cli/Options.h"

namespace quorvex::cli {

struct PlannedJob {
    std::string input;
    std::vector<std::string> mergedInputs;  // --merge: pages that follow input's
    std::string output;   // kStandardStream: the finished PDF goes to standard output
    std::string refusal;  // non-empty: the file fails with this reason, unconverted
    std::string
        skipReason;     // non-empty: the file is skipped with this reason (converted elsewhere)
    std::string title;  // the document title when --title is not given
    bool createFolder = false;  // the output's folder is made when missing (-d)
};

struct OutputPlan {
    std::vector<PlannedJob> jobs;
    std::string error;  // one-line usage error; jobs is empty when set
};

OutputPlan planOutputs(const std::vector<InputFile>& files, const CliOptions& options);

// A PDF's default title after a file: its name without the extension.
std::string titleFor(const std::string& path);

}  // namespace quorvex::cli
