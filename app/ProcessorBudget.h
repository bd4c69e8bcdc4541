// The processors all conversions of the window share. Every drop runs its own
// batch, but the page-compression threads of the conversions running at one
// time never add up to more than the budget: a conversion waits until a
// processor is free and then takes its fair share of the free ones.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace quorvex::gui {

class ProcessorBudget {
  public:
    // processors 0: one per processor of the machine.
    explicit ProcessorBudget(unsigned processors = 0);

    ProcessorBudget(const ProcessorBudget&) = delete;
    ProcessorBudget& operator=(const ProcessorBudget&) = delete;

    // Processors held by one conversion, given back when it ends.
    class Lease {
      public:
        Lease() = default;
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        ~Lease();

        unsigned threads() const { return m_threads; }

      private:
        friend class ProcessorBudget;
        Lease(ProcessorBudget* budget, unsigned threads) : m_budget(budget), m_threads(threads) {}
        void release();

        ProcessorBudget* m_budget = nullptr;
        unsigned m_threads = 0;
    };

    // A running batch; while it lives, the fair share is the budget divided
    // among all running batches, so a batch that starts later is not starved
    // by one that took every processor while it was alone.
    class Membership {
      public:
        explicit Membership(ProcessorBudget& budget);
        ~Membership();
        Membership(const Membership&) = delete;
        Membership& operator=(const Membership&) = delete;

      private:
        ProcessorBudget& m_budget;
    };

    // Waits until a processor is free, then takes the fair share of the free
    // ones (at least one). Returns an empty lease (no threads) once cancel is
    // set while waiting.
    Lease acquire(const std::atomic<bool>* cancel);

    unsigned processors() const { return m_processors; }
    unsigned inUse() const;
    unsigned batches() const;

  private:
    void give(unsigned threads);

    const unsigned m_processors;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    unsigned m_inUse = 0;
    unsigned m_batches = 0;
};

}  // namespace quorvex::gui
