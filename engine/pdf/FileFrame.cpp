#include "engine/pdf/FileFrame.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "engine/pdf/DocumentObjects.h"
#include "engine/pdf/PageSource.h"
#include "engine/plan/ImagePlan.h"
#include "engine/platform/Platform.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

constexpr PdfMinorVersion kBaseMinorVersion = 4;
constexpr PdfMinorVersion kSixteenBitMinorVersion = 5;

std::optional<int64_t> sourceDateEpoch() {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr)
        return std::nullopt;
    const std::string_view value(text);
    int64_t seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || seconds < 0)
        return std::nullopt;
    return seconds;
}

std::string utcPdfDate(int64_t time) {
    std::tm utc{};
    if (!platform::utcTimeOf(time, utc))
        return {};
    char text[40];
    std::snprintf(text, sizeof text, "D:%04d%02d%02d%02d%02d%02dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

}  // namespace

PdfMinorVersion minorVersionFor(const ImagePlan& plan) {
    return plan.bitsPerComponent > 8 ? kSixteenBitMinorVersion : kBaseMinorVersion;
}

PdfMinorVersion minorVersionFor(PageSource& pages) {
    PdfMinorVersion needed = kBaseMinorVersion;
    for (uint32_t page = 0; page < pages.pageCount(); ++page)
        needed = std::max(
            needed, minorVersionFor(planImage(pages.selectPage(page), OutputProfile::Standard)));
    return needed;
}

std::string standardHeader(PdfMinorVersion minor) {
    return "%PDF-1." + std::to_string(minor) + "\r%\xE2\xE3\xCF\xD3\r";
}

std::string defaultCreationDate(OutputProfile profile) {
    if (profile != OutputProfile::Classic) {
        if (const std::optional<int64_t> epoch = sourceDateEpoch())
            return utcPdfDate(*epoch);
    }
    return formatCreationDate(std::time(nullptr));
}

void DocumentIdentity::addContent(uint32_t crc32, uint64_t size) {
    uint8_t bytes[12];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(crc32 >> (8 * i));
    for (int i = 0; i < 8; ++i)
        bytes[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    digest_.update(bytes, sizeof bytes);
}

std::string DocumentIdentity::trailerEntry() {
    std::string hex;
    for (const uint8_t byte : digest_.finish()) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        hex += digits;
    }
    return "/ID [<" + hex + "> <" + hex + ">]\r";
}

}  // namespace quorvex
