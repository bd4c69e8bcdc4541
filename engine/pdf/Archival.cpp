#include "engine/pdf/Archival.h"

#include <fstream>
#include <iterator>

#include "engine/EngineError.h"
#include "engine/pdf/ColourProfiles.h"
#include "engine/pdf/PageSource.h"
#include "engine/pdf/PdfSink.h"
#include "engine/pdf/SrgbProfile.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

std::string fourBytes(const std::vector<uint8_t>& bytes, std::size_t at) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

uint32_t bigEndian32(const std::vector<uint8_t>& bytes, std::size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
           uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

std::shared_ptr<const std::vector<uint8_t>> readCmykIntent(const ConversionOptions& options,
                                                           const std::string& pageName) {
    if (options.outputIntentPath.empty()) {
        throw ConversionError::refused(
            pageName +
                " is CMYK without its own ICC profile: PDF/A needs a CMYK output intent "
                "for it; give the printing condition's ICC profile with --output-intent "
                "FILE.icc",
            LegacyReason::CmykRefused);
    }
    std::ifstream file(options.outputIntentPath, std::ios::binary);
    auto bytes = std::make_shared<std::vector<uint8_t>>(std::istreambuf_iterator<char>(file),
                                                        std::istreambuf_iterator<char>());
    std::string problem = file.bad() || !file.is_open()
                              ? "it cannot be read"
                              : outputIntentProblem(*bytes, *options.archival);
    if (!problem.empty()) {
        throw ConversionError::refused(
            "the output intent " + options.outputIntentPath + " cannot be used: " + problem,
            LegacyReason::General);
    }
    return bytes;
}

std::string xmlEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

void writeProfileStream(PdfSink& out, std::span<const uint8_t> profile, int components) {
    out.print("<<\r/N %d\r/Length %llu\r>>\rstream\r\n", components, pdfNumber(profile.size()));
    out.write(profile.data(), profile.size());
    out.write("\r\nendstream\rendobj\r");
}

int newestIccVersionOf(ArchivalLevel level) {
    return level == ArchivalLevel::PdfA1b ? 2 : 4;
}

}  // namespace

std::string outputIntentProblem(const std::vector<uint8_t>& profile, ArchivalLevel level) {
    if (profile.size() < 128 || fourBytes(profile, 36) != "acsp")
        return "it is not an ICC profile";
    if (bigEndian32(profile, 0) != profile.size())
        return "its size field does not match the file";
    if (fourBytes(profile, 12) != "prtr")
        return "it is not an output (printer) profile, device class 'prtr'";
    if (fourBytes(profile, 16) != "CMYK")
        return "its colour space is not CMYK";
    const int major = profile[8];
    if (major > newestIccVersionOf(level))
        return "its ICC version " + std::to_string(major) + " is too new for this PDF/A level";
    return {};
}

int newestIccVersionFor(const ConversionOptions& options) {
    return options.archival ? newestIccVersionOf(*options.archival) : kAnyIccVersion;
}

OutputIntent chooseOutputIntent(PageSource& pages, const ConversionOptions& options) {
    bool device = false;
    bool rgb = false;
    OutputIntent intent;
    for (uint32_t page = 0; page < pages.pageCount(); ++page) {
        const TiffDocument& document = pages.selectPage(page);
        const ImagePlan plan = planImage(document, OutputProfile::Standard);
        if (ownProfileFits(document, plan, newestIccVersionFor(options)))
            continue;
        const ColourModel model = plan.colourSpace.model;
        device = device || model != ColourModel::Lab;
        rgb = rgb || model == ColourModel::Rgb || model == ColourModel::Indexed;
        if (model == ColourModel::Cmyk && !intent.cmykProfile)
            intent.cmykProfile = readCmykIntent(options, pages.pageName(page));
    }
    if (intent.cmykProfile) {
        intent.kind = OutputIntent::Kind::Cmyk;
        intent.rgbPagesAsSrgb = rgb;
    } else if (device) {
        intent.kind = OutputIntent::Kind::Srgb;
    }
    return intent;
}

ArchivalObjects ArchivalObjects::allocate(uint64_t first, const OutputIntent& intent) {
    ArchivalObjects numbers;
    uint64_t next = first;
    numbers.metadata = next++;
    if (intent.kind != OutputIntent::Kind::None)
        numbers.intentProfile = next++;
    if (intent.rgbPagesAsSrgb)
        numbers.srgbForPages = next++;
    numbers.count = next - 1;
    return numbers;
}

