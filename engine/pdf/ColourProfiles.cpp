#include "engine/pdf/ColourProfiles.h"

#include <zlib.h>

#include <optional>

#include "engine/EngineError.h"
#include "engine/plan/ImagePlan.h"
#include "engine/read/IccProfile.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

const char* alternateFor(uint16_t components) {
    switch (components) {
        case 1:
            return "/DeviceGray";
        case 4:
            return "/DeviceCMYK";
        default:
            return "/DeviceRGB";
    }
}

// Components of the colour the image is written in (an indexed image's base
// is RGB); 0 where no profile can stand in for it.
uint16_t writtenComponents(const ImagePlan& plan) {
    switch (plan.colourSpace.model) {
        case ColourModel::Gray:
            return 1;
        case ColourModel::Rgb:
        case ColourModel::Indexed:
            return 3;
        case ColourModel::Cmyk:
            return 4;
        case ColourModel::Lab:
            break;
    }
    return 0;
}

std::string componentsName(uint16_t components) {
    switch (components) {
        case 1:
            return "grey";
        case 3:
            return "RGB";
        case 4:
            return "CMYK";
        default:
            return "Lab";
    }
}

std::vector<uint8_t> deflated(const std::vector<uint8_t>& bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), 9) != Z_OK)
        throw ConversionError::internal("the colour profile could not be compressed");
    out.resize(size);
    return out;
}

}  // namespace

std::string iccStreamObject(const std::vector<uint8_t>& profile, uint16_t components) {
    const std::vector<uint8_t> data = deflated(profile);
    std::string text = "<<\r/N " + std::to_string(components) + "\r/Alternate " +
                       alternateFor(components) + "\r/Length " + std::to_string(data.size()) +
                       "\r/Filter /FlateDecode\r>>\rstream\r\n";
    text.append(data.begin(), data.end());
    return text + "\rendstream\rendobj\r";
}

DocumentProfiles::DocumentProfiles(std::vector<uint64_t> pageKeys, int newestVersion)
    : keys_(std::move(pageKeys)), newestVersion_(newestVersion) {
    for (uint32_t page = 0; page < keys_.size(); ++page) {
        if (keys_[page] != 0)
            firstPage_.emplace(keys_[page], page);
    }
}

uint32_t DocumentProfiles::extrasOf(uint32_t page) const {
    if (page >= keys_.size() || keys_[page] == 0)
        return 0;
    return firstPage_.at(keys_[page]) == page ? 1 : 0;
}

void DocumentProfiles::takeNumbers(const DocumentObjectNumbers& numbers) {
    for (const auto& [key, page] : firstPage_)
        objects_[key] = numbers.pageObjects.at(page).extras.at(0);
}

PageProfileObjects DocumentProfiles::applyTo(uint32_t page, const TiffDocument& document,
                                             const std::string& pageName, ImagePlan& plan) {
    PageProfileObjects result;
    const std::optional<std::vector<uint8_t>> profile = readIccProfile(document.handle());
    if (!profile)
        return result;
    const uint64_t key = page < keys_.size() ? keys_[page] : 0;
    const IccHeader header = inspectIccProfile(*profile);
    const auto leftOut = [&](const std::string& why) {
        result.notes.push_back(pageName + ": its ICC profile is left out: " + why);
    };
    if (extrasOf(page) == 1) {
        // The stream is written whatever this page's image turns out to be:
        // its number was handed out, and later pages may name it.
        result.extras.push_back(iccStreamObject(*profile, header.components));
        written_.emplace(key, *profile);
    }
    if (!header.wellFormed()) {
        leftOut(header.fault);
        return result;
    }
    if (header.majorVersion > newestVersion_) {
        leftOut("its ICC version " + std::to_string(header.majorVersion) +
                " is too new for this PDF/A level");
        return result;
    }
    const uint16_t written = writtenComponents(plan);
    if (header.isLab || header.components != written) {
        leftOut("a " + header.space + " profile does not fit the page's " +
                componentsName(written) + " image");
        return result;
    }
    const auto stream = written_.find(key);
    if (key == 0 || stream == written_.end() || stream->second != *profile) {
        leftOut("it does not fit the page's samples");
        return result;
    }
    plan.colourSpace.iccObject = objects_.at(key);
    return result;
}

bool ownProfileFits(const TiffDocument& document, const ImagePlan& plan, int newestVersion) {
    const std::optional<std::vector<uint8_t>> profile = readIccProfile(document.handle());
    if (!profile)
        return false;
    const IccHeader header = inspectIccProfile(*profile);
    return header.wellFormed() && header.majorVersion <= newestVersion && !header.isLab &&
           header.components == writtenComponents(plan);
}

}  // namespace quorvex
