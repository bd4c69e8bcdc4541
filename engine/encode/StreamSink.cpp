#include "engine/encode/StreamSink.h"

#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/encode/WholeStreamFlate.h"
#include "engine/pdf/PdfSink.h"

namespace quorvex {
namespace {

// zlib's own words for a failure: its message when it left one, otherwise
// the text of its status code.
std::string zlibFailure(int status, const z_stream& stream) {
    return std::string("zlib: ") + (stream.msg != nullptr ? stream.msg : zError(status));
}

class RawSink final : public SampleSink {
  public:
    explicit RawSink(PdfSink& out) : out_(out) {}
    void finish() override {}

  protected:
    void consume(const uint8_t* data, std::size_t size) override { out_.write(data, size); }

  private:
    PdfSink& out_;
};

class FlateSink final : public SampleSink {
  public:
    FlateSink(PdfSink& out, int level, const std::atomic<bool>* cancel)
        : out_(out), cancel_(cancel), chunk_(kChunkSize) {
        const int status = deflateInit(&stream_, std::clamp(level, 0, Z_BEST_COMPRESSION));
        if (status == Z_MEM_ERROR)
            throw ConversionError::outOfMemory("zlib: out of memory");
        if (status != Z_OK)
            throw ConversionError::internal(zlibFailure(status, stream_));
        initialised_ = true;
    }
    ~FlateSink() override {
        if (initialised_)
            deflateEnd(&stream_);
    }
    FlateSink(const FlateSink&) = delete;
    FlateSink& operator=(const FlateSink&) = delete;

    void finish() override {
        stream_.next_in = nullptr;
        stream_.avail_in = 0;
        drain(Z_FINISH);
    }

  protected:
    void consume(const uint8_t* data, std::size_t size) override {
        // Fed in slices: zlib counts input in 32-bit units, and a whole
        // gathered stream handed over at once must not keep a cancel waiting.
        while (size > 0) {
            throwIfCancelled(cancel_);
            const std::size_t slice = std::min<std::size_t>(size, kMaxSlice);
            stream_.next_in = const_cast<Bytef*>(data);
            stream_.avail_in = static_cast<uInt>(slice);
            drain(Z_NO_FLUSH);
            data += slice;
            size -= slice;
        }
    }

  private:
    static constexpr std::size_t kChunkSize = std::size_t{256} << 10;
    static constexpr std::size_t kMaxSlice = std::size_t{1} << 20;

    void drain(int flush) {
        for (;;) {
            stream_.next_out = chunk_.data();
            stream_.avail_out = static_cast<uInt>(chunk_.size());
            const int status = deflate(&stream_, flush);
            if (status == Z_STREAM_ERROR)
                throw ConversionError::internal(zlibFailure(status, stream_));
            const std::size_t produced = chunk_.size() - stream_.avail_out;
            if (produced > 0)
                out_.write(chunk_.data(), produced);
            if (flush == Z_FINISH ? status == Z_STREAM_END
                                  : (stream_.avail_in == 0 && stream_.avail_out != 0)) {
                return;
            }
        }
    }

    PdfSink& out_;
    const std::atomic<bool>* cancel_;
    z_stream stream_{};
    std::vector<uint8_t> chunk_;
    bool initialised_ = false;
};

}  // namespace

std::unique_ptr<SampleSink> makeStreamSink(PdfSink& out, StreamEncoding encoding, int level,
                                           uint64_t expectedBytes, ParallelFor parallelFor,
                                           const std::atomic<bool>* cancel, uint64_t wholeCap) {
    if (encoding == StreamEncoding::Flate && expectedBytes > wholeCap)
        return makeZlibSink(out, level, cancel);
    if (encoding == StreamEncoding::Flate)
        return std::make_unique<WholeStreamFlateSink>(
            out, level, [&out, level, cancel] { return makeZlibSink(out, level, cancel); },
            wholeCap, std::move(parallelFor), cancel);
    return std::make_unique<RawSink>(out);
}

std::unique_ptr<SampleSink> makeZlibSink(PdfSink& out, int level, const std::atomic<bool>* cancel) {
    return std::make_unique<FlateSink>(out, level, cancel);
}

}  // namespace quorvex
