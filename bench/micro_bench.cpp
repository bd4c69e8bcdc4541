// Micro benchmarks for the loops every decoded page goes through: sub-byte
// sample expansion, two-level mapping, RGBA reordering, the palette colour
// space text and the Flate sink. Run `quorvex-microbench` and compare the
// bytes/s figures between versions; a drop means a hot loop got slower.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/encode/StreamSink.h"
#include "engine/pdf/PdfOutput.h"
#include "engine/plan/ColourSpace.h"
#include "engine/read/SampleFormats.h"
#include "engine/read/SampleRoutes.h"
#include "engine/read/TiffDocument.h"

namespace {

// An A4 page at 300 dpi: the common case the loops are tuned for.
constexpr uint32_t kPageWidth = 2479;
constexpr uint32_t kPageHeight = 3508;

std::vector<uint8_t> randomBytes(std::size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

// Paper-like grey: mostly light with noise, dark runs where "text" is.
std::vector<uint8_t> scanLikeGrey(std::size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 2.0);
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        const bool ink = (i / 7) % 23 == 0 && (i / kPageWidth) % 40 < 20;
        const double level = (ink ? 30.0 : 240.0) + noise(random);
        bytes[i] = static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
    }
    return bytes;
}

std::filesystem::path temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? std::filesystem::path(tmp)
                                          : std::filesystem::path("/tmp");
}

// A file removed when the benchmark is done with it.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& stem)
        : path_(temporaryFolder() / (stem + "-" + std::to_string(getpid()) + ".tif")) {}
    ~TemporaryFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// A one-row palette image with a full colour map of 2^bits entries.
