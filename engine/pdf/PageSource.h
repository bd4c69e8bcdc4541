// The pages a PDF is made of, as the writers of the document see them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex {

class TiffDocument;

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
    // Each page's ICC profile key (TiffDocument::profileKeys), for the whole PDF.
    virtual std::vector<uint64_t> profileKeys() const = 0;
};

}  // namespace quorvex
