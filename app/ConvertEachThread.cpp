#include "app/ConvertEachThread.h"

#include <QFile>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

#include "app/ProcessorBudget.h"

namespace quorvex::gui {

namespace {
std::atomic<int> leftBehind{0};
}  // namespace

struct ConvertEachThread::Shared {
    std::vector<ConversionJob> jobs;
    ConvertFunction convert;
    std::shared_ptr<ProcessorBudget> budget;
    // Counted from the drop on, so that a batch already running does not
    // take every processor just before this one starts.
    std::optional<ProcessorBudget::Membership> member;
    std::atomic<bool> stopRequested{false};

    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
    bool leftBehind = false;
    ConvertEachThread* owner = nullptr;  // null once the thread is left behind

    // Runs report(owner) unless nobody listens any more.
    template <typename Report>
    void tell(Report&& report) {
        const std::lock_guard lock(mutex);
        if (owner != nullptr) {
            report(*owner);
        }
    }
};

namespace {

ConversionOutcome convertOne(const ConversionJob& job, const ConvertFunction& convert,
                             const std::atomic<bool>& stop, unsigned threads) {
    ConversionRequest request;
    request.inputPath = QFile::encodeName(job.path).toStdString();
    request.cancel = &stop;
    request.options.threads = threads;
    return convert(request);
}

}  // namespace

ConvertEachThread::ConvertEachThread(std::vector<ConversionJob> jobs, ConvertFunction convert,
                                     std::shared_ptr<ProcessorBudget> budget, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()) {
    m_shared->jobs = std::move(jobs);
    m_shared->convert = std::move(convert);
    m_shared->budget = std::move(budget);
    m_shared->member.emplace(*m_shared->budget);
    m_shared->owner = this;
}

ConvertEachThread::~ConvertEachThread() {
    requestStop();
    finishBy(std::chrono::steady_clock::now() + kStopGrace);
}

void ConvertEachThread::start() {
    if (!m_thread.joinable()) {
        m_thread = std::thread([shared = m_shared] { run(shared); });
    }
}

void ConvertEachThread::requestStop() {
    m_shared->stopRequested.store(true);
}

void ConvertEachThread::wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool ConvertEachThread::finishBy(std::chrono::steady_clock::time_point deadline) {
    if (!m_thread.joinable()) {
        return true;
    }
    std::unique_lock lock(m_shared->mutex);
    if (m_shared->changed.wait_until(lock, deadline, [this] { return m_shared->ended; })) {
        lock.unlock();
        m_thread.join();
        return true;
    }
    m_shared->owner = nullptr;
    m_shared->leftBehind = true;
    lock.unlock();
    m_thread.detach();
    ++leftBehind;
    return false;
}

int ConvertEachThread::threadsLeftBehind() {
    return leftBehind.load();
}

bool ConvertEachThread::runJobs(Shared& shared) {
    for (const ConversionJob& job : shared.jobs) {
        const ProcessorBudget::Lease lease = shared.budget->acquire(&shared.stopRequested);
        if (lease.threads() == 0 || shared.stopRequested.load()) {
            return false;
        }
        shared.tell([&job](ConvertEachThread& owner) { emit owner.jobStarted(job.row); });
        const ConversionOutcome outcome =
            convertOne(job, shared.convert, shared.stopRequested, lease.threads());
        if (outcome.cancelled() || shared.stopRequested.load()) {
            return false;
        }
        const JobReport report = reportOutcome(outcome, job.path);
        shared.tell(
            [&job, &report](ConvertEachThread& owner) { emit owner.jobFinished(job.row, report); });
    }
    return true;
}

void ConvertEachThread::run(const std::shared_ptr<Shared>& shared) {
    const bool completed = runJobs(*shared);
    shared->member.reset();
    if (completed) {
        shared->tell([](ConvertEachThread& owner) { emit owner.batchFinished(); });
    }
    const std::lock_guard lock(shared->mutex);
    shared->ended = true;
    if (shared->leftBehind) {
        --leftBehind;
    }
    shared->changed.notify_all();
}

}  // namespace quorvex::gui
