// Compresses the image streams of several pages at once while the reading
// thread decodes the next ones; pages are still written strictly in order, so
// the file is the same byte for byte whatever the number of threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/encode/SampleSink.h"
#include "engine/pdf/PdfSink.h"

namespace quorvex {

// A few threads that run queued tasks; joined on destruction. They start
// with the first task, so a file with nothing to compress never pays for them.
class WorkerPool {
  public:
    explicit WorkerPool(unsigned threads) : size_(threads) {}
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    bool empty() const { return size_ == 0; }
    void submit(std::function<void()> task);
    // Whether a task submitted now would start at once.
    bool hasIdleThread();
    // Runs task(0) ... task(count - 1) on the calling thread and on whichever
    // pool threads are free to help; returns once all have run. The caller
    // never waits for a task no thread has started, so tasks may call this
    // from the pool's own threads.
    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task);

  private:
    void work();

    unsigned size_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    unsigned busy_ = 0;  // threads running a task
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// One page's image stream. The reading thread pushes the page's samples in
// pieces; the stream is encoded right there, or on a worker that run()s it.
class StreamJob {
  public:
    // Encoded by the sink `makeEncoder` builds on the job's bytes (a stream
    // sink of makeStreamSink, say); the job only carries pieces to it.
    using EncoderMaker = std::function<std::unique_ptr<SampleSink>(PdfSink& encoded)>;
    StreamJob(const EncoderMaker& makeEncoder, bool encodeWhilePushing);
    StreamJob(const StreamJob&) = delete;
    StreamJob& operator=(const StreamJob&) = delete;

    // Reading thread. push() waits while too many pieces are queued.
    void push(std::vector<uint8_t> piece);
    void close();

    // Worker thread: encodes pieces as they come until the stream is closed.
    void run();

    // Writing thread: whether the stream is complete, and the encoded bytes
    // (waits for them; rethrows what went wrong while encoding).
    bool isFinished();
    const ChunkedBytes& result();

    // Stops the job for good; a worker in run() returns soon after.
    void abort();

  private:
    static constexpr std::size_t kMaxQueuedPieces = 16;

    void encode(const std::vector<uint8_t>& piece);
    void finishEncoding();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> queued_;
    bool closed_ = false;
    bool finished_ = false;
    bool aborted_ = false;
    std::exception_ptr failure_;

    bool encodeWhilePushing_;
    ChunkedBytes encoded_;
    std::unique_ptr<SampleSink> encoder_;
};

// The sample sink a route writes a page into: gathers its small appends into
// large pieces for the job.
class StreamJobFeeder final : public SampleSink {
  public:
    explicit StreamJobFeeder(StreamJob& job) : job_(job) { piece_.reserve(kPieceSize); }
    void finish() override;

  protected:
    void consume(const uint8_t* data, std::size_t size) override;

  private:
    static constexpr std::size_t kPieceSize = std::size_t{256} << 10;
    StreamJob& job_;
    std::vector<uint8_t> piece_;
};

}  // namespace quorvex