std::string archivalCatalogEntries(const ArchivalObjects& numbers, const OutputIntent& intent) {
    std::string entries = "/Metadata " + std::to_string(numbers.metadata) + " 0 R\r";
    if (intent.kind == OutputIntent::Kind::None)
        return entries;
    const std::string condition =
        intent.kind == OutputIntent::Kind::Srgb ? "sRGB IEC61966-2.1" : "Custom";
    entries +=
        "/OutputIntents [ << /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (" +
        condition + ") /Info (" + condition + ") /DestOutputProfile " +
        std::to_string(numbers.intentProfile) + " 0 R >> ]\r";
    return entries;
}

std::string xmpDate(const std::string& pdfDate) {
    const std::string digits = pdfDate.starts_with("D:") ? pdfDate.substr(2) : pdfDate;
    const auto allDigits = [&](std::size_t from, std::size_t count) {
        return digits.size() >= from + count &&
               digits.find_first_not_of("0123456789", from) >= from + count;
    };
    if (!pdfDate.starts_with("D:") || !allDigits(0, 8))
        return pdfDate;
    std::string date = digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);
    if (!allDigits(8, 6))
        return date;
    date += "T" + digits.substr(8, 2) + ":" + digits.substr(10, 2) + ":" + digits.substr(12, 2);
    const std::string zone = digits.substr(14);
    if (zone == "Z")
        return date + "Z";
    if (zone.size() >= 6 && (zone[0] == '+' || zone[0] == '-'))
        return date + zone.substr(0, 3) + ":" + zone.substr(4, 2);
    return date;
}

std::string xmpPacket(const DocumentInfo& info, ArchivalLevel level) {
    const std::string date = xmpDate(info.creationDate.value_or(""));
    const auto alt = [](const std::string& text) {
        return "<rdf:Alt><rdf:li xml:lang=\"x-default\">" + xmlEscaped(text) +
               "</rdf:li></rdf:Alt>";
    };
    const auto element = [](const std::string& name, const std::string& text) {
        return "<" + name + ">" + text + "</" + name + ">\n";
    };
    std::string xmp = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
    xmp += "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n";
    xmp += "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
    xmp += "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n";
    xmp += element("dc:format", "application/pdf");
    xmp += element("dc:title", alt(info.title));
    xmp += element("dc:creator",
                   "<rdf:Seq><rdf:li>" + xmlEscaped(info.author) + "</rdf:li></rdf:Seq>");
    xmp += element("dc:description", alt(info.subject));
    xmp += "</rdf:Description>\n";
    xmp += "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n";
    xmp += element("xmp:CreatorTool", xmlEscaped(info.creator));
    xmp += element("xmp:CreateDate", date) + element("xmp:ModifyDate", date);
    xmp += element("xmp:MetadataDate", date);
    xmp += "</rdf:Description>\n";
    xmp += "<rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n";
    xmp += element("pdf:Producer", xmlEscaped(info.producer));
    xmp += element("pdf:Keywords", xmlEscaped(info.keywords));
    xmp += "</rdf:Description>\n";
    xmp += "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n";
    xmp += element("pdfaid:part", level == ArchivalLevel::PdfA1b ? "1" : "2");
    xmp += element("pdfaid:conformance", "B");
    xmp += "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
    return xmp;
}

void writeArchivalObject(PdfSink& out, uint64_t number, const ArchivalObjects& numbers,
                         const OutputIntent& intent, const std::string& xmp) {
    if (number == numbers.metadata) {
        out.print("<<\r/Type /Metadata\r/Subtype /XML\r/Length %llu\r>>\rstream\r\n",
                  pdfNumber(xmp.size()));
        out.write(xmp);
        out.write("\r\nendstream\rendobj\r");
    } else if (number == numbers.intentProfile && intent.kind == OutputIntent::Kind::Cmyk) {
        writeProfileStream(out, *intent.cmykProfile, 4);
    } else {
        writeProfileStream(out, srgbProfile(), 3);
    }
}

std::string withArchivalStreamEnd(std::string object) {
    // The last one: an object's data may hold the same bytes by chance.
    const std::size_t at = object.rfind("\rendstream");
    if (at != std::string::npos)
        object.insert(at + 1, "\n");
    return object;
}

std::string withIntentColourSpace(std::string imageHeader, const ArchivalObjects& numbers) {
    if (numbers.srgbForPages == 0)
        return imageHeader;
    const std::string device = "/DeviceRGB";
    const std::size_t at = imageHeader.find(device);
    if (at != std::string::npos) {
        imageHeader.replace(at, device.size(),
                            "[ /ICCBased " + std::to_string(numbers.srgbForPages) + " 0 R ]");
    }
    return imageHeader;
}

}  // namespace quorvex
