// Flate streams written piece by piece: the zlib sink gives the bytes of
// zlib's one-shot compress2(), the libdeflate sink those of one libdeflate
// call, whatever the pieces; past its cap the libdeflate sink hands over to
// zlib. Every stream inflates back to the data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <functional>
#include <memory>
#include <random>

#include "engine/encode/ChunkedFlate.h"
#include "engine/encode/StreamSink.h"
#include "engine/encode/WholeStreamFlate.h"
#include "engine/pdf/PdfOutput.h"
#include "engine/read/SampleRoutes.h"
#include "support/TestSupport.h"

namespace {

using SinkMaker = std::function<std::unique_ptr<quorvex::SampleSink>(quorvex::PdfSink&)>;

std::string zlibWhole(const std::vector<uint8_t>& data, int level) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, data.data(),
                        static_cast<uLong>(data.size()), level),
              Z_OK);
    out.resize(size);
    return out;
}

std::vector<uint8_t> asVector(const quorvex::ByteChunk& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Pieces compressed one after another on this thread.
void runInOrder(std::size_t count, const std::function<void(std::size_t)>& task) {
    for (std::size_t i = 0; i < count; ++i)
        task(i);
}

std::string libdeflateWhole(const std::vector<uint8_t>& data, int level) {
    const std::vector<uint8_t> out =
        asVector(quorvex::deflateWholeStream(data.data(), data.size(), level));
    return {out.begin(), out.end()};
}

std::string inflateAll(const std::string& compressed, std::size_t expectedSize) {
    auto size = static_cast<uLongf>(expectedSize);
    std::string out(expectedSize + 1, '\0');
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                         reinterpret_cast<const Bytef*>(compressed.data()),
                         static_cast<uLong>(compressed.size())),
              Z_OK);
    out.resize(size);
    return out;
}

std::string streamInPieces(const std::vector<uint8_t>& data, std::size_t maxPiece,
                           const SinkMaker& makeSink) {
    support::TempDir dir;
    const auto path = dir / "stream.bin";
    {
        auto out = quorvex::PdfOutput::create(path.string());
        auto sink = makeSink(*out);
        std::mt19937 random(7);
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t piece =
                std::min(data.size() - at, 1 + static_cast<std::size_t>(random() % maxPiece));
            sink->append(data.data() + at, piece);
            at += piece;
        }
        sink->finish();
        out->commit();
    }
    return support::readFile(path);
}

std::vector<uint8_t> pageLikeData(std::size_t size) {
    std::vector<uint8_t> data(size);
    std::mt19937 random(1);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] =
            static_cast<uint8_t>((i % 1728 < 900 ? 0xFF : (i / 7) & 0xF0) ^ (random() % 5 == 0));
    }
    return data;
}

std::vector<uint8_t> noise(std::size_t size) {
    std::vector<uint8_t> data(size);
    std::mt19937 random(3);
    for (auto& byte : data)
        byte = static_cast<uint8_t>(random());
    return data;
}

struct FlateCase {
    const char* name;
    std::vector<uint8_t> data;
    int level;
    // Bytes gathered before the libdeflate sink hands over to zlib.
    uint64_t cap = quorvex::kWholeStreamCap;
};

class FlateStream : public ::testing::TestWithParam<FlateCase> {};

