// Writes the whole PDF in one forward pass: header, information, Catalog,
// page tree, five objects per page, cross-reference table and trailer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/Conversion.h"

namespace quorvex {

class PdfOutput;
class TiffDocument;

// File positions of the numbered objects of one document, in order.
class PdfObjectTable {
  public:
    explicit PdfObjectTable(uint64_t expectedObjects) { positions_.reserve(expectedObjects); }

    // Records where object `number` begins. Numbers come from the fixed
    // layout (DocumentObjects.h) and objects are written in their order; a
    // number out of turn is a fault in the writer, not in the input.
    void place(uint64_t number, uint64_t position) {
        if (number != positions_.size() + 1)
            throw std::logic_error("PDF object " + std::to_string(number) + " written out of turn");
        positions_.push_back(position);
    }
    uint64_t count() const { return positions_.size(); }
    uint64_t position(uint64_t number) const { return positions_.at(number - 1); }

  private:
    std::vector<uint64_t> positions_;
};

struct AssemblyHooks {
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(uint32_t pagesDone, uint32_t pageCount)> onPageDone;
    // Threads that compress page images while the reading thread reads the
    // next pages; 1 compresses on the reading thread itself, 0 is one per
    // processor. The file is the same whatever the number.
    unsigned threads = 1;
    // Receives one line per page that lost rows (see ConversionOutcome).
    std::vector<std::string>* warnings = nullptr;
    // Flate level of the image streams (libdeflate's 0-12).
    int flateLevel = kDefaultFlateLevel;
    // Carry JPEG and bilevel pages in their compact forms (see ConversionRequest).
    bool compact = false;
};

// The pages of one PDF: those of one TIFF, or of several one after another.
class PageSource {
  public:
    virtual ~PageSource() = default;
    virtual uint32_t pageCount() const = 0;
    // Selects page `page` (counted across the whole PDF) and returns the
    // document it is selected in. Throws when it cannot be read.
    virtual TiffDocument& selectPage(uint32_t page) = 0;
    // How damage names the page: "page 3", or in a merge the input's path
    // and its own page number.
    virtual std::string pageName(uint32_t page) const { return "page " + std::to_string(page + 1); }
};

void writeDocument(PdfOutput& out, PageSource& pages, const DocumentInfo& info,
                   const AssemblyHooks& hooks);
// The usual case: every page of one TIFF.
void writeDocument(PdfOutput& out, TiffDocument& document, const DocumentInfo& info,
                   const AssemblyHooks& hooks);

}  // namespace quorvex
