#include "cli/Options.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <regex>
#include <string_view>

#include "cli/HelpText.h"
#include "cli/InputCollector.h"

namespace quorvex::cli {
namespace {

enum class OptionId {
    Help,
    Version,
    Recursive,
    Output,
    OutputDir,
    NoClobber,
    Jobs,
    Merge,
    Strict,
    Dpi,
    ForceDpi,
    Quiet,
    Verbose,
    Title,
    Author,
    Subject,
    Keywords,
    Creator,
    CreationDate,
    Level,
    Compact,
    LosslessDecode,
    Memory,
    FilesFrom,
    Null,
    Report,
    Profile,
    Pdfa,
    OutputIntent,
};

struct OptionDef {
    OptionId id;
    char shortName;  // '\0' when the option has no short form
    std::string_view longName;
    bool takesValue;
    // A value only when attached ("--pdfa=1b"); the bare option takes none.
    bool valueOptional = false;
};

constexpr std::array kOptionTable{
    OptionDef{OptionId::Help, 'h', "help", false},
    OptionDef{OptionId::Version, 'V', "version", false},
    OptionDef{OptionId::Recursive, 'r', "recursive", false},
    OptionDef{OptionId::Output, 'o', "output", true},
    OptionDef{OptionId::OutputDir, 'd', "output-dir", true},
    OptionDef{OptionId::NoClobber, 'n', "no-clobber", false},
    OptionDef{OptionId::Jobs, 'j', "jobs", true},
    OptionDef{OptionId::Merge, 'm', "merge", false},
    OptionDef{OptionId::Strict, '\0', "strict", false},
    OptionDef{OptionId::Dpi, '\0', "dpi", true},
    OptionDef{OptionId::ForceDpi, '\0', "force-dpi", true},
    OptionDef{OptionId::Quiet, 'q', "quiet", false},
    OptionDef{OptionId::Verbose, 'v', "verbose", false},
    OptionDef{OptionId::Title, '\0', "title", true},
    OptionDef{OptionId::Author, '\0', "author", true},
    OptionDef{OptionId::Subject, '\0', "subject", true},
    OptionDef{OptionId::Keywords, '\0', "keywords", true},
    OptionDef{OptionId::Creator, '\0', "creator", true},
    OptionDef{OptionId::CreationDate, '\0', "creation-date", true},
    OptionDef{OptionId::Level, '\0', "level", true},
    OptionDef{OptionId::Compact, '\0', "compact", false},
    OptionDef{OptionId::LosslessDecode, '\0', "lossless-decode", false},
    OptionDef{OptionId::Memory, '\0', "memory", true},
    OptionDef{OptionId::FilesFrom, '\0', "files-from", true},
    OptionDef{OptionId::Null, '0', "null", false},
    OptionDef{OptionId::Report, '\0', "report", true},
    OptionDef{OptionId::Profile, '\0', "profile", true},
    OptionDef{OptionId::Pdfa, '\0', "pdfa", false, true},
    OptionDef{OptionId::OutputIntent, '\0', "output-intent", true},
};

const OptionDef* findShort(char name) {
    const auto it =
        std::find_if(kOptionTable.begin(), kOptionTable.end(),
                     [name](const OptionDef& option) { return option.shortName == name; });
    return it == kOptionTable.end() ? nullptr : &*it;
}

const OptionDef* findLong(std::string_view name) {
    const auto it =
        std::find_if(kOptionTable.begin(), kOptionTable.end(),
                     [name](const OptionDef& option) { return option.longName == name; });
    return it == kOptionTable.end() ? nullptr : &*it;
}

// How an option is named in messages: the spelling the user typed.
std::string displayName(const OptionDef& option, bool typedLong) {
    if (typedLong || option.shortName == '\0')
        return "--" + std::string(option.longName);
    return std::string("-") + option.shortName;
}

// The whole of `text` as a number from `lowest` to `highest`; nothing for
// anything else (empty, trailing characters, out of range, NaN).
template <typename Number>
std::optional<Number> parseNumber(const std::string& text, Number lowest, Number highest) {
    Number value{};
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end ||
        !(value >= lowest && value <= highest))
        return std::nullopt;
    return value;
}

std::optional<unsigned> parseJobCount(const std::string& text) {
    return parseNumber<unsigned>(text, 1, kMaxJobs);
}

std::optional<int> parseFlateLevel(const std::string& text) {
    return parseNumber<int>(text, 0, kMaxFlateLevel);
}

std::optional<double> parseDpi(const std::string& text) {
    return parseNumber<double>(text, 1, kMaxDpi);
}

// "512M", "1G", "2048K" (or KiB, MiB, GiB; a bare number is megabytes) as
// bytes, from kMinMemoryMiB to kMaxMemoryMiB megabytes; nothing otherwise.
std::optional<uint64_t> parseMemory(const std::string& text) {
    static const std::regex kSize(R"((\d{1,9})([KMG](?:iB)?)?)", std::regex::icase);
    std::smatch m;
    if (!std::regex_match(text, m, kSize))
        return std::nullopt;
    const uint64_t number = std::stoull(m[1].str());
    const char unit = m[2].matched ? static_cast<char>(std::toupper(m[2].str()[0])) : 'M';
    const uint64_t kib = number << (unit == 'K' ? 0 : unit == 'M' ? 10 : 20);
    if (kib < kMinMemoryMiB << 10 || kib > kMaxMemoryMiB << 10)
        return std::nullopt;
    return kib << 10;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

class Parser {
  public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    ParseResult run() {
        bool optionsEnded = false;
        for (index_ = 0; index_ < args_.size() && !finished(); ++index_) {
            const std::string& arg = args_[index_];
            if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
                result_.options.paths.push_back(arg);
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (arg.starts_with("--")) {
                parseLong(arg);
            } else {
                parseShortCluster(arg);
            }
        }
        if (!finished())
            checkCombinations();
        return std::move(result_);
    }

  private:
    bool finished() const { return result_.action != ParseResult::Action::Run; }

    void fail(std::string message) {
        result_.action = ParseResult::Action::UsageError;
        result_.error = std::move(message);
    }

    void parseLong(const std::string& arg) {
        const std::string_view body = std::string_view(arg).substr(2);
        const std::size_t equals = body.find('=');
        const std::string_view name = body.substr(0, equals);
        const OptionDef* option = findLong(name);
        if (option == nullptr) {
            fail("unknown option '--" + std::string(name) + "'");
            return;
        }
        if (equals != std::string_view::npos) {
            if (!option->takesValue && !option->valueOptional) {
                fail("option '--" + std::string(name) + "' takes no value");
                return;
            }
            apply(*option, std::string(body.substr(equals + 1)), true);
            return;
        }
        if (option->takesValue) {
            if (auto value = nextArgument()) {
                apply(*option, *value, true);
            } else {
                fail("option '--" + std::string(name) + "' needs a value");
            }
            return;
        }
        apply(*option, {}, true);
    }

    // "-rnj2": flags up to the first option that takes a value, which takes
    // the rest of the argument or, when nothing is left, the next argument.
    void parseShortCluster(const std::string& arg) {
        for (std::size_t pos = 1; pos < arg.size() && !finished(); ++pos) {
            const OptionDef* option = findShort(arg[pos]);
            if (option == nullptr) {
                fail(std::string("unknown option '-") + arg[pos] + "'");
                return;
            }
            if (!option->takesValue) {
                apply(*option, {}, false);
                continue;
            }
            if (pos + 1 < arg.size()) {
                apply(*option, arg.substr(pos + 1), false);
            } else if (auto value = nextArgument()) {
                apply(*option, *value, false);
            } else {
                fail(std::string("option '-") + arg[pos] + "' needs a value");
            }
            return;
        }
    }

    std::optional<std::string> nextArgument() {
        if (index_ + 1 >= args_.size())
            return std::nullopt;
        return args_[++index_];
    }

    void apply(const OptionDef& option, const std::string& value, bool typedLong) {
        CliOptions& options = result_.options;
        DocumentInfo& info = options.info;
        switch (option.id) {
            case OptionId::Help:
                result_.action = ParseResult::Action::ShowHelp;
                break;
            case OptionId::Version:
                result_.action = ParseResult::Action::ShowVersion;
                break;
            case OptionId::Recursive:
                options.recursive = true;
                break;
            case OptionId::Output:
                setPath(options.outputFile, option, value, typedLong);
                break;
            case OptionId::OutputDir:
                setPath(options.outputDir, option, value, typedLong);
                break;
            case OptionId::NoClobber:
                options.noClobber = true;
                break;
            case OptionId::Jobs:
                setJobs(value, option, typedLong);
                break;
            case OptionId::Merge:
                options.merge = true;
                break;
            case OptionId::Strict:
                options.conversion.strict = true;
                break;
            case OptionId::Dpi:
                setDpi(result_.options.conversion.defaultDpi, value, option, typedLong);
                break;
            case OptionId::ForceDpi:
                setDpi(result_.options.conversion.forcedDpi, value, option, typedLong);
                break;
            case OptionId::Quiet:
                setVerbosity(Verbosity::Quiet);
                break;
            case OptionId::Verbose:
                setVerbosity(Verbosity::Verbose);
                break;
            case OptionId::Title:
                info.title = value;
                options.titleGiven = true;
                break;
            case OptionId::Author:
                info.author = value;
                break;
            case OptionId::Subject:
                info.subject = value;
                break;
            case OptionId::Keywords:
                info.keywords = value;
                break;
            case OptionId::Creator:
                info.creator = value;
                break;
            case OptionId::CreationDate:
                setCreationDate(value, option, typedLong);
                break;
            case OptionId::Level:
                options.conversion.flateLevel = parseFlateLevel(value);
                if (!options.conversion.flateLevel) {
                    fail("invalid value '" + value +
                         "' for '--level': expected a number from 0 to " +
                         std::to_string(kMaxFlateLevel));
                }
                break;
            case OptionId::Compact:
                options.conversion.compact = true;
                break;
            case OptionId::LosslessDecode:
                options.conversion.losslessDecode = true;
                break;
            case OptionId::Memory:
                setMemory(value);
                break;
            case OptionId::FilesFrom:
                setPath(options.filesFrom, option, value, typedLong);
                break;
            case OptionId::Null:
                options.nullSeparated = true;
                break;
            case OptionId::Report:
                setPath(options.reportFile, option, value, typedLong);
                break;
            case OptionId::Profile:
                setProfile(value);
                break;
            case OptionId::Pdfa:
                setArchival(value);
                break;
            case OptionId::OutputIntent:
                if (!value.empty())
                    options.conversion.outputIntentPath = value;
                else
                    fail("option '--output-intent' needs a non-empty path");
                break;
        }
    }

    void setPath(std::optional<std::string>& target, const OptionDef& option,
                 const std::string& value, bool typedLong) {
        if (value.empty()) {
            fail("option '" + displayName(option, typedLong) + "' needs a non-empty path");
            return;
        }
        target = value;
    }

    void setJobs(const std::string& value, const OptionDef& option, bool typedLong) {
        const std::optional<unsigned> jobs = parseJobCount(value);
        if (!jobs) {
            fail("invalid value '" + value + "' for '" + displayName(option, typedLong) +
                 "': expected a number from 1 to " + std::to_string(kMaxJobs));
            return;
        }
        result_.options.jobs = *jobs;
    }

    void setMemory(const std::string& value) {
        const std::optional<uint64_t> bytes = parseMemory(value);
        if (!bytes) {
            fail("invalid value '" + value + "' for '--memory': expected a size like 256M or " +
                 "2G, from " + std::to_string(kMinMemoryMiB) + "M to " +
                 std::to_string(kMaxMemoryMiB >> 10) + "G");
            return;
        }
        result_.options.conversion.memoryBudget = *bytes;
    }

    void setDpi(double& target, const std::string& value, const OptionDef& option, bool typedLong) {
        const std::optional<double> dpi = parseDpi(value);
        if (!dpi) {
            fail("invalid value '" + value + "' for '" + displayName(option, typedLong) +
                 "': expected a resolution from 1 to " + std::to_string(int(kMaxDpi)));
            return;
        }
        target = *dpi;
    }

    void setCreationDate(const std::string& value, const OptionDef& option, bool typedLong) {
        std::optional<std::string> date = pdfDateFromIso8601(value);
        if (!date) {
            fail("invalid value '" + value + "' for '" + displayName(option, typedLong) +
                 "': expected a date like 2024-05-01 or 2024-05-01T14:30:00+02:00");
            return;
        }
        result_.options.info.creationDate = std::move(date);
    }

    void setProfile(const std::string& value) {
        if (value == "classic") {
            result_.options.conversion.profile = OutputProfile::Classic;
        } else if (value == "standard") {
            result_.options.conversion.profile = OutputProfile::Standard;
        } else {
            fail("invalid value '" + value + "' for '--profile': expected classic or standard");
        }
    }

    // PDF/A is written on top of the standard profile.
    void setArchival(const std::string& value) {
        ConversionOptions& conversion = result_.options.conversion;
        if (value.empty() || value == "2b") {
            conversion.archival = ArchivalLevel::PdfA2b;
        } else if (value == "1b") {
            conversion.archival = ArchivalLevel::PdfA1b;
        } else {
            fail("invalid value '" + value + "' for '--pdfa': expected 2b or 1b");
            return;
        }
        conversion.profile = OutputProfile::Standard;
    }

    void setVerbosity(Verbosity wanted) {
        Verbosity& current = result_.options.verbosity;
        if (current != Verbosity::Normal && current != wanted) {
            fail("options '--quiet' and '--verbose' cannot be used together");
            return;
        }
        current = wanted;
    }

    void checkCombinations() {
        const CliOptions& options = result_.options;
        if (options.paths.empty() && !options.filesFrom) {
            fail("no input files given");
        } else if (options.nullSeparated && !options.filesFrom) {
            fail("option '--null' needs '--files-from FILE'");
        } else if (options.reportFile == std::string(kStandardStream) &&
                   options.outputFile == std::string(kStandardStream)) {
            fail("'--report -' and '-o -' cannot both write to standard output");
        } else if (options.outputFile && options.outputDir) {
            fail("options '--output' and '--output-dir' cannot be used together");
        } else if (options.conversion.archival &&
                   options.conversion.profile == OutputProfile::Classic) {
            fail(
                "'--pdfa' writes the standard profile; it cannot be used with '--profile classic'");
        } else if (!options.conversion.outputIntentPath.empty() && !options.conversion.archival) {
            fail("option '--output-intent' needs '--pdfa'");
        } else if (options.merge && !options.outputFile) {
            fail("option '--merge' needs '--output FILE'");
        } else if (options.outputFile && options.paths.size() > 1 && !options.merge) {
            fail("option '--output' needs a single input, but " +
                 std::to_string(options.paths.size()) +
                 " were given; use '--output-dir' for several, or '--merge'");
        } else if (readsStandardInput()) {
            checkStandardInput();
        }
    }

    bool readsStandardInput() const {
        const std::vector<std::string>& paths = result_.options.paths;
        return std::find(paths.begin(), paths.end(), kStandardStream) != paths.end();
    }

    // The TIFF on standard input has no name to derive a PDF name from, and
    // is read into memory once, so it stands alone.
    void checkStandardInput() {
        if (result_.options.filesFrom == std::string(kStandardStream)) {
            fail("standard input ('-') cannot hold both the file list and a TIFF");
        } else if (result_.options.paths.size() > 1 || result_.options.filesFrom) {
            fail("standard input ('-') must be the only input");
        } else if (!result_.options.outputFile) {
            fail("reading standard input ('-') needs '--output FILE' (or '-o -')");
        }
    }

    const std::vector<std::string>& args_;
    std::size_t index_ = 0;
    ParseResult result_;
};

}  // namespace

DocumentInfo commandLineDocumentInfo() {
    DocumentInfo info;
    info.creator = versionText();
    info.producer = versionText();
    return info;
}

std::optional<std::string> pdfDateFromIso8601(const std::string& text) {
    static const std::regex kIso(
        R"((\d{4})-(\d{2})-(\d{2})(?:T(\d{2}):(\d{2})(?::(\d{2}))?(Z|[+-](\d{2}):(\d{2}))?)?)");
    std::smatch m;
    if (!std::regex_match(text, m, kIso))
        return std::nullopt;
    const auto number = [&](int group) { return m[group].matched ? std::stoi(m[group]) : 0; };
    const int year = number(1);
    const int month = number(2);
    const int day = number(3);
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || number(4) > 23 ||
        number(5) > 59 || number(6) > 59 || number(8) > 23 || number(9) > 59)
        return std::nullopt;
    std::string date = "D:" + m[1].str() + m[2].str() + m[3].str();
    if (!m[4].matched)
        return date;
    date += m[4].str() + m[5].str() + (m[6].matched ? m[6].str() : "00");
    if (m[7] == "Z")
        date += "Z";
    else if (m[7].matched)
        date += m[7].str().substr(0, 1) + m[8].str() + "'" + m[9].str() + "'";
    return date;
}

ParseResult parseOptions(const std::vector<std::string>& args) {
    return Parser(args).run();
}

unsigned effectiveJobCount(const CliOptions& options, unsigned hardwareThreads) {
    if (options.jobs != 0)
        return options.jobs;
    return std::clamp(hardwareThreads, 1u, kMaxJobs);
}

}  // namespace quorvex::cli
