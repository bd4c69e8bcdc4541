// The texts written into a PDF's document information dictionary.
#pragma once

#include <optional>
#include <string>

namespace quorvex {

// Web address written as author and producer and at the end of the keywords.
inline constexpr const char* kVendorAddress = "https://www.quorvex.example";

struct DocumentInfo {
    std::string creator;
    std::optional<std::string> creationDate;  // empty optional: today's local date
    std::string author;
    std::string producer;
    std::string title;
    std::string subject;
    std::string keywords;

    // The fixed values the window passes for every file.
    static DocumentInfo applicationDefaults();
};

}  // namespace quorvex
