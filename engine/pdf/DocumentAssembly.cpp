#include "engine/pdf/DocumentAssembly.h"

#include <string>

#include "engine/EngineError.h"
#include "engine/pdf/DocumentObjects.h"
#include "engine/pdf/ImageXObject.h"
#include "engine/pdf/PdfOutput.h"
#include "engine/pdf/SampleRoutes.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {
namespace {

constexpr char kHeader[] = "%PDF-1.2z\r";

unsigned long asLong(uint64_t value) {
    return static_cast<unsigned long>(value);
}

uint64_t beginObject(PdfOutput& out, PdfObjectTable& table) {
    const uint64_t number = table.begin(out.position());
    out.print("%lu 0 obj\r", asLong(number));
    return number;
}

void writePage(PdfOutput& out, PdfObjectTable& table, TiffDocument& document,
               const std::atomic<bool>* cancel) {
    StreamMarks marks;
    const uint64_t page = beginObject(out, table);
    writePageObject(out, page, layout::kPages, document);
    writeContentStream(out, beginObject(out, table), document);
    writeProcSetObject(out, beginObject(out, table), document);
    writeImageXObject(out, beginObject(out, table), document, marks, cancel);
    beginObject(out, table);
    writeLengthObject(out, marks);
}

void writeCrossReference(PdfOutput& out, const PdfObjectTable& table) {
    const uint64_t xref = out.position();
    out.write("xref\r");
    out.print("0 %lu\r", asLong(table.count() + 1));
    out.write("0000000000 65535 f \r");
    std::string entries;
    entries.reserve(table.count() * 20);
    for (uint64_t number = 1; number <= table.count(); ++number) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010lu 00000 n \r", asLong(table.position(number)));
        entries += entry;
    }
    out.write(entries);
    out.write("trailer\r");
    out.write("<<\r");
    out.print("/Size %lu\r", asLong(table.count() + 1));
    out.print("/Root %lu 0 R\r", asLong(layout::kCatalog));
    out.print("/Info %lu 0 R\r", asLong(layout::kInfo));
    out.write(">>\r");
    out.write("startxref\r");
    out.print("%lu\r", asLong(xref));
    out.write("%%EOF\r");
}

}  // namespace

void writeDocument(PdfOutput& out, TiffDocument& document, const DocumentInfo& info,
                   const AssemblyHooks& hooks) {
    const auto pageCount = static_cast<uint32_t>(document.getPageCount());
    PdfObjectTable table(layout::objectCount(pageCount));
    out.write(kHeader, sizeof kHeader - 1);

    beginObject(out, table);
    writeInfoObject(out, info);
    writeCatalogObject(out, beginObject(out, table));
    writePagesObject(out, beginObject(out, table), document);

    for (uint32_t page = 0; page < pageCount; ++page) {
        throwIfCancelled(hooks.cancel);
        if (document.getCurrentPage() != static_cast<int32_t>(page) &&
            !document.selectPage(static_cast<int32_t>(page))) {
            throw EngineFailure(kImageObjectFailure,
                                "page " + std::to_string(page + 1) + " cannot be read");
        }
        writePage(out, table, document, hooks.cancel);
        if (hooks.onPageDone)
            hooks.onPageDone(page + 1, pageCount);
    }
    writeCrossReference(out, table);
}

}  // namespace quorvex
