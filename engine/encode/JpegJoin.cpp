#include "engine/encode/JpegJoin.h"

#include <algorithm>
#include <cstring>

namespace quorvex {
namespace {

using Bytes = std::span<const uint8_t>;

constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kDqt = 0xDB;
constexpr uint8_t kDht = 0xC4;
constexpr uint8_t kDri = 0xDD;
constexpr uint8_t kCom = 0xFE;
constexpr uint8_t kApp14 = 0xEE;  // Adobe's colour transform marker

bool isRestart(uint8_t marker) {
    return marker >= 0xD0 && marker <= 0xD7;
}

bool isApp(uint8_t marker) {
    return marker >= 0xE0 && marker <= 0xEF;
}

struct Scan {
    Bytes header;   // the SOS segment
    Bytes entropy;  // coded data up to the next marker
};

// One JPEG stream cut into its segments. `valid` is false for anything this
// joiner does not understand well enough to copy.
struct Parsed {
    bool valid = false;
    std::vector<Bytes> tables;  // DQT, DHT, APPn and COM segments, in order
    Bytes frame;                // the SOF segment
    uint8_t frameMarker = 0;
    std::vector<Scan> scans;
    bool restartInterval = false;
    bool adobeMarker = false;
    std::size_t end = 0;  // just past EOI
};

uint16_t readBig16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

// Where the entropy-coded data starting at `at` ends: the next marker that is
// neither a stuffed 0xFF nor a restart marker.
std::size_t entropyEnd(Bytes data, std::size_t at) {
    while (at + 1 < data.size()) {
        if (data[at] != 0xFF) {
            ++at;
            continue;
        }
        const uint8_t next = data[at + 1];
        if (next == 0x00 || isRestart(next)) {
            at += 2;
        } else if (next == 0xFF) {
            ++at;  // fill byte before a marker
        } else {
            return at;
        }
    }
    return data.size();
}

bool takeSegment(Parsed& parsed, uint8_t marker, Bytes segment) {
    if (marker == kDqt || marker == kDht || marker == kCom || isApp(marker)) {
        parsed.adobeMarker = parsed.adobeMarker || marker == kApp14;
        parsed.tables.push_back(segment);
        return true;
    }
    if (marker == kDri) {
        parsed.restartInterval = true;
        parsed.tables.push_back(segment);
        return true;
    }
    // Baseline, extended and progressive Huffman frames; not arithmetic,
    // lossless or hierarchical ones.
    if ((marker == 0xC0 || marker == 0xC1 || marker == 0xC2) && parsed.frame.empty()) {
        parsed.frame = segment;
        parsed.frameMarker = marker;
        return true;
    }
    return false;
}

Parsed parse(Bytes data) {
    Parsed parsed;
    if (data.size() < 4 || data[0] != 0xFF || data[1] != kSoi)
        return parsed;
    std::size_t at = 2;
    for (;;) {
        while (at < data.size() && data[at] == 0xFF && at + 1 < data.size() &&
               data[at + 1] == 0xFF) {
            ++at;
        }
        if (at + 1 >= data.size() || data[at] != 0xFF)
            return parsed;
        const uint8_t marker = data[at + 1];
        if (marker == kEoi) {
            parsed.end = at + 2;
            parsed.valid = !parsed.frame.empty() && !parsed.scans.empty();
            return parsed;
        }
        if (at + 4 > data.size())
            return parsed;
        const std::size_t length = readBig16(data.data() + at + 2);
        if (length < 2 || at + 2 + length > data.size())
            return parsed;
        const Bytes segment = data.subspan(at, 2 + length);
        at += 2 + length;
        if (marker == kSos) {
            if (parsed.frame.empty())
                return parsed;
            const std::size_t end = entropyEnd(data, at);
            parsed.scans.push_back({segment, data.subspan(at, end - at)});
            at = end;
        } else if (!takeSegment(parsed, marker, segment)) {
            return parsed;
        }
    }
}

// The tables stream holds tables only: SOI, DQT/DHT segments, EOI.
std::optional<std::vector<Bytes>> tableSegments(Bytes tables) {
    if (tables.empty())
        return std::vector<Bytes>{};
    if (tables.size() < 4 || tables[0] != 0xFF || tables[1] != kSoi)
        return std::nullopt;
    std::vector<Bytes> segments;
    std::size_t at = 2;
    while (at + 1 < tables.size() && tables[at] == 0xFF && tables[at + 1] != kEoi) {
        const uint8_t marker = tables[at + 1];
        if (at + 4 > tables.size())
            return std::nullopt;
        const std::size_t length = readBig16(tables.data() + at + 2);
        if (length < 2 || at + 2 + length > tables.size())
            return std::nullopt;
        if (marker != kDqt && marker != kDht && marker != kCom)
            return std::nullopt;
        segments.push_back(tables.subspan(at, 2 + length));
        at += 2 + length;
    }
    if (at + 1 >= tables.size() || tables[at] != 0xFF || tables[at + 1] != kEoi)
        return std::nullopt;
    return segments;
}

struct Frame {
    uint32_t height = 0;
    uint32_t width = 0;
    uint16_t components = 0;
    // Sampling factors, 1 to 4 each.
    uint32_t maxH = 1;
    uint32_t maxV = 1;
    uint32_t minV = 4;
    bool allOneByOne = true;
};

std::optional<Frame> readFrame(Bytes sof) {
    // FF Cn, length, precision, height, width, component count, 3 bytes each.
    if (sof.size() < 10 || sof[4] != 8)
        return std::nullopt;
    Frame frame;
    frame.height = readBig16(sof.data() + 5);
    frame.width = readBig16(sof.data() + 7);
    frame.components = sof[9];
    if (sof.size() != 10 + std::size_t{3} * frame.components)
        return std::nullopt;
    for (uint16_t c = 0; c < frame.components; ++c) {
        const uint32_t h = sof[11 + std::size_t{3} * c] >> 4;
        const uint32_t v = sof[11 + std::size_t{3} * c] & 0x0Fu;
        if (h < 1 || h > 4 || v < 1 || v > 4)
            return std::nullopt;
        frame.maxH = std::max(frame.maxH, h);
        frame.maxV = std::max(frame.maxV, v);
        frame.minV = std::min(frame.minV, v);
        frame.allOneByOne = frame.allOneByOne && h == 1 && v == 1;
    }
    return frame;
}

void append(std::vector<uint8_t>& out, Bytes bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void appendMarker(std::vector<uint8_t>& out, uint8_t marker) {
    out.push_back(0xFF);
    out.push_back(marker);
}

bool sameBytes(Bytes a, Bytes b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

bool sameSegments(const std::vector<Bytes>& a, const std::vector<Bytes>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameBytes);
}

// The rows strip `index` holds.
uint32_t stripRows(const JpegPageShape& shape, std::size_t index) {
    const uint64_t first = uint64_t{shape.rowsPerStrip} * index;
    return static_cast<uint32_t>(std::min<uint64_t>(shape.rowsPerStrip, shape.height - first));
}

bool frameFits(const Frame& frame, const JpegPageShape& shape, uint32_t rows) {
    return frame.width == shape.width && frame.components == shape.components &&
           frame.height == rows;
}

std::optional<std::vector<uint8_t>> joinOne(const std::vector<Bytes>& tables, Bytes strip,
                                            const Parsed& parsed, const JpegPageShape& shape) {
    const std::optional<Frame> frame = readFrame(parsed.frame);
    if (!frame || !frameFits(*frame, shape, shape.height))
        return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(strip.size() + 1024);
    appendMarker(out, kSoi);
    for (Bytes segment : tables)
        append(out, segment);
    append(out, strip.subspan(2, parsed.end - 2));  // everything after the strip's SOI
    return out;
}

// Strips that each hold one scan of the same frame become one scan whose
// restart interval is exactly one strip: a restart marker then resets the
// decoder where each strip's coder started afresh.
std::optional<std::vector<uint8_t>> joinMany(const std::vector<Bytes>& tables,
                                             const std::vector<Parsed>& parsed,
                                             const JpegPageShape& shape, StripSeams seams) {
    const Parsed& first = parsed.front();
    const std::optional<Frame> frame = readFrame(first.frame);
    if (!frame || first.frameMarker == 0xC2 || first.scans.size() != 1)
        return std::nullopt;
    // A one-component scan is not interleaved: its units are 8x8 blocks.
    const uint32_t unitWidth = frame->components == 1 ? 8 : 8 * frame->maxH;
    const uint32_t unitHeight = frame->components == 1 ? 8 : 8 * frame->maxV;
    // With chroma sampled down vertically, readers now smooth the chroma
    // across the rows where strips meet, where libtiff, decoding each strip
    // on its own, repeats each strip's edge: those two rows differ a little
    // from libtiff's decode (as in tiff2pdf's output); all others match.
    const bool seamsSmoothed = frame->minV < frame->maxV;
    if ((frame->components == 1 && !frame->allOneByOne) || shape.rowsPerStrip % unitHeight != 0 ||
        (seamsSmoothed && seams == StripSeams::Exact)) {
        return std::nullopt;
    }
    const uint64_t interval =
        uint64_t{(shape.width + unitWidth - 1) / unitWidth} * (shape.rowsPerStrip / unitHeight);
    if (interval == 0 || interval > 0xFFFF)
        return std::nullopt;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const Parsed& strip = parsed[i];
        const std::optional<Frame> own = readFrame(strip.frame);
        const bool sameFrame =
            strip.frame.size() == first.frame.size() &&
            std::equal(strip.frame.begin(), strip.frame.begin() + 5, first.frame.begin()) &&
            std::equal(strip.frame.begin() + 7, strip.frame.end(), first.frame.begin() + 7);
        if (!own || !sameFrame || !frameFits(*own, shape, stripRows(shape, i)) ||
            strip.restartInterval || strip.scans.size() != 1 ||
            !sameBytes(strip.scans[0].header, first.scans[0].header) ||
            !sameSegments(strip.tables, first.tables)) {
            return std::nullopt;
        }
    }
    std::vector<uint8_t> out;
    appendMarker(out, kSoi);
    for (Bytes segment : tables)
        append(out, segment);
    for (Bytes segment : first.tables)
        append(out, segment);
    const std::size_t frameAt = out.size();
    append(out, first.frame);
    out[frameAt + 5] = static_cast<uint8_t>(shape.height >> 8);
    out[frameAt + 6] = static_cast<uint8_t>(shape.height & 0xFF);
    const uint8_t dri[] = {0xFF,
                           kDri,
                           0x00,
                           0x04,
                           static_cast<uint8_t>(interval >> 8),
                           static_cast<uint8_t>(interval & 0xFF)};
    append(out, dri);
    append(out, first.scans[0].header);
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        if (i > 0)
            appendMarker(out, static_cast<uint8_t>(0xD0 + (i - 1) % 8));
        append(out, parsed[i].scans[0].entropy);
    }
    appendMarker(out, kEoi);
    return out;
}

}  // namespace

