#include "hostile/DamageSuite.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/TestSupport.h"

namespace hostile {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kProblemsShown = 25;

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string safeFileName(std::string name) {
    for (char& c : name) {
        if (c == '/' || c == ' ')
            c = '_';
    }
    return name;
}

}  // namespace

void DamageRun::problem(const DamagedFile& file, const std::string& what) {
    problems_.push_back(file.name + ": " + what);
    keepForTriage(file);
}

// QUORVEX_HOSTILE_KEEP=<folder> keeps the inputs of failing cases there.
void DamageRun::keepForTriage(const DamagedFile& file) const {
    const char* keep = std::getenv("QUORVEX_HOSTILE_KEEP");
    if (keep == nullptr || *keep == '\0')
        return;
    std::error_code ignored;
    fs::create_directories(keep, ignored);
    writeBytes(fs::path(keep) / safeFileName(file.name), file.bytes);
}

void DamageRun::run(const DamagedFile& file, const PdfCheck& check) {
    const fs::path folder = folder_ / ("case-" + std::to_string(cases_++));
    fs::create_directories(folder);
    const fs::path input = folder / "in.tif";
    const fs::path output = folder / "out.pdf";
    writeBytes(input, file.bytes);

    quorvex::ConversionRequest request;
    request.inputPath = input.string();
    request.outputPath = output.string();
    request.info.creationDate = "D:20240101000000";
    const IsolatedResult result = convertInChild(request, limits_);

    if (result.seconds > slowestSeconds_) {
        slowestSeconds_ = result.seconds;
        slowestCase_ = file.name;
    }
    if (result.peakResidentKiB > largestKiB_) {
        largestKiB_ = result.peakResidentKiB;
        largestCase_ = file.name;
    }
    const std::set<std::string> left = namesIn(folder);
    std::string listing;
    for (const std::string& name : left)
        listing += " " + name;

    if (!result.finished()) {
        problem(file, result.describe());
    } else if (result.converted()) {
        ++converted_;
        if (left != std::set<std::string>{"in.tif", "out.pdf"}) {
            problem(file, "converted, but the folder holds" + listing);
        } else if (const support::QpdfCheck qpdf = support::qpdfCheck(output); !qpdf.ok) {
            problem(file, "converted, but qpdf --check says: " + qpdf.output.substr(0, 400));
        } else if (check) {
            if (const std::string wrong = check(file, output); !wrong.empty())
                problem(file, wrong);
        }
    } else {
        if (left != std::set<std::string>{"in.tif"}) {
            problem(file, result.describe() + ", and the folder still holds" + listing);
        } else if (result.message.empty()) {
            problem(file, result.describe() + " without a message");
        }
    }
    fs::remove_all(folder);
}

std::string DamageRun::summary() const {
    std::ostringstream text;
    text << cases_ << " cases, " << converted_ << " converted, " << cases_ - converted_
         << " refused; slowest " << slowestSeconds_ << " s (" << slowestCase_ << "), largest "
         << largestKiB_ / 1024 << " MiB (" << largestCase_ << ")";
    return text.str();
}

::testing::AssertionResult noProblems(const DamageRun& run) {
    if (run.problems().empty())
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << run.problems().size() << " of " << run.cases() << " cases went wrong:";
    for (std::size_t i = 0; i < run.problems().size() && i < kProblemsShown; ++i) {
        failure << "\n  " << run.problems()[i];
    }
    if (run.problems().size() > kProblemsShown)
        failure << "\n  ...";
    return failure;
}

}  // namespace hostile
