#include "engine/encode/PagePipeline.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/EngineError.h"

namespace quorvex {

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void WorkerPool::submit(std::function<void()> task) {
    // The threads start on the first submit, which comes from the thread
    // that owns the pool: the pool's own threads submit only once they run.
    if (threads_.empty()) {
        threads_.reserve(size_);
        for (unsigned i = 0; i < size_; ++i)
            threads_.emplace_back([this] { work(); });
    }
    {
        const std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

bool WorkerPool::hasIdleThread() {
    const std::lock_guard lock(mutex_);
    return busy_ + tasks_.size() < size_;
}

namespace {

// The tasks of one parallelFor call, shared with the helpers it queued: a
// helper that starts after the call has returned finds nothing left to do.
struct SharedTasks {
    std::function<void(std::size_t)> task;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable allDone;
    std::size_t done = 0;
    std::exception_ptr failure;

    void runWhatIsLeft() {
        for (std::size_t i = next++; i < count; i = next++) {
            std::exception_ptr failed;
            try {
                task(i);
            } catch (...) {
                failed = std::current_exception();
            }
            const std::lock_guard lock(mutex);
            if (failed && !failure)
                failure = failed;
            if (++done == count)
                allDone.notify_all();
        }
    }
};

}  // namespace

void WorkerPool::parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) {
    auto shared = std::make_shared<SharedTasks>();
    shared->task = task;
    shared->count = count;
    const std::size_t helpers = std::min<std::size_t>(size_, count > 0 ? count - 1 : 0);
    for (std::size_t i = 0; i < helpers; ++i)
        submit([shared] { shared->runWhatIsLeft(); });
    shared->runWhatIsLeft();
    std::unique_lock lock(shared->mutex);
    shared->allDone.wait(lock, [&] { return shared->done == shared->count; });
    if (shared->failure)
        std::rethrow_exception(shared->failure);
}

void WorkerPool::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty())
                return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
            ++busy_;
        }
        task();
        const std::lock_guard lock(mutex_);
        --busy_;
    }
}

StreamJob::StreamJob(const EncoderMaker& makeEncoder, bool encodeWhilePushing)
    : encodeWhilePushing_(encodeWhilePushing), encoder_(makeEncoder(encoded_)) {}

void StreamJob::encode(const std::vector<uint8_t>& piece) {
    encoder_->append(piece.data(), piece.size());
}

void StreamJob::finishEncoding() {
    encoder_->finish();
}

void StreamJob::push(std::vector<uint8_t> piece) {
    if (encodeWhilePushing_) {
        encode(piece);
        return;
    }
    std::unique_lock lock(mutex_);
    // A worker that failed takes no more pieces: stop waiting for room then.
    changed_.wait(lock,
                  [this] { return aborted_ || failure_ || queued_.size() < kMaxQueuedPieces; });
    if (aborted_)
        return;
    if (failure_)
        std::rethrow_exception(failure_);
    queued_.push_back(std::move(piece));
    changed_.notify_all();
}

void StreamJob::close() {
    if (encodeWhilePushing_) {
        finishEncoding();
        const std::lock_guard lock(mutex_);
        closed_ = finished_ = true;
        return;
    }
    const std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

void StreamJob::run() {
    try {
        for (;;) {
            std::vector<uint8_t> piece;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return aborted_ || closed_ || !queued_.empty(); });
                if (aborted_)
                    break;
                if (queued_.empty()) {
                    lock.unlock();
                    finishEncoding();
                    break;
                }
                piece = std::move(queued_.front());
                queued_.pop_front();
                changed_.notify_all();
            }
            encode(piece);
        }
    } catch (...) {
        const std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
    }
    const std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

bool StreamJob::isFinished() {
    const std::lock_guard lock(mutex_);
    return finished_;
}

const ChunkedBytes& StreamJob::result() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return finished_; });
    if (failure_)
        std::rethrow_exception(failure_);
    return encoded_;
}

void StreamJob::abort() {
    const std::lock_guard lock(mutex_);
    aborted_ = true;
    queued_.clear();
    changed_.notify_all();
}

void StreamJobFeeder::consume(const uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t piece = std::min(size, kPieceSize - piece_.size());
        piece_.insert(piece_.end(), data, data + piece);
        data += piece;
        size -= piece;
        if (piece_.size() == kPieceSize) {
            job_.push(std::move(piece_));
            piece_ = {};
            piece_.reserve(kPieceSize);
        }
    }
}

void StreamJobFeeder::finish() {
    if (!piece_.empty())
        job_.push(std::move(piece_));
    piece_ = {};
    job_.close();
}

}  // namespace quorvex
