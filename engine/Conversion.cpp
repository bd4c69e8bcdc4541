#include "engine/Conversion.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace quorvex {

DocumentInfo DocumentInfo::applicationDefaults() {
    DocumentInfo info;
    info.creator = "Kestrune";
    info.author = kVendorAddress;
    info.producer = kVendorAddress;
    info.title = "Quorvex Tiff To Pdf Converter";
    info.subject = "Tiff To Pdf Conversion";
    info.keywords = std::string("Tiff To Pdf ") + kVendorAddress;
    return info;
}

std::string deriveOutputPath(const std::string& inputPath) {
    if (inputPath.empty())
        return {};
    std::string lower = inputPath;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string_view extension : {".tiff", ".tif"}) {
        // "x/.tif" is a hidden file named ".tif", not an extension of nothing.
        const std::size_t stem = inputPath.size() - std::min(extension.size(), inputPath.size());
        if (lower.ends_with(extension) && stem > 0 && inputPath[stem - 1] != '/')
            return inputPath.substr(0, stem) + ".pdf";
    }
    return inputPath + ".pdf";
}

}  // namespace quorvex
