#include "PackagingSupport.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace packaging {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

uint32_t bigEndian32(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

}  // namespace

std::vector<std::string> expectedInstalledFiles() {
    std::vector<std::string> files = {
        "bin/quorvex-tiff2pdf",
        "bin/quorvex-tiff2pdf-gui",
        kDesktopEntry,
        "share/doc/quorvex-tiff2pdf/README.md",
        "share/icons/hicolor/scalable/apps/quorvex-tiff2pdf.svg",
        "share/man/man1/quorvex-tiff2pdf.1",
    };
    for (int size : kIconSizes) {
        files.push_back("share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                        "/apps/quorvex-tiff2pdf.png");
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> filesUnder(const std::filesystem::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() || entry.is_symlink()) {
            files.push_back(entry.path().lexically_relative(root).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::optional<PixelSize> pngSize(const std::filesystem::path& png) {
    // Signature (8 bytes), IHDR length and type (8), then width and height.
    static constexpr std::array<unsigned char, 8> kSignature = {0x89, 'P',  'N',  'G',
                                                                '\r', '\n', 0x1a, '\n'};
    std::array<unsigned char, 24> header{};
    std::ifstream in(png, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) {
        return std::nullopt;
    }
    if (!std::equal(kSignature.begin(), kSignature.end(), header.begin()) ||
        std::string(header.begin() + 12, header.begin() + 16) != "IHDR") {
        return std::nullopt;
    }
    return PixelSize{bigEndian32(&header[16]), bigEndian32(&header[20])};
}

std::map<std::string, std::string> desktopEntryGroup(const std::filesystem::path& file,
                                                     const std::string& group) {
    std::ifstream in(file);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::map<std::string, std::string> keys;
    bool inGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inGroup = line == "[" + group + "]";
            continue;
        }
        const auto equals = line.find('=');
        if (inGroup && equals != std::string::npos) {
            keys[trimmed(line.substr(0, equals))] = trimmed(line.substr(equals + 1));
        }
    }
    return keys;
}

std::map<std::string, std::string> controlFields(const std::string& controlText) {
    std::map<std::string, std::string> fields;
    std::string current;
    std::istringstream in(controlText);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        if ((line.front() == ' ' || line.front() == '\t') && !current.empty()) {
            fields[current] += "\n" + trimmed(line);
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        current = line.substr(0, colon);
        fields[current] = trimmed(line.substr(colon + 1));
    }
    return fields;
}

std::vector<std::string> relationPackages(const std::string& field) {
    std::vector<std::string> packages;
    std::string item;
    // Split at ',' and '|', then drop "(>= version)" and ":arch".
    for (char c : field + ",") {
        if (c == ',' || c == '|') {
            std::string name = trimmed(item.substr(0, item.find('(')));
            name = name.substr(0, name.find(':'));
            if (!name.empty()) {
                packages.push_back(name);
            }
            item.clear();
        } else {
            item += c;
        }
    }
    return packages;
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace packaging
