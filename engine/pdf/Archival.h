// What an archival (PDF/A) file adds to the standard one: the colour its
// device pages are meant for (the output intent), the XMP metadata that
// repeats the document information, and the objects that carry both.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Conversion.h"
#include "engine/plan/ImagePlan.h"

namespace quorvex {

class PageSource;
class PdfSink;

// The output intent of a document, decided from every page before anything
// is written.
struct OutputIntent {
    enum class Kind { None, Srgb, Cmyk };
    Kind kind = Kind::None;
    std::shared_ptr<const std::vector<uint8_t>> cmykProfile;  // Kind::Cmyk: the given file
    // RGB pages of a document meant for CMYK name the sRGB profile instead
    // of /DeviceRGB (one output intent a file; /DeviceRGB needs an RGB one).
    bool rgbPagesAsSrgb = false;
};

// Plans every page once and picks the intent: CMYK when a page is device
// CMYK (with the profile `options.outputIntentPath` names, checked; without
// it the run fails saying what to give), sRGB when a page is otherwise
// device grey, RGB or indexed, none when every page is CIE-based.
OutputIntent chooseOutputIntent(PageSource& pages, const ConversionOptions& options);

// The newest ICC version a file of these options may embed: PDF/A-1 takes
// version 2 profiles at most, PDF/A-2 version 4; other files any.
int newestIccVersionFor(const ConversionOptions& options);

// Why an output profile cannot be a CMYK output intent at `level`; empty
// when it can.
std::string outputIntentProblem(const std::vector<uint8_t>& profile, ArchivalLevel level);

// The objects an archival file adds after its pages, numbered from `first`.
struct ArchivalObjects {
    uint64_t metadata = 0;
    uint64_t intentProfile = 0;  // 0: no output intent
    uint64_t srgbForPages = 0;   // 0: RGB pages stay /DeviceRGB
    uint64_t count = 0;          // the highest number handed out

    static ArchivalObjects allocate(uint64_t first, const OutputIntent& intent);
};

// The Catalog's /Metadata and /OutputIntents entries.
std::string archivalCatalogEntries(const ArchivalObjects& numbers, const OutputIntent& intent);

// The XMP packet: the document information again (title, author, subject,
// keywords, creator tool, producer, creation and modification dates) and the
// PDF/A part and conformance. `info` has its creation date filled in.
std::string xmpPacket(const DocumentInfo& info, ArchivalLevel level);

// The XMP form of a PDF date: "D:20240501143000+02'00'" gives
// "2024-05-01T14:30:00+02:00"; text that is no PDF date is kept as it is.
std::string xmpDate(const std::string& pdfDate);

// Writes the objects `numbers` names, after "N 0 obj".
void writeArchivalObject(PdfSink& out, uint64_t number, const ArchivalObjects& numbers,
                         const OutputIntent& intent, const std::string& xmp);

// `object` with its "\rendstream" turned into "\r\nendstream": PDF/A-1
// validators take only CR LF or LF before the keyword.
std::string withArchivalStreamEnd(std::string object);

// The image dictionary's colour space for a document meant for `intent`.
std::string withIntentColourSpace(std::string imageHeader, const ArchivalObjects& numbers);

}  // namespace quorvex
