// Flate streams written piece by piece must be the bytes zlib's one-shot
// compress() gives for the whole page.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "engine/pdf/PdfOutput.h"
#include "engine/pdf/SampleRoutes.h"
#include "engine/pdf/StreamSink.h"
#include "support/TestSupport.h"

namespace {

std::vector<uint8_t> compressWhole(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(data.size());
    std::vector<uint8_t> out(size);
    EXPECT_EQ(compress(out.data(), &size, data.data(), data.size()), Z_OK);
    out.resize(size);
    return out;
}

std::string streamInPieces(const std::vector<uint8_t>& data, std::size_t maxPiece,
                           quorvex::StreamEncoding encoding) {
    support::TempDir dir;
    const auto path = dir / "stream.bin";
    {
        auto out = quorvex::PdfOutput::create(path.string());
        auto sink = quorvex::makeStreamSink(*out, encoding);
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

TEST(FlateStream, PiecesGiveTheBytesOfOneShotCompress) {
    const auto data = pageLikeData(3'000'000);
    const auto expected = compressWhole(data);
    for (const std::size_t piece : {1U << 20, 5000U, 1728U, 97U}) {
        const std::string actual = streamInPieces(data, piece, quorvex::StreamEncoding::Flate);
        EXPECT_TRUE(actual == std::string(expected.begin(), expected.end()))
            << "pieces of up to " << piece << " bytes";
    }
}

TEST(FlateStream, IncompressibleAndEmptyData) {
    std::vector<uint8_t> noise(100'000);
    std::mt19937 random(3);
    for (auto& byte : noise)
        byte = static_cast<uint8_t>(random());
    for (const auto& data : {noise, std::vector<uint8_t>{}, std::vector<uint8_t>{42}}) {
        const auto expected = compressWhole(data);
        EXPECT_EQ(streamInPieces(data, 4096, quorvex::StreamEncoding::Flate),
                  std::string(expected.begin(), expected.end()));
    }
}

TEST(RawStream, BytesPassUnchanged) {
    const auto data = pageLikeData(10'000);
    EXPECT_EQ(streamInPieces(data, 333, quorvex::StreamEncoding::Raw),
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
