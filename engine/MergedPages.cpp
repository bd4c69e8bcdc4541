#include "engine/MergedPages.h"

#include <algorithm>
#include <limits>

#include "engine/EngineError.h"

namespace quorvex {

MergedPages::MergedPages(TiffDocument& first, std::string firstPath,
                         std::vector<std::string> others,
                         const std::vector<uint32_t>& otherPageCounts, Opener opener)
    : first_(first),
      firstPath_(std::move(firstPath)),
      others_(std::move(others)),
      opener_(std::move(opener)),
      profileKeys_(first.profileKeys()) {
    uint64_t total = static_cast<uint64_t>(std::max(first.getPageCount(), 0));
    firstPages_.push_back(0);
    for (const uint32_t pages : otherPageCounts) {
        firstPages_.push_back(static_cast<uint32_t>(total));
        total += pages;
        if (total > std::numeric_limits<uint32_t>::max())
            throw ConversionError::tooLarge("too many pages for one PDF", LegacyReason::Allocation);
    }
    total_ = static_cast<uint32_t>(total);
}

TiffDocument& MergedPages::documentOf(std::size_t input) {
    if (input == 0) {
        // Back to the first file after the others (the standard profile
        // plans every page before writing): it is opened again.
        if (openInput_ != 0) {
            other_.close();
            opener_(firstPath_, first_);
            openInput_ = 0;
        }
        return first_;
    }
    if (input != openInput_) {
        // The previous file is done with: its descriptor goes before the next opens.
        first_.close();
        other_.close();
        opener_(others_[input - 1], other_);
        openInput_ = input;
    }
    return other_;
}

std::size_t MergedPages::inputOf(uint32_t page) const {
    const auto next = std::upper_bound(firstPages_.begin(), firstPages_.end(), page);
    return static_cast<std::size_t>(next - firstPages_.begin() - 1);
}

std::string MergedPages::pageName(uint32_t page) const {
    const std::size_t input = inputOf(page);
    const std::string& path = input == 0 ? firstPath_ : others_[input - 1];
    return path + ": page " + std::to_string(page - firstPages_[input] + 1);
}

TiffDocument& MergedPages::selectPage(uint32_t page) {
    const std::size_t input = inputOf(page);
    TiffDocument& document = documentOf(input);
    const auto local = static_cast<int32_t>(page - firstPages_[input]);
    if (document.getCurrentPage() != local && !document.selectPage(local)) {
        const std::string name = input == 0 ? "" : others_[input - 1] + ": ";
        throw ConversionError::unreadable(name + "page " + std::to_string(local + 1) +
                                          " cannot be read");
    }
    return document;
}

}  // namespace quorvex
