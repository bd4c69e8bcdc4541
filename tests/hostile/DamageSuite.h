// Runs damaged TIFF files through the converter, each in its own child
// process, and collects every case that does not end as a clean failure or a
// PDF that qpdf accepts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "hostile/IsolatedConversion.h"
#include "hostile/TiffPatch.h"

namespace hostile {

struct DamagedFile {
    std::string name;  // says what was done to which file, e.g. "grey8-lzw.tif/bits-64"
    std::string bytes;
};

// Extra check on a case that converted, given the finished PDF; returns an
// empty string when the PDF is acceptable, else what is wrong with it.
using PdfCheck = std::function<std::string(const DamagedFile&, const std::filesystem::path& pdf)>;

class DamageRun {
  public:
    explicit DamageRun(std::filesystem::path folder, ChildLimits limits = {})
        : folder_(std::move(folder)), limits_(limits) {}

    // Converts the file in a fresh folder and records what went wrong, if
    // anything: a crash, a hang, a failure that leaves files behind or says
    // nothing, a success whose PDF qpdf rejects or `check` refuses.
    void run(const DamagedFile& file, const PdfCheck& check = {});

    std::size_t cases() const { return cases_; }
    std::size_t converted() const { return converted_; }
    const std::vector<std::string>& problems() const { return problems_; }
    // One line: how many cases, converted, refused, the slowest and the
    // largest child.
    std::string summary() const;

  private:
    void problem(const DamagedFile& file, const std::string& what);
    void keepForTriage(const DamagedFile& file) const;

    std::filesystem::path folder_;
    ChildLimits limits_;
    std::size_t cases_ = 0;
    std::size_t converted_ = 0;
    double slowestSeconds_ = 0;
    std::string slowestCase_;
    uint64_t largestKiB_ = 0;
    std::string largestCase_;
    std::vector<std::string> problems_;
};

// For EXPECT_TRUE: lists the first problems of a run.
::testing::AssertionResult noProblems(const DamageRun& run);

}  // namespace hostile
