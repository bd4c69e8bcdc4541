#include "engine/read/PageDamage.h"

#include "engine/read/TiffHandle.h"

namespace quorvex {
namespace {

constexpr std::size_t kMaxRangesShown = 4;

std::string rowsText(uint32_t first, uint32_t last) {
    if (first == last)
        return std::to_string(first + 1);
    return std::to_string(first + 1) + "\u2013" + std::to_string(last + 1);
}

}  // namespace

std::size_t PageDamage::mark() const {
    return diagnostics_.count();
}

void PageDamage::check(std::size_t mark, bool failed, uint32_t firstRow, uint32_t lastRow) {
    const std::string said = diagnostics_.firstLossSince(mark);
    if (failed || !said.empty())
        lose(firstRow, lastRow, said.empty() ? "cannot be decoded" : said);
}

void PageDamage::lose(uint32_t firstRow, uint32_t lastRow, const std::string& why) {
    if (why_.empty())
        why_ = why;
    if (!ranges_.empty() && firstRow <= ranges_.back().second + 1 &&
        firstRow >= ranges_.back().first) {
        ranges_.back().second = std::max(ranges_.back().second, lastRow);
        return;
    }
    ranges_.emplace_back(firstRow, lastRow);
}

std::string PageDamage::describe(uint32_t page) const {
    const bool several = ranges_.size() > 1 || ranges_.front().first != ranges_.front().second;
    std::string text = "page " + std::to_string(page) + (several ? ", rows " : ", row ");
    for (std::size_t i = 0; i < ranges_.size() && i < kMaxRangesShown; ++i) {
        if (i > 0)
            text += ", ";
        text += rowsText(ranges_[i].first, ranges_[i].second);
    }
    if (ranges_.size() > kMaxRangesShown)
        text += " and " + std::to_string(ranges_.size() - kMaxRangesShown) + " more ranges";
    return text + " unreadable (" + why_ + ")";
}

}  // namespace quorvex