TEST_P(FlateStream, PiecesGiveTheOneShotBytesAndInflateBack) {
    const FlateCase& c = GetParam();
    const bool spills = c.data.size() > c.cap;
    const std::string expected =
        spills ? zlibWhole(c.data, std::min(c.level, 9)) : libdeflateWhole(c.data, c.level);
    for (const std::size_t piece : {std::size_t{5} << 20, std::size_t{5000}, std::size_t{97}}) {
        const std::string whole = streamInPieces(c.data, piece, [&](quorvex::PdfSink& out) {
            return std::make_unique<quorvex::WholeStreamFlateSink>(
                out, c.level, [&out, &c] { return quorvex::makeZlibSink(out, c.level); }, c.cap);
        });
        EXPECT_TRUE(expected.empty() || whole == expected)
            << "libdeflate sink, pieces of up to " << piece;
        EXPECT_TRUE(inflateAll(whole, c.data.size()) == std::string(c.data.begin(), c.data.end()));
        const std::string zlib = streamInPieces(c.data, piece, [&](quorvex::PdfSink& out) {
            return quorvex::makeZlibSink(out, c.level);
        });
        // Stored blocks follow zlib's output buffer, so level 0 only has to inflate back.
        EXPECT_TRUE(c.level == 0 || zlib == zlibWhole(c.data, std::min(c.level, 9)))
            << "zlib sink, pieces of up to " << piece;
        EXPECT_TRUE(inflateAll(zlib, c.data.size()) == std::string(c.data.begin(), c.data.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Data, FlateStream,
    ::testing::Values(FlateCase{"PageAtDefaultLevel", pageLikeData(9'000'000), 6},
                      FlateCase{"PageSmallest", pageLikeData(300'000), 12},
                      FlateCase{"PageStored", pageLikeData(300'000), 0},
                      FlateCase{"PagePastTheCap", pageLikeData(3'000'000), 6, 1'000'000},
                      FlateCase{"SmallestPastTheCap", pageLikeData(300'000), 12, 100'000},
                      FlateCase{"Noise", noise(100'000), 6}, FlateCase{"Empty", {}, 6},
                      FlateCase{"OneByte", {42}, 6}),
    support::ParamName());

// A stream compressed in pieces, each piece's final block opened and closed
// by an empty stored block, inflates back in zlib whatever the pieces end on.
struct PiecesCase {
    const char* name;
    std::vector<uint8_t> data;
};

void PrintTo(const PiecesCase& tested, std::ostream* out) {
    *out << tested.name;
}

class FlatePieces : public ::testing::TestWithParam<PiecesCase> {};

TEST_P(FlatePieces, InflateBackForEveryPieceSizeAndLevel) {
    const std::vector<uint8_t>& data = GetParam().data;
    const std::string original(data.begin(), data.end());
    for (const int level : {0, 1, 6, 12}) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4099},
                                        std::size_t{70'001}, std::size_t{250'000}}) {
            if (piece < 100 && data.size() > 5000)
                continue;  // thousands of pieces: nothing the smaller data does not show
            const quorvex::ByteChunk stream =
                quorvex::deflateInPieces(data.data(), data.size(), level, runInOrder, piece);
            EXPECT_TRUE(inflateAll(std::string(stream.begin(), stream.end()), data.size()) ==
                        original)
                << "level " << level << ", pieces of " << piece;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Data, FlatePieces,
                         ::testing::Values(PiecesCase{"Page", pageLikeData(600'000)},
                                           PiecesCase{"Noise", noise(300'000)},
                                           PiecesCase{"Zeros", std::vector<uint8_t>(2'000'000)},
                                           PiecesCase{"Short", pageLikeData(3000)}),
                         [](const auto& tested) { return std::string(tested.param.name); });

#ifndef _WIN32
// MuPDF and poppler run on Linux only.
// Joined pieces are one ordinary stream to the readers too: an RGB image
// compressed in hundreds of pieces draws the same in MuPDF and Poppler.
TEST(FlatePieces, JoinedPiecesDrawInMuPdfAndPoppler) {
    support::RgbImage expected{.width = 300, .height = 200, .rgb = pageLikeData(300 * 200 * 3)};
    const quorvex::ByteChunk stream =
        quorvex::deflateInPieces(expected.rgb.data(), expected.rgb.size(), 6, runInOrder, 997);
    support::TempDir dir;
    std::ofstream(dir / "pieces.pdf", std::ios::binary) << support::singleImagePdf(
        300, 200, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode",
        std::string(stream.begin(), stream.end()));
    for (const auto renderer : {support::Renderer::MuPdf, support::Renderer::Poppler}) {
        EXPECT_TRUE(support::imagesMatch(
            expected, support::renderPdfPage(dir / "pieces.pdf", 0, 300, 200, renderer), 0));
    }
}
#endif

TEST(FlatePieces, OnlyACompleteStreamIsOpened) {
    const auto data = pageLikeData(100'000);
    const std::vector<uint8_t> zlib =
        asVector(quorvex::deflateWholeStream(data.data(), data.size(), 6));
    quorvex::ByteChunk raw(zlib.begin() + 2, zlib.end() - 4);
    quorvex::ByteChunk cut(raw.begin(), raw.end() - 100);
    const quorvex::ByteChunk before = cut;
    EXPECT_FALSE(quorvex::openFinalBlock(cut));
    EXPECT_TRUE(cut == before);
    EXPECT_TRUE(quorvex::openFinalBlock(raw));
}

TEST(RawStream, BytesPassUnchanged) {
    const auto data = pageLikeData(10'000);
    EXPECT_EQ(streamInPieces(data, 333,
                             [](quorvex::PdfSink& out) {
                                 return quorvex::makeStreamSink(out, quorvex::StreamEncoding::Raw);
                             }),
              std::string(data.begin(), data.end()));
}

TEST(RowExpansion, PackedSamplesBecomeOneBytePerPixel) {
    const uint8_t bits1[] = {0b10110001, 0b01000000};
    uint8_t out[10];
    quorvex::expandBits1(bits1, 10, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 10),
              (std::vector<uint8_t>{1, 0, 1, 1, 0, 0, 0, 1, 0, 1}));
    const uint8_t bits2[] = {0b11100100, 0b10000000};
    quorvex::expandBits2(bits2, 5, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{3, 2, 1, 0, 2}));
    const uint8_t bits4[] = {0xA5, 0xF0};
    quorvex::expandBits4(bits4, 3, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0xA, 0x5, 0xF}));
}

TEST(RowExpansion, TwoLevelMappingDrawsBlackAsZero) {
    std::vector<uint8_t> miw = {0, 1, 0x0B};
    quorvex::mapTwoLevel(miw.data(), miw.size(), true);
    EXPECT_EQ(miw, (std::vector<uint8_t>{0xFF, 0x00, 0x00}));
    std::vector<uint8_t> mib = {0, 1, 0x0B};
    quorvex::mapTwoLevel(mib.data(), mib.size(), false);
    EXPECT_EQ(mib, (std::vector<uint8_t>{0x00, 0xFF, 0xFF}));
}

}  // namespace
