#include "engine/Conversion.h"

#include <cctype>

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
    if (inputPath.size() < 3 || inputPath.size() > kMaxPathLength)
        return {};
    std::string suffix = inputPath.size() >= 5 ? inputPath.substr(inputPath.size() - 5) : "";
    for (char& c : suffix)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (suffix == ".tiff")
        return inputPath.substr(0, inputPath.size() - 5) + ".pdf";
    return inputPath.substr(0, inputPath.size() - 3) + "pdf";
}

}  // namespace quorvex
