// The worker of one batch: converts its files one after another on a thread of
// its own and reports each step through signals. Connect them queued: they are
// emitted on the worker's thread.
#pragma once

#include <QObject>
#include <atomic>
#include <thread>
#include <vector>

#include "app/ConversionJob.h"

namespace quorvex::gui {

class ConvertEachThread : public QObject {
    Q_OBJECT

  public:
    ConvertEachThread(std::vector<ConversionJob> jobs, ConvertFunction convert,
                      QObject* parent = nullptr);
    // Stops the batch and waits for its thread.
    ~ConvertEachThread() override;

    ConvertEachThread(const ConvertEachThread&) = delete;
    ConvertEachThread& operator=(const ConvertEachThread&) = delete;

    void start();
    // Asks the running conversion to stop (the engine removes what it had
    // written) and skips the jobs not yet begun. Returns at once.
    void requestStop();
    // Blocks until the thread has ended.
    void wait();

  signals:
    void jobStarted(quorvex::gui::RowId row);
    // shownPath: the PDF written on success, the TIFF otherwise.
    // reason: the engine's explanation of a failure, empty on success.
    void jobFinished(quorvex::gui::RowId row, bool succeeded, const QString& shownPath,
                     const QString& reason);
    // The last signal of a batch that ran to its end; not sent after a stop.
    void batchFinished();

  private:
    void run();
    ConversionOutcome convertOne(const ConversionJob& job) const;

    std::vector<ConversionJob> m_jobs;
    ConvertFunction m_convert;
    std::atomic<bool> m_stopRequested{false};
    std::thread m_thread;
};

}  // namespace quorvex::gui
