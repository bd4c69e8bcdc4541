// A Flate stream compressed in pieces while its samples still arrive: each
// piece is compressed on whichever thread is free, and the pieces are joined
// in order into one zlib stream. The samples held at once are bounded by the
// pieces in flight, however long the page.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/encode/SampleSink.h"

namespace quorvex {

class PdfSink;

// Runs a task on some thread, soon; every task given must run to its end.
using TaskRunner = std::function<void(std::function<void()>)>;

// The bytes depend on the samples, the level and the piece length alone,
// never on the threads or the order in which pieces finish.
class PiecedFlateSink final : public SampleSink {
  public:
    struct Settings {
        int level = 6;
        std::size_t pieceBytes = std::size_t{4} << 20;
        std::size_t piecesInFlight = 4;  // compressing or waiting to be written
    };
    // `cancel`: a piece not yet begun once it is set is not compressed, and
    // the sink throws the cancellation.
    PiecedFlateSink(PdfSink& out, Settings settings, TaskRunner run,
                    const std::atomic<bool>* cancel = nullptr);
    // Waits for pieces still compressing, so that none outlives the page (or
    // the pool) it was cut for.
    ~PiecedFlateSink() override;
    PiecedFlateSink(const PiecedFlateSink&) = delete;
    PiecedFlateSink& operator=(const PiecedFlateSink&) = delete;

    void finish() override;

  protected:
    void consume(const uint8_t* data, std::size_t size) override;

  private:
    struct Piece;
    // What the sink and its pieces' tasks share; outlives whichever ends last.
    struct Shared {
        std::mutex mutex;
        std::condition_variable pieceDone;
    };

    void launch();
    void writeOldest();

    PdfSink& out_;
    Settings settings_;
    TaskRunner run_;
    const std::atomic<bool>* cancel_;
    std::vector<uint8_t> filling_;
    std::deque<std::shared_ptr<Piece>> inFlight_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    uint32_t adler_ = 1;
};

}  // namespace quorvex
