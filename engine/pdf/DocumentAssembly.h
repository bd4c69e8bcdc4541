// Writes the whole PDF in one forward pass: header, information, Catalog,
// page tree, each page's objects, cross-reference table and trailer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/Conversion.h"

namespace quorvex {

class PdfOutput;
class TiffDocument;

// How the run reports back while the document is written.
struct AssemblyHooks {
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(uint32_t pagesDone, uint32_t pageCount)> onPageDone;
    // Receives one line per page that lost rows (see ConversionOutcome).
    std::vector<std::string>* warnings = nullptr;
    // Receives what was left out on purpose (see ConversionOutcome::notes).
    std::vector<std::string>* notes = nullptr;
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
    // Each page's ICC profile key (TiffDocument::profileKeys), for the whole PDF.
    virtual std::vector<uint64_t> profileKeys() const = 0;
};

// `options.threads` compress page images while the reading thread reads the
// next pages; the file is the same whatever their number.
void writeDocument(PdfOutput& out, PageSource& pages, const DocumentInfo& info,
                   const ConversionOptions& options, const AssemblyHooks& hooks);
// The usual case: every page of one TIFF.
void writeDocument(PdfOutput& out, TiffDocument& document, const DocumentInfo& info,
                   const ConversionOptions& options, const AssemblyHooks& hooks);

}  // namespace quorvex
