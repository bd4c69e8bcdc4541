// Writers of every PDF object but the page image: document information,
// Catalog, page tree, and per page its Page, content stream, ProcSet array and
// the length of its image stream. Each writes what follows the object's
// "N 0 obj" line, up to and including "endobj".
#pragma once

#include <cstdint>
#include <string>

#include "engine/Conversion.h"

namespace quorvex {

class PdfSink;
class TiffDocument;

// Fixed object layout: 1 information, 2 Catalog, 3 page tree, then five
// objects per page p starting with its Page at 4 + 5p.
namespace layout {
inline constexpr uint64_t kInfo = 1;
inline constexpr uint64_t kCatalog = 2;
inline constexpr uint64_t kPages = 3;
inline constexpr uint64_t kObjectsPerPage = 5;
inline constexpr uint64_t pageObject(uint64_t page) {
    return 4 + kObjectsPerPage * page;
}
inline constexpr uint64_t objectCount(uint64_t pages) {
    return 3 + kObjectsPerPage * pages;
}
}  // namespace layout

// File positions taken around a page's image stream data.
struct StreamMarks {
    uint64_t streamStart = 0;
    uint64_t streamEnd = 0;
};

void writeInfoObject(PdfSink& out, const DocumentInfo& info);
void writeCatalogObject(PdfSink& out, uint64_t number);
void writePagesObject(PdfSink& out, uint64_t pageCount);
void writePageObject(PdfSink& out, uint64_t number, uint64_t parent, const TiffDocument& document);
void writeContentStream(PdfSink& out, const TiffDocument& document);
void writeProcSetObject(PdfSink& out, const TiffDocument& document);
void writeLengthObject(PdfSink& out, const StreamMarks& marks);

// The PDF date of `time` in local time, "D:20070305120000+01'00'"; empty
// when the local time cannot be had.
std::string formatCreationDate(int64_t time);

// Escapes the characters a PDF literal string treats specially, and control
// characters ("\n", "\033"), so no reader sees a raw line break.
std::string escapePdfString(const std::string& text);

// A text string for the information dictionary: ASCII as an escaped literal
// "(...)"; anything else, read as UTF-8, as UTF-16BE with a byte-order mark
// in hex "<FEFF...>", which every reader shows in any script.
std::string pdfTextString(const std::string& text);

}  // namespace quorvex
