// The ways a page's samples are read from libtiff into its image stream.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quorvex {

class PageDamage;
class SampleSink;
class TiffDocument;

// What every reader of a page's samples works with: the page, where its
// stream goes, the caller's cancel flag and the record of what was lost.
struct PageReading {
    TiffDocument& document;
    SampleSink& sink;
    const std::atomic<bool>* cancel;
    PageDamage& damage;
};

// Each reads the selected page and appends its whole stream data to the sink;
// failures are raised as ConversionError, rows that cannot be decoded are
// recorded in the damage record and the page goes on.
void writeScanlineSamples(PageReading& reading);
void writeRawStrips(PageReading& reading);
void writeDecodedStrips(PageReading& reading);
void writeRgbaSamples(PageReading& reading);

// Row transforms of the scanline reader, exposed for tests and benchmarks.
// Each expands packed samples to one byte per pixel, most significant first.
void expandBits1(const uint8_t* row, uint32_t width, uint8_t* out);
void expandBits2(const uint8_t* row, uint32_t width, uint8_t* out);
void expandBits4(const uint8_t* row, uint32_t width, uint8_t* out);
// Maps bilevel bytes so black is 00 and white FF: with minIsWhite a 0 byte
// becomes FF and any other 00; otherwise a 0 byte becomes 00 and any other FF.
void mapTwoLevel(uint8_t* bytes, std::size_t size, bool minIsWhite);

}  // namespace quorvex
