// Object numbers handed out in the order the objects are written, so the
// cross-reference table lists them in file order and no writer computes
// another's number. A document's numbers are all handed out before its first
// object is written: the page tree names every page up front.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvex {

// The objects of one page, in the order they are written.
struct PageObjects {
    uint64_t page = 0;
    uint64_t contents = 0;
    uint64_t procSet = 0;
    uint64_t image = 0;
    uint64_t length = 0;  // the image stream's length, known once it is written
    // Objects a page may need besides (a colour profile, ...), written after
    // the length in this order.
    std::vector<uint64_t> extras;
};

struct DocumentObjectNumbers {
    uint64_t info = 0;
    uint64_t catalog = 0;
    uint64_t pages = 0;
    std::vector<PageObjects> pageObjects;
    uint64_t count = 0;  // the highest number handed out

    // Information, Catalog, page tree, then each page's objects, each page
    // with `extrasOf(page)` extra objects. Without extras this is 1, 2, 3 and
    // five a page from 4 on, the layout these files have always had.
    static DocumentObjectNumbers allocate(uint32_t pageCount,
                                          const std::function<uint32_t(uint32_t)>& extrasOf = {});
};

// File positions of the numbered objects of one document.
class PdfObjectTable {
  public:
    explicit PdfObjectTable(uint64_t objectCount) : positions_(objectCount, kUnplaced) {}

    // Records where object `number` begins. Objects are written in the order
    // their numbers were handed out; one out of turn is a fault in the
    // writer, not in the input.
    void place(uint64_t number, uint64_t position) {
        if (number != placed_ + 1 || number > positions_.size())
            throw std::logic_error("PDF object " + std::to_string(number) + " written out of turn");
        positions_[placed_++] = position;
    }
    uint64_t count() const { return positions_.size(); }
    // Every object handed a number has been written.
    bool complete() const { return placed_ == positions_.size(); }
    uint64_t position(uint64_t number) const { return positions_.at(number - 1); }

  private:
    static constexpr uint64_t kUnplaced = ~uint64_t{0};
    std::vector<uint64_t> positions_;
    uint64_t placed_ = 0;
};

}  // namespace quorvex