void writePaletteTiff(const std::filesystem::path& path, uint16_t bits) {
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "w"));
    if (!tiff)
        throw std::runtime_error("cannot create " + path.string());
    constexpr uint32_t width = 8;
    TIFFSetField(tiff.get(), TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff.get(), TIFFTAG_IMAGELENGTH, 1U);
    TIFFSetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
    TIFFSetField(tiff.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(tiff.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff.get(), TIFFTAG_ROWSPERSTRIP, 1U);
    const std::size_t entries = std::size_t{1} << bits;
    std::vector<uint16_t> red(entries), green(entries), blue(entries);
    for (std::size_t i = 0; i < entries; ++i) {
        red[i] = static_cast<uint16_t>(i * 257 * 255 / (entries - 1));
        green[i] = static_cast<uint16_t>(65535 - red[i]);
        blue[i] = static_cast<uint16_t>((i * 7919) & 0xFFFF);
    }
    TIFFSetField(tiff.get(), TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    std::vector<uint8_t> row(width, 0);
    if (TIFFWriteScanline(tiff.get(), row.data(), 0, 0) < 0) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

template <int Bits, void (*Expand)(const uint8_t*, uint32_t, uint8_t*)>
void BM_ExpandBits(benchmark::State& state) {
    const std::vector<uint8_t> row = randomBytes((uint64_t{kPageWidth} * Bits + 7) / 8, 1);
    std::vector<uint8_t> out(kPageWidth);
    for (auto _ : state) {
        Expand(row.data(), kPageWidth, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageWidth);
    state.SetLabel("output bytes, one A4 300 dpi row");
}
BENCHMARK(BM_ExpandBits<1, quorvex::expandBits1>)->Name("BM_ExpandBits1");
BENCHMARK(BM_ExpandBits<2, quorvex::expandBits2>)->Name("BM_ExpandBits2");
BENCHMARK(BM_ExpandBits<4, quorvex::expandBits4>)->Name("BM_ExpandBits4");

void BM_MapTwoLevel(benchmark::State& state) {
    const bool minIsWhite = state.range(0) != 0;
    std::vector<uint8_t> bytes = randomBytes(kPageWidth, 2);
    for (uint8_t& byte : bytes)
        byte &= 1;
    for (auto _ : state) {
        quorvex::mapTwoLevel(bytes.data(), bytes.size(), minIsWhite);
        benchmark::DoNotOptimize(bytes.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageWidth);
}
BENCHMARK(BM_MapTwoLevel)->ArgName("minIsWhite")->Arg(0)->Arg(1);

// The per-row loop of the RGBA route (not exported by the engine): packed
// ABGR words from TIFFReadRGBAImage into three bytes per pixel.
void reorderRgbaRow(const uint32_t* pixel, uint32_t width, uint8_t* out) {
    for (uint32_t x = 0; x < width; ++x, ++pixel) {
        *out++ = static_cast<uint8_t>(TIFFGetR(*pixel));
        *out++ = static_cast<uint8_t>(TIFFGetG(*pixel));
        *out++ = static_cast<uint8_t>(TIFFGetB(*pixel));
    }
}

void BM_RgbaReorder(benchmark::State& state) {
    const std::vector<uint8_t> source = randomBytes(uint64_t{kPageWidth} * 4, 3);
    std::vector<uint32_t> raster(kPageWidth);
    std::memcpy(raster.data(), source.data(), source.size());
    std::vector<uint8_t> out(uint64_t{kPageWidth} * 3);
    for (auto _ : state) {
        reorderRgbaRow(raster.data(), kPageWidth, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPageWidth * 4);
    state.SetLabel("input bytes, one A4 300 dpi row");
}
BENCHMARK(BM_RgbaReorder);

void BM_PaletteText(benchmark::State& state) {
    const auto bits = static_cast<uint16_t>(state.range(0));
    TemporaryFile file("quorvex-microbench-palette-" + std::to_string(bits));
    writePaletteTiff(file.path(), bits);
    quorvex::TiffDocument document;
    document.open(file.path());
    std::size_t length = 0;
    for (auto _ : state) {
        const std::string text = quorvex::ColourSpace::indexed(document.page()).text();
        length = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
    state.SetLabel(std::to_string(std::size_t{1} << bits) + " entries");
}
BENCHMARK(BM_PaletteText)->ArgName("bits")->Arg(2)->Arg(4)->Arg(8);

// One A4 300 dpi grey page through the sink, a row at a time, into a
// temporary PDF that is discarded: Flate shows the zlib cost plus the sink's
// own, Raw the cost of the output path alone.
void BM_StreamSink(benchmark::State& state) {
    const auto encoding =
        state.range(0) != 0 ? quorvex::StreamEncoding::Flate : quorvex::StreamEncoding::Raw;
    const std::vector<uint8_t> page = scanLikeGrey(uint64_t{kPageWidth} * kPageHeight, 4);
    const std::string target =
        (temporaryFolder() / ("quorvex-microbench-sink-" + std::to_string(getpid()) + ".pdf"))
            .string();
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<quorvex::PdfOutput> out = quorvex::PdfOutput::create(target);
        state.ResumeTiming();
        const auto sink = quorvex::makeStreamSink(*out, encoding);
        for (uint32_t y = 0; y < kPageHeight; ++y)
            sink->append(page.data() + uint64_t{y} * kPageWidth, kPageWidth);
        sink->finish();
        state.PauseTiming();
        out.reset();  // never committed: the temporary file goes away
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_StreamSink)->ArgName("flate")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// zlib's one-shot compress() on the same page: the floor the Flate sink is
// measured against.
void BM_CompressFloor(benchmark::State& state) {
    const std::vector<uint8_t> page = scanLikeGrey(uint64_t{kPageWidth} * kPageHeight, 4);
    std::vector<uint8_t> out(compressBound(static_cast<uLong>(page.size())));
    for (auto _ : state) {
        uLongf size = static_cast<uLongf>(out.size());
        compress(out.data(), &size, page.data(), static_cast<uLong>(page.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_CompressFloor)->Unit(benchmark::kMillisecond);

// One A4 300 dpi RGB row of the engine's own sample mapping: 12-bit
// integers, 16-bit half floats and 32-bit floats unpacked, mapped over their
// range and packed as 16-bit output.
void BM_MapSamples(benchmark::State& state) {
    quorvex::SampleFormatPlan plan;
    plan.bits = static_cast<uint16_t>(state.range(0));
    plan.number = plan.bits == 12 ? quorvex::SampleNumber::Unsigned : quorvex::SampleNumber::Float;
    plan.samplesPerPixel = plan.colourSamples = 3;
    plan.colour = quorvex::ColourModel::Rgb;
    plan.outputColour = quorvex::ColourModel::Rgb;
    plan.outputBits = 16;
    plan.limits.assign(3, {0, plan.bits == 12 ? 4095.0 : 1.0});
    std::vector<uint8_t> row = randomBytes(uint64_t{kPageWidth} * 3 * plan.bits / 8, 5);
    if (plan.bits == 32) {  // finite values
        for (std::size_t i = 3; i < row.size(); i += 4)
            row[i] &= 0x3F;
    }
    const quorvex::TiffDocument document;
    quorvex::RowSamples samples(plan, kPageWidth);
    const quorvex::SampleMapper mapper(plan, document, kPageWidth);
    std::vector<uint8_t> out(mapper.rowBytes());
    const uint8_t* planes[] = {row.data()};
    for (auto _ : state) {
        mapper.convert(samples.read(planes), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPageWidth);
    state.SetLabel("pixels, one A4 300 dpi row");
}
BENCHMARK(BM_MapSamples)->ArgName("bits")->Arg(12)->Arg(16)->Arg(32);

}  // namespace

BENCHMARK_MAIN();
