#include "engine/read/PageDamage.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "engine/read/TiffHandle.h"

namespace quorvex {
namespace {

constexpr std::size_t kMaxRangesShown = 4;

std::string rowsText(uint32_t first, uint32_t last) {
    if (first == last)
        return std::to_string(first + 1);
    return std::to_string(first + 1) + "\u2013" + std::to_string(last + 1);
}

// The line a fax decoder's message names ("Bad code word at line 56 of strip
// 0 (x 120)"), counted from the top of its strip or tile.
std::optional<uint32_t> namedLine(const std::string& message) {
    constexpr std::string_view kAtLine = " at line ";
    const std::size_t at = message.find(kAtLine);
    if (at == std::string::npos)
        return std::nullopt;
    const char* first = message.data() + at + kAtLine.size();
    uint32_t line = 0;
    const auto [end, error] = std::from_chars(first, message.data() + message.size(), line);
    if (error != std::errc() || end == first)
        return std::nullopt;
    return line;
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

void PageDamage::checkBand(std::size_t mark, uint32_t top, uint32_t intact, uint32_t rows) {
    if (rows == 0)
        return;
    const std::string said = diagnostics_.firstLossSince(mark);
    if (intact < rows)
        lose(top + intact, top + rows - 1, said.empty() ? "cannot be decoded" : said);
    else if (!said.empty())
        lose(top, top + rows - 1, said);
}

void PageDamage::checkFaxBand(std::size_t mark, uint32_t top, uint32_t intact, uint32_t rows) {
    if (rows == 0)
        return;
    const std::vector<std::string> losses = diagnostics_.lossesSince(mark);
    std::optional<uint32_t> lastNamed;
    for (const std::string& message : losses) {
        const std::optional<uint32_t> line = namedLine(message);
        if (!line)
            continue;
        const uint32_t row = top + std::min(*line, rows - 1);
        lose(row, row, message);
        lastNamed = std::max(lastNamed.value_or(row), row);
    }
    if (intact < rows) {
        const std::string why = losses.empty() ? "cannot be decoded" : losses.front();
        lose(lastNamed.value_or(top + intact), top + rows - 1, why);
    } else if (!lastNamed && !losses.empty()) {
        lose(top, top + rows - 1, losses.front());
    }
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

std::string PageDamage::describe(const std::string& page) const {
    const bool several = ranges_.size() > 1 || ranges_.front().first != ranges_.front().second;
    std::string text = page + (several ? ", rows " : ", row ");
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
