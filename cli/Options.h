// Command-line options of quorvex-tiff2pdf, parsed into a plain struct so the
// rules can be tested without starting a process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Conversion.h"

namespace quorvex::cli {

enum class Verbosity { Quiet, Normal, Verbose };

// Creator and Producer name this program and its version; the rest is empty
// until an option sets it (the title is the file's name, see titleGiven).
DocumentInfo commandLineDocumentInfo();

// "2024-05-01", "2024-05-01T12:30", "2024-05-01T12:30:15+02:00" (or "Z") as
// a PDF date ("D:20240501123015+02'00'"); nullopt for anything else.
std::optional<std::string> pdfDateFromIso8601(const std::string& text);

inline ConversionOptions commandLineConversionOptions() {
    ConversionOptions options;
    options.profile = OutputProfile::Standard;
    return options;
}

struct CliOptions {
    std::vector<std::string> paths;         // files and folders, in command-line order
    std::optional<std::string> filesFrom;   // --files-from: more paths, one a line ("-": stdin)
    bool nullSeparated = false;             // -0: the list's names end in NUL, not newline
    std::optional<std::string> reportFile;  // --report: JSON Lines, one per input ("-": stdout)
    bool recursive = false;                 // descend into sub-folders of folder arguments
    std::optional<std::string> outputFile;  // -o: the PDF for the single input
    std::optional<std::string> outputDir;   // -d: folder for every PDF
    bool noClobber = false;                 // -n: skip inputs whose PDF exists
    unsigned jobs = 0;                      // 0: one per CPU
    bool merge = false;                     // -m: every input's pages into -o's PDF
    Verbosity verbosity = Verbosity::Normal;
    // What shapes each PDF (--strict, --dpi, --level, --compact, --lossless-decode, --memory),
    // handed to the engine as it is; the command line writes the standard profile.
    ConversionOptions conversion = commandLineConversionOptions();
    DocumentInfo info = commandLineDocumentInfo();
    bool titleGiven = false;  // otherwise each PDF is titled after its file
};

inline constexpr unsigned kMaxJobs = 256;
inline constexpr double kMaxDpi = 100000.0;
// --memory's range, in megabytes.
inline constexpr uint64_t kMinMemoryMiB = 16;
inline constexpr uint64_t kMaxMemoryMiB = uint64_t{1} << 20;

struct ParseResult {
    enum class Action { Run, ShowHelp, ShowVersion, UsageError };
    Action action = Action::Run;
    CliOptions options;
    std::string error;  // one line, without the program name, when action is UsageError
};

// Parses the arguments after the program name. Short options may be combined
// ("-rn", "-rj2"); a value follows its option attached ("-j2", "--jobs=2") or
// as the next argument ("-j 2", "--jobs 2"); "--" ends the options.
ParseResult parseOptions(const std::vector<std::string>& args);

// The number of workers to start: the -j value, else the CPU count (at least 1).
unsigned effectiveJobCount(const CliOptions& options, unsigned hardwareThreads);

}  // namespace quorvex::cli
