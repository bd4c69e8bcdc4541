// Writes the whole PDF in one forward pass: header, information, Catalog,
// page tree, each page's objects, cross-reference table and trailer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/Conversion.h"
#include "engine/pdf/PageSource.h"

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

// `options.threads` compress page images while the reading thread reads the
// next pages; the file is the same whatever their number.
void writeDocument(PdfOutput& out, PageSource& pages, const DocumentInfo& info,
                   const ConversionOptions& options, const AssemblyHooks& hooks);
// The usual case: every page of one TIFF.
void writeDocument(PdfOutput& out, TiffDocument& document, const DocumentInfo& info,
                   const ConversionOptions& options, const AssemblyHooks& hooks);

}  // namespace quorvex