std::optional<std::vector<uint8_t>> joinJpegStrips(
    std::span<const uint8_t> tables, const std::vector<std::span<const uint8_t>>& strips,
    const JpegPageShape& shape, StripSeams seams) {
    if (strips.empty() || shape.width == 0 || shape.height == 0 || shape.width > 0xFFFF ||
        shape.height > 0xFFFF ||
        (shape.components != 1 && shape.components != 3 && shape.components != 4)) {
        return std::nullopt;
    }
    const std::optional<std::vector<Bytes>> shared = tableSegments(tables);
    if (!shared)
        return std::nullopt;
    std::vector<Parsed> parsed;
    parsed.reserve(strips.size());
    for (Bytes strip : strips) {
        parsed.push_back(parse(strip));
        // An Adobe marker decides the colour transform of grey and colour
        // data itself; not worth the doubt. CMYK data carries one as a rule.
        if (!parsed.back().valid || (parsed.back().adobeMarker && shape.components != 4))
            return std::nullopt;
    }
    if (strips.size() == 1)
        return joinOne(*shared, strips.front(), parsed.front(), shape);
    const uint64_t expectedStrips =
        shape.rowsPerStrip == 0
            ? 0
            : (uint64_t{shape.height} + shape.rowsPerStrip - 1) / shape.rowsPerStrip;
    if (expectedStrips != strips.size())
        return std::nullopt;
    return joinMany(*shared, parsed, shape, seams);
}

}  // namespace quorvex
