// The four ways a page's samples are read from libtiff into its image stream.
#pragma once

#include <atomic>
#include <cstdint>

namespace quorvex {

class SampleSink;
class TiffDocument;

enum class SampleRoute { Scanlines = 0, RawStrips = 1, DecodedStrips = 2, Rgba = 3 };

// Largest buffer (or decoded page) one route may need; a page past it is
// refused with the allocation failure code instead of exhausting memory.
inline constexpr uint64_t kMaxBufferBytes = uint64_t{2} << 30;

// Stops the run when the caller has asked it to (null: never).
void throwIfCancelled(const std::atomic<bool>* cancel);

// Each route reads the selected page and appends its whole stream data to the
// sink; failures are raised as EngineFailure.
void writeScanlineSamples(TiffDocument& document, SampleSink& sink,
                          const std::atomic<bool>* cancel);
void writeRawStrips(TiffDocument& document, SampleSink& sink, const std::atomic<bool>* cancel);
void writeDecodedStrips(TiffDocument& document, SampleSink& sink, const std::atomic<bool>* cancel);
void writeRgbaSamples(TiffDocument& document, SampleSink& sink, const std::atomic<bool>* cancel);

void writeSamples(SampleRoute route, TiffDocument& document, SampleSink& sink,
                  const std::atomic<bool>* cancel);

// Row transforms of the scanline route, exposed for tests and benchmarks.
// Each expands packed samples to one byte per pixel, most significant first.
void expandBits1(const uint8_t* row, uint32_t width, uint8_t* out);
void expandBits2(const uint8_t* row, uint32_t width, uint8_t* out);
void expandBits4(const uint8_t* row, uint32_t width, uint8_t* out);
// Maps bilevel bytes so black is 00 and white FF: with minIsWhite a 0 byte
// becomes FF and any other 00; otherwise a 0 byte becomes 00 and any other FF.
void mapTwoLevel(uint8_t* bytes, std::size_t size, bool minIsWhite);

}  // namespace quorvex
