#include "engine/pdf/DocumentObjects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "engine/EngineError.h"
#include "engine/pdf/ObjectNumbers.h"
#include "engine/pdf/PdfSink.h"
#include "engine/plan/PageGeometry.h"
#include "engine/platform/Platform.h"

namespace quorvex {
namespace {

std::string contentText(const PageGeometry& geometry, uint32_t imageName) {
    char name[40];
    std::snprintf(name, sizeof name, "/Im%llu Do\r", pdfNumber(imageName));
    return "q\r" + geometry.matrixText() + name + "Q\r";
}

// A code point's continuation bytes, each carrying six bits.
bool readContinuation(const std::string& text, std::size_t& at, int count, char32_t& point) {
    for (int i = 0; i < count; ++i, ++at) {
        if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            return false;
        point = (point << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
    }
    return true;
}

// Code points of UTF-8 text; a byte that starts no valid sequence (Latin-1
// text, a cut sequence, a surrogate, an overlong form) becomes U+FFFD.
std::u32string decodeUtf8(const std::string& text) {
    constexpr char32_t kReplacement = 0xFFFD;
    std::u32string points;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at++]);
        int count = 0;
        char32_t point = lead;
        char32_t lowest = 0;
        if (lead >= 0xF0 && lead < 0xF5) {
            count = 3, point = lead & 0x07, lowest = 0x10000;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            count = 2, point = lead & 0x0F, lowest = 0x800;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            count = 1, point = lead & 0x1F, lowest = 0x80;
        } else if (lead >= 0x80) {
            points += kReplacement;
            continue;
        }
        const std::size_t start = at;
        if (!readContinuation(text, at, count, point) || point < lowest || point > 0x10FFFF ||
            (point >= 0xD800 && point <= 0xDFFF)) {
            at = start;
            point = kReplacement;
        }
        points += point;
    }
    return points;
}

}  // namespace

std::string formatCreationDate(int64_t time) {
    std::tm local{};
    long offsetSeconds = 0;
    if (!platform::localTimeOf(time, local, offsetSeconds))
        return {};
    const long offsetMinutes = offsetSeconds / 60;
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "D:%04d%02d%02d%02d%02d%02d%c%02ld'%02ld'",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offsetMinutes < 0 ? '-' : '+', absolute / 60,
                  absolute % 60);
    return text;
}

std::string escapePdfString(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '(' || c == ')' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", byte);
            escaped += octal;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string pdfTextString(const std::string& text) {
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return "(" + escapePdfString(text) + ")";
    std::string hex = "<FEFF";
    const auto unit = [&hex](uint32_t value) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(value));
        hex += digits;
    };
    for (const char32_t point : decodeUtf8(text)) {
        if (point < 0x10000) {
            unit(point);
        } else {
            unit(0xD800 + ((point - 0x10000) >> 10));
            unit(0xDC00 + ((point - 0x10000) & 0x3FF));
        }
    }
    return hex + ">";
}

void writeInfoObject(PdfSink& out, const DocumentInfo& info, bool withModDate) {
    guardWriter(LegacyReason::InfoObject, [&] {
        out.write("<<\r");
        const std::string date =
            info.creationDate ? *info.creationDate : formatCreationDate(std::time(nullptr));
        const auto line = [&](const char* key, const std::string& value) {
            out.write(std::string("/") + key + " " + pdfTextString(value) + "\r");
        };
        line("Creator", info.creator);
        line("CreationDate", date);
        if (withModDate)
            line("ModDate", date);
        line("Author", info.author);
        line("Producer", info.producer);
        line("Title", info.title);
        line("Subject", info.subject);
        line("Keywords", info.keywords);
        out.write(">>\r");
        out.write("endobj\r");
    });
}

void writeCatalogObject(PdfSink& out, uint64_t pagesNumber, const std::string& extraEntries) {
    guardWriter(LegacyReason::CatalogObject, [&] {
        out.write("<<\r");
        out.write("/Type /Catalog\r");
        out.print("/Pages %llu 0 R\r", pdfNumber(pagesNumber));
        out.write(extraEntries);
        out.write(">>\r");
        out.write("endobj\r");
    });
}

void writePagesObject(PdfSink& out, const std::vector<PageObjects>& pages) {
    guardWriter(LegacyReason::PagesObject, [&] {
        out.write("<<\r");
        out.write("/Type /Pages\r");
        std::string kids = "/Kids [";
        for (const PageObjects& page : pages)
            kids += std::to_string(page.page) + " 0 R ";
        kids += "]\r";
        out.write(kids);
        out.print("/Count %llu\r", pdfNumber(pages.size()));
        // The page tree has always carried an empty MediaBox; every page
        // has its own, which is what readers use.
        out.print("/MediaBox [0 0 %ld %ld]\r", 0L, 0L);
        out.write(">>\r");
        out.write("endobj\r");
    });
}

void writePageObject(PdfSink& out, const PageObjects& objects, uint64_t parent,
                     const PageGeometry& page, uint32_t imageName) {
    guardWriter(LegacyReason::PageObject, [&] {
        out.write("<<\r");
        out.write("/Type /Page\r");
        out.print("/Parent %llu 0 R\r", pdfNumber(parent));
        out.print("/MediaBox [0 0 %ld %ld]\r", static_cast<long>(page.width),
                  static_cast<long>(page.height));
        out.write("/Resources\r<<\r");
        out.print("/XObject << /Im%llu %llu 0 R >>\r", pdfNumber(imageName),
                  pdfNumber(objects.image));
        out.print("/ProcSet %llu 0 R \r", pdfNumber(objects.procSet));
        out.write(">>\r");
        out.print("/Contents [%llu 0 R]\r>>\r", pdfNumber(objects.contents));
        out.write("endobj\r");
    });
}

void writeContentStream(PdfSink& out, const PageGeometry& geometry, uint32_t imageName) {
    guardWriter(LegacyReason::ContentStream, [&] {
        const std::string text = contentText(geometry, imageName);
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

void writeProcSetObject(PdfSink& out, ProcSet procSet) {
    guardWriter(LegacyReason::ProcSetObject, [&] {
        switch (procSet) {
            case ProcSet::ImageC:
                out.write("[ /PDF /ImageC ]\r");
                break;
            case ProcSet::ImageB:
                out.write("[ /PDF /ImageB ]\r");
                break;
            case ProcSet::ImageI:
                out.write("[ /PDF /ImageI ]\r");
                break;
        }
        out.write("endobj\r");
    });
}

void writeLengthObject(PdfSink& out, const StreamMarks& marks) {
    out.print("%llu\r", pdfNumber(marks.streamEnd - marks.streamStart));
    out.write("endobj\r");
}

}  // namespace quorvex
