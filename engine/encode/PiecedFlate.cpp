#include "engine/encode/PiecedFlate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <exception>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/encode/ChunkedFlate.h"
#include "engine/pdf/PdfSink.h"

namespace quorvex {

// One piece from the moment it is cut until its blocks are written.
struct PiecedFlateSink::Piece {
    std::vector<uint8_t> samples;  // freed once compressed
    std::size_t length = 0;
    ByteChunk blocks;
    uint32_t adler = 1;
    bool done = false;
    std::exception_ptr failure;
};

PiecedFlateSink::PiecedFlateSink(PdfSink& out, Settings settings, TaskRunner run,
                                 const std::atomic<bool>* cancel)
    : out_(out), settings_(settings), run_(std::move(run)), cancel_(cancel) {
    settings_.pieceBytes = std::max<std::size_t>(settings_.pieceBytes, 1);
    settings_.piecesInFlight = std::max<std::size_t>(settings_.piecesInFlight, 1);
    const std::array<uint8_t, 2> header = zlibHeader(settings_.level);
    out_.write(header.data(), header.size());
}

PiecedFlateSink::~PiecedFlateSink() {
    std::unique_lock lock(shared_->mutex);
    for (const std::shared_ptr<Piece>& piece : inFlight_)
        shared_->pieceDone.wait(lock, [&] { return piece->done; });
}

void PiecedFlateSink::consume(const uint8_t* data, std::size_t size) {
    while (size > 0) {
        if (filling_.empty())
            filling_.reserve(settings_.pieceBytes);
        const std::size_t taken = std::min(size, settings_.pieceBytes - filling_.size());
        filling_.insert(filling_.end(), data, data + taken);
        data += taken;
        size -= taken;
        if (filling_.size() == settings_.pieceBytes)
            launch();
    }
}

// Hands the piece filled so far to a thread, once fewer than the pieces
// allowed are in flight (the oldest are written first to make room).
void PiecedFlateSink::launch() {
    while (inFlight_.size() >= settings_.piecesInFlight)
        writeOldest();
    auto piece = std::make_shared<Piece>();
    piece->samples = std::move(filling_);
    piece->length = piece->samples.size();
    filling_ = {};
    inFlight_.push_back(piece);
    run_([piece, shared = shared_, level = settings_.level, cancel = cancel_] {
        std::exception_ptr failure;
        try {
            throwIfCancelled(cancel);
            piece->blocks = deflateOpenPiece(piece->samples.data(), piece->length, level);
            piece->adler = libdeflate_adler32(1, piece->samples.data(), piece->length);
        } catch (...) {
            failure = std::current_exception();
        }
        std::vector<uint8_t>().swap(piece->samples);
        const std::lock_guard lock(shared->mutex);
        piece->failure = failure;
        piece->done = true;
        shared->pieceDone.notify_all();
    });
}

void PiecedFlateSink::writeOldest() {
    const std::shared_ptr<Piece> piece = inFlight_.front();
    {
        std::unique_lock lock(shared_->mutex);
        shared_->pieceDone.wait(lock, [&] { return piece->done; });
    }
    inFlight_.pop_front();
    if (piece->failure)
        std::rethrow_exception(piece->failure);
    adler_ = static_cast<uint32_t>(
        adler32_combine(adler_, piece->adler, static_cast<z_off_t>(piece->length)));
    out_.write(std::move(piece->blocks));
}

void PiecedFlateSink::finish() {
    if (!filling_.empty())
        launch();
    while (!inFlight_.empty())
        writeOldest();
    // An empty final block (fixed codes: the final bit, the type, the
    // end-of-block code), then the checksum of every sample.
    const uint8_t end[] = {0x03,
                           0x00,
                           static_cast<uint8_t>(adler_ >> 24),
                           static_cast<uint8_t>(adler_ >> 16),
                           static_cast<uint8_t>(adler_ >> 8),
                           static_cast<uint8_t>(adler_)};
    out_.write(end, sizeof end);
}

}  // namespace quorvex
