#include "app/ProcessorBudget.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace quorvex::gui {

namespace {
// How often a waiting conversion looks at its cancel flag, which nobody
// notifies the budget about.
constexpr std::chrono::milliseconds kCancelPoll{20};
}  // namespace

ProcessorBudget::ProcessorBudget(unsigned processors)
    : m_processors(processors != 0 ? processors
                                   : std::max(1U, std::thread::hardware_concurrency())) {}

ProcessorBudget::Lease::Lease(Lease&& other) noexcept
    : m_budget(std::exchange(other.m_budget, nullptr)),
      m_threads(std::exchange(other.m_threads, 0)) {}

ProcessorBudget::Lease& ProcessorBudget::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        release();
        m_budget = std::exchange(other.m_budget, nullptr);
        m_threads = std::exchange(other.m_threads, 0);
    }
    return *this;
}

ProcessorBudget::Lease::~Lease() {
    release();
}

void ProcessorBudget::Lease::release() {
    if (m_budget != nullptr && m_threads != 0) {
        m_budget->give(m_threads);
    }
    m_budget = nullptr;
    m_threads = 0;
}

ProcessorBudget::Membership::Membership(ProcessorBudget& budget) : m_budget(budget) {
    const std::lock_guard lock(m_budget.m_mutex);
    ++m_budget.m_batches;
}

ProcessorBudget::Membership::~Membership() {
    const std::lock_guard lock(m_budget.m_mutex);
    --m_budget.m_batches;
    m_budget.m_changed.notify_all();
}

ProcessorBudget::Lease ProcessorBudget::acquire(const std::atomic<bool>* cancel) {
    std::unique_lock lock(m_mutex);
    const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
    while (m_inUse >= m_processors) {
        if (cancelled()) {
            return {};
        }
        m_changed.wait_for(lock, kCancelPoll);
    }
    if (cancelled()) {
        return {};
    }
    const unsigned fairShare = std::max(1U, m_processors / std::max(1U, m_batches));
    const unsigned threads = std::min(fairShare, m_processors - m_inUse);
    m_inUse += threads;
    return Lease(this, threads);
}

unsigned ProcessorBudget::inUse() const {
    const std::lock_guard lock(m_mutex);
    return m_inUse;
}

unsigned ProcessorBudget::batches() const {
    const std::lock_guard lock(m_mutex);
    return m_batches;
}

void ProcessorBudget::give(unsigned threads) {
    const std::lock_guard lock(m_mutex);
    m_inUse -= std::min(threads, m_inUse);
    m_changed.notify_all();
}

}  // namespace quorvex::gui
