// Writers of every PDF object but the page image: document information,
// Catalog, page tree, and per page its Page, content stream, ProcSet array and
// the length of its image stream. Each writes what follows the object's
// "N 0 obj" line, up to and including "endobj".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Conversion.h"
#include "engine/plan/ImagePlan.h"

namespace quorvex {

class PdfSink;
struct PageGeometry;
struct PageObjects;

// File positions taken around a page's image stream data.
struct StreamMarks {
    uint64_t streamStart = 0;
    uint64_t streamEnd = 0;
};

// `withModDate`: the creation date is repeated as the modification date, as
// archival files' metadata names both.
void writeInfoObject(PdfSink& out, const DocumentInfo& info, bool withModDate = false);
// `extraEntries`: further lines of the dictionary (archival files' metadata).
void writeCatalogObject(PdfSink& out, uint64_t pagesNumber, const std::string& extraEntries = {});
void writePagesObject(PdfSink& out, const std::vector<PageObjects>& pages);
// `imageName` names the page's image in its resources (/Im0, /Im1, ...).
void writePageObject(PdfSink& out, const PageObjects& objects, uint64_t parent,
                     const PageGeometry& geometry, uint32_t imageName);
void writeContentStream(PdfSink& out, const PageGeometry& geometry, uint32_t imageName);
void writeProcSetObject(PdfSink& out, ProcSet procSet);
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
