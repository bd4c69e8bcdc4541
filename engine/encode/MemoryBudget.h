// The memory a run may hold for samples waiting to be compressed, shared out
// among the pages read ahead. Used by the converting thread alone: it takes
// a page's share before reading it and gives it back once the page is
// written, so no other thread ever waits on it.
#pragma once

#include <cstdint>
#include <utility>

namespace quorvex {

class MemoryBudget {
  public:
    explicit MemoryBudget(uint64_t bytes) : total_(bytes) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // A share, given back when it goes out of scope.
    class Lease {
      public:
        Lease() = default;
        Lease(Lease&& other) noexcept
            : budget_(std::exchange(other.budget_, nullptr)), bytes_(other.bytes_) {}
        Lease& operator=(Lease&& other) noexcept {
            if (this != &other) {
                giveBack();
                budget_ = std::exchange(other.budget_, nullptr);
                bytes_ = other.bytes_;
            }
            return *this;
        }
        ~Lease() { giveBack(); }

      private:
        friend class MemoryBudget;
        Lease(MemoryBudget& budget, uint64_t bytes) : budget_(&budget), bytes_(bytes) {}
        void giveBack() {
            if (budget_ != nullptr)
                budget_->held_ -= bytes_;
            budget_ = nullptr;
        }
        MemoryBudget* budget_ = nullptr;
        uint64_t bytes_ = 0;
    };

    uint64_t total() const { return total_; }
    // Whether `bytes` can be taken now. With nothing held, anything can: a
    // page larger than the whole budget still runs, alone.
    bool fits(uint64_t bytes) const { return held_ == 0 || bytes <= total_ - held_; }
    Lease take(uint64_t bytes) {
        held_ += bytes;
        return Lease(*this, bytes);
    }

  private:
    uint64_t total_;
    uint64_t held_ = 0;
};

}  // namespace quorvex
