// The worker of one batch: converts its files one after another on a thread of
// its own and reports each step through signals. Connect them queued: they are
// emitted on the worker's thread.
#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "app/ConversionJob.h"
#include "app/JobReport.h"

namespace quorvex::gui {

class ProcessorBudget;

class ConvertEachThread : public QObject {
    Q_OBJECT

  public:
    // How long the destructor waits for a stopped batch to end before it
    // leaves the thread behind (an input that blocks, say).
    static constexpr std::chrono::milliseconds kStopGrace{1000};

    ConvertEachThread(std::vector<ConversionJob> jobs, ConvertFunction convert,
                      std::shared_ptr<ProcessorBudget> budget, QObject* parent = nullptr);
    // Stops the batch and waits for its thread, at most kStopGrace.
    ~ConvertEachThread() override;

    ConvertEachThread(const ConvertEachThread&) = delete;
    ConvertEachThread& operator=(const ConvertEachThread&) = delete;

    void start();
    // Asks the running conversion to stop (the engine removes what it had
    // written) and skips the jobs not yet begun. Returns at once.
    void requestStop();
    // Blocks until the thread has ended.
    void wait();
    // Waits until the thread has ended or the deadline has passed. A thread
    // still running then is left to end on its own: it no longer reports to
    // this object, and the process may exit without it. Returns whether the
    // thread ended.
    bool finishBy(std::chrono::steady_clock::time_point deadline);

    // Threads left behind by finishBy in this process that may still run.
    static int threadsLeftBehind();

  signals:
    // The conversion of the row's file has begun (it holds its processors).
    void jobStarted(quorvex::gui::RowId row);
    void jobFinished(quorvex::gui::RowId row, const quorvex::gui::JobReport& report);
    // The last signal of a batch that ran to its end; not sent after a stop.
    void batchFinished();

  private:
    // Everything the thread uses; it outlives this object when the thread is
    // left behind.
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);
    // Returns whether every job ran (no stop).
    static bool runJobs(Shared& shared);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

}  // namespace quorvex::gui
