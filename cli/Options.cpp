#include "cli/Options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

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
};

struct OptionDef {
    OptionId id;
    char shortName;  // '\0' when the option has no short form
    std::string_view longName;
    bool takesValue;
};

constexpr std::array kOptionTable{
    OptionDef{OptionId::Help, 'h', "help", false},
    OptionDef{OptionId::Version, 'V', "version", false},
    OptionDef{OptionId::Recursive, 'r', "recursive", false},
    OptionDef{OptionId::Output, 'o', "output", true},
    OptionDef{OptionId::OutputDir, 'd', "output-dir", true},
    OptionDef{OptionId::NoClobber, 'n', "no-clobber", false},
    OptionDef{OptionId::Jobs, 'j', "jobs", true},
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

std::optional<unsigned> parseJobCount(const std::string& text) {
    unsigned value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    if (value < 1 || value > kMaxJobs)
        return std::nullopt;
    return value;
}

std::optional<int> parseFlateLevel(const std::string& text) {
    int value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < 0 ||
        value > kMaxFlateLevel) {
        return std::nullopt;
    }
    return value;
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
            if (!option->takesValue) {
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
            case OptionId::Quiet:
                setVerbosity(Verbosity::Quiet);
                break;
            case OptionId::Verbose:
                setVerbosity(Verbosity::Verbose);
                break;
            case OptionId::Title:
                info.title = value;
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
                info.creationDate = value;
                break;
            case OptionId::Level:
                options.flateLevel = parseFlateLevel(value);
                if (!options.flateLevel) {
                    fail("invalid value '" + value +
                         "' for '--level': expected a number from 0 to " +
                         std::to_string(kMaxFlateLevel));
                }
                break;
            case OptionId::Compact:
                options.compact = true;
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
        if (options.paths.empty()) {
            fail("no input files given");
        } else if (options.outputFile && options.outputDir) {
            fail("options '--output' and '--output-dir' cannot be used together");
        } else if (options.outputFile && options.paths.size() > 1) {
            fail("option '--output' needs a single input, but " +
                 std::to_string(options.paths.size()) +
                 " were given; use '--output-dir' for several");
        }
    }

    const std::vector<std::string>& args_;
    std::size_t index_ = 0;
    ParseResult result_;
};

}  // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
    return Parser(args).run();
}

unsigned effectiveJobCount(const CliOptions& options, unsigned hardwareThreads) {
    if (options.jobs != 0)
        return options.jobs;
    return std::clamp(hardwareThreads, 1u, kMaxJobs);
}

}  // namespace quorvex::cli
