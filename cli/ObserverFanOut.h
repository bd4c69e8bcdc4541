// Tells several observers about one batch: the terminal lines and the
// JSON Lines report follow the same run.
#pragma once

#include <vector>

#include "cli/BatchRunner.h"

namespace quorvex::cli {

class ObserverFanOut : public BatchObserver {
  public:
    // Null entries are left out, so optional observers can be passed as they are.
    explicit ObserverFanOut(const std::vector<BatchObserver*>& observers) {
        for (BatchObserver* observer : observers) {
            if (observer != nullptr)
                observers_.push_back(observer);
        }
    }

    void jobStarted(std::size_t index, const PlannedJob& job) override {
        for (BatchObserver* observer : observers_)
            observer->jobStarted(index, job);
    }
    void pageDone(std::size_t index, uint32_t pagesDone, uint32_t pageCount) override {
        for (BatchObserver* observer : observers_)
            observer->pageDone(index, pagesDone, pageCount);
    }
    void jobFinished(std::size_t index, const JobResult& result) override {
        for (BatchObserver* observer : observers_)
            observer->jobFinished(index, result);
    }

  private:
    std::vector<BatchObserver*> observers_;
};

}  // namespace quorvex::cli
