#include "engine/pdf/DocumentObjects.h"

#include <cmath>
#include <ctime>

#include "engine/EngineError.h"
#include "engine/pdf/PageGeometry.h"
#include "engine/pdf/PdfSink.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {
namespace {

unsigned long asLong(uint64_t value) {
    return static_cast<unsigned long>(value);
}

std::string contentText(const TiffDocument& document) {
    char name[40];
    std::snprintf(name, sizeof name, "/Im%lu Do\r",
                  static_cast<unsigned long>(document.getCurrentPage()));
    return "q\r" + PageGeometry::of(document.page()).matrixText() + name + "Q\r";
}

}  // namespace

std::string formatCreationDate(int64_t time) {
    static constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    const std::time_t seconds = static_cast<std::time_t>(time);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr || local.tm_wday < 0 || local.tm_wday > 6 ||
        local.tm_mon < 0 || local.tm_mon > 11) {
        return {};
    }
    char text[128];
    std::snprintf(text, sizeof text, "%s, %s %02d, %04d", kDays[local.tm_wday],
                  kMonths[local.tm_mon], local.tm_mday, local.tm_year + 1900);
    return text;
}

std::string escapePdfString(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

void writeInfoObject(PdfSink& out, const DocumentInfo& info) {
    guardWriter(Result::InfoObject, [&] {
        out.write("<<\r");
        const std::string date =
            info.creationDate ? *info.creationDate : formatCreationDate(std::time(nullptr));
        const auto line = [&](const char* key, const std::string& value) {
            out.write(std::string("/") + key + " (" + escapePdfString(value) + ")\r");
        };
        line("Creator", info.creator);
        line("CreationDate", date);
        line("Author", info.author);
        line("Producer", info.producer);
        line("Title", info.title);
        line("Subject", info.subject);
        line("Keywords", info.keywords);
        out.write(">>\r");
        out.write("endobj\r");
    });
}

void writeCatalogObject(PdfSink& out, uint64_t number) {
    guardWriter(Result::CatalogObject, [&] {
        out.write("<<\r");
        out.write("/Type /Catalog\r");
        out.print("/Pages %lu 0 R\r", asLong(number + 1));
        out.write(">>\r");
        out.write("endobj\r");
    });
}

void writePagesObject(PdfSink& out, uint64_t number, const TiffDocument& document) {
    guardWriter(Result::PagesObject, [&] {
        out.write("<<\r");
        out.write("/Type /Pages\r");
        const auto pages = static_cast<uint64_t>(std::max(document.getPageCount(), 1));
        std::string kids = "/Kids [" + std::to_string(number + 1) + " 0 R ";
        for (uint64_t k = 1; k < pages; ++k) {
            kids += std::to_string(number + 1 + layout::kObjectsPerPage * k) + " 0 R ";
        }
        kids += "]\r";
        out.write(kids);
        out.print("/Count %lu\r", asLong(pages));
        // The page tree has always carried an empty MediaBox; every page
        // has its own, which is what readers use.
        out.print("/MediaBox [0 0 %ld %ld]\r", 0L, 0L);
        out.write(">>\r");
        out.write("endobj\r");
    });
}

void writePageObject(PdfSink& out, uint64_t number, uint64_t parent, const TiffDocument& document) {
    guardWriter(Result::PageObject, [&] {
        const PageGeometry page = PageGeometry::of(document.page());
        out.write("<<\r");
        out.write("/Type /Page\r");
        out.print("/Parent %lu 0 R\r", asLong(parent));
        out.print("/MediaBox [0 0 %ld %ld]\r", static_cast<long>(page.width),
                  static_cast<long>(page.height));
        out.write("/Resources\r<<\r");
        out.print("/XObject << /Im%lu %lu 0 R >>\r",
                  static_cast<unsigned long>(document.getCurrentPage()), asLong(number + 3));
        out.print("/ProcSet %lu 0 R \r", asLong(number + 2));
        out.write(">>\r");
        out.print("/Contents [%lu 0 R]\r>>\r", asLong(number + 1));
        out.write("endobj\r");
    });
}

void writeContentStream(PdfSink& out, const TiffDocument& document) {
    guardWriter(Result::ContentStream, [&] {
        const std::string text = contentText(document);
        out.write("<<\r");
        // The final carriage return ends the line before "endstream".
        out.print("/Length %i\r", static_cast<int>(text.size()) - 1);
        out.write(">>\r");
        out.write("stream\r\n");
        out.write(text);
        out.write("endstream\r");
        out.write("endobj\r");
    });
}

void writeProcSetObject(PdfSink& out, const TiffDocument& document) {
    guardWriter(Result::ProcSetObject, [&] {
        if (document.page().isFullColor()) {
            out.write("[ /PDF /ImageC ]\r");
        } else if (document.page().isFax()) {
            out.write("[ /PDF /ImageB ]\r");
        } else {
            out.write("[ /PDF /ImageI ]\r");
        }
        out.write("endobj\r");
    });
}

void writeLengthObject(PdfSink& out, const StreamMarks& marks) {
    out.print("%lu\r", asLong(marks.streamEnd - marks.streamStart));
    out.write("endobj\r");
}

}  // namespace quorvex
