#include "PdfBytes.h"

#include <zlib.h>

#include <stdexcept>

#include "support/TestSupport.h"

namespace pdfbytes {
namespace {

constexpr const char* kStreamKeyword = "stream\r\n";

uint64_t parseNumber(const std::string& text, std::size_t at, const std::string& what) {
    std::size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    if (end == at)
        throw std::runtime_error("no number for " + what);
    return std::stoull(text.substr(at, end - at));
}

}  // namespace

PdfBytes::PdfBytes(std::string bytes) : bytes_(std::move(bytes)) {
    const std::size_t startxref = bytes_.rfind("startxref");
    if (startxref == std::string::npos)
        throw std::runtime_error("PDF has no startxref");
    std::size_t cursor = bytes_.find_first_of("0123456789", startxref);
    const uint64_t xref = parseNumber(bytes_, cursor, "startxref");
    if (bytes_.compare(xref, 5, "xref\r") != 0) {
        throw std::runtime_error("startxref does not point at the xref table");
    }
    cursor = xref + 5;
    const uint64_t first = parseNumber(bytes_, cursor, "xref subsection start");
    cursor = bytes_.find(' ', cursor) + 1;
    const uint64_t count = parseNumber(bytes_, cursor, "xref subsection count");
    cursor = bytes_.find('\r', cursor) + 1;
    for (uint64_t i = 0; i < count; ++i, cursor += 20) {
        if (cursor + 20 > bytes_.size())
            throw std::runtime_error("xref table is cut short");
        if (bytes_[cursor + 17] == 'n') {
            offsets_[first + i] = parseNumber(bytes_, cursor, "xref entry");
        }
    }
}

bool PdfBytes::isImage(uint64_t number) const {
    const std::string text = objectText(number);
    const std::size_t stream = text.find(kStreamKeyword);
    return text.substr(0, stream).find("/Subtype /Image") != std::string::npos;
}

uint64_t PdfBytes::imageObject(uint64_t page) const {
    uint64_t seen = 0;
    for (const auto& [number, offset] : offsets_) {
        if (isImage(number) && seen++ == page)
            return number;
    }
    throw std::runtime_error("no image for page " + std::to_string(page));
}

uint64_t PdfBytes::lengthObject(uint64_t page) const {
    const std::string length = lineStartingWith(dictionary(imageObject(page)), "/Length ");
    return parseNumber(length, 8, "/Length reference");
}

PdfBytes PdfBytes::load(const std::filesystem::path& pdf) {
    return PdfBytes(support::readFile(pdf));
}

std::string PdfBytes::objectText(uint64_t number) const {
    const auto found = offsets_.find(number);
    if (found == offsets_.end()) {
        throw std::runtime_error("no object " + std::to_string(number) + " in the xref table");
    }
    const std::string header = std::to_string(number) + " 0 obj\r";
    if (bytes_.compare(found->second, header.size(), header) != 0) {
        throw std::runtime_error("object " + std::to_string(number) + " is not at its offset");
    }
    // A stream's data may hold "endobj" by chance: skip over the data first.
    std::size_t searchFrom = found->second;
    const std::size_t stream = bytes_.find(kStreamKeyword, searchFrom);
    const std::size_t firstEnd = bytes_.find("endobj\r", searchFrom);
    if (stream != std::string::npos && stream < firstEnd) {
        searchFrom = bytes_.find("\rendstream\r", stream);
    }
    const std::size_t end = bytes_.find("endobj\r", searchFrom);
    if (end == std::string::npos) {
        throw std::runtime_error("object " + std::to_string(number) + " has no endobj");
    }
    return bytes_.substr(found->second, end + 7 - found->second);
}

std::string PdfBytes::dictionary(uint64_t number) const {
    const std::string text = objectText(number);
    const std::size_t open = text.find("<<");
    if (open == std::string::npos) {
        throw std::runtime_error("object " + std::to_string(number) + " has no dictionary");
    }
    std::size_t close = text.find(kStreamKeyword, open);
    if (close == std::string::npos)
        close = text.rfind("endobj");
    return text.substr(open, close - open);
}

std::string PdfBytes::streamData(uint64_t number) const {
    const std::string dict = dictionary(number);
    const std::string lengthLine = lineStartingWith(dict, "/Length ");
    if (lengthLine.empty()) {
        throw std::runtime_error("object " + std::to_string(number) + " has no /Length");
    }
    const uint64_t value = parseNumber(lengthLine, 8, "/Length");
    const bool indirect = lengthLine.find(" 0 R") != std::string::npos;
    const uint64_t length = indirect ? integerObject(value) : value;

    const std::size_t start = bytes_.find(kStreamKeyword, offsets_.at(number)) + 8;
    if (start + length > bytes_.size() || bytes_.compare(start + length, 10, "\rendstream") != 0) {
        throw std::runtime_error("object " + std::to_string(number) + ": " +
                                 std::to_string(length) +
                                 " data bytes are not followed by \\rendstream");
    }
    return bytes_.substr(start, length);
}

uint64_t PdfBytes::integerObject(uint64_t number) const {
    const std::string text = objectText(number);
    return parseNumber(text, text.find('\r') + 1, "object " + std::to_string(number));
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\r', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        end += end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string lineStartingWith(const std::string& text, const std::string& key) {
    for (const std::string& line : splitLines(text)) {
        if (line.rfind(key, 0) == 0)
            return line;
    }
    return {};
}

std::string inflate(const std::string& compressed) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        throw std::runtime_error("inflateInit failed");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::string out;
    char chunk[1 << 16];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = ::inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - stream.avail_out);
    }
    const uInt trailing = stream.avail_in;
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("not a complete zlib stream (zlib status " +
                                 std::to_string(status) + ")");
    }
    if (trailing != 0) {
        throw std::runtime_error(std::to_string(trailing) + " bytes follow the zlib stream");
    }
    return out;
}

}  // namespace pdfbytes
