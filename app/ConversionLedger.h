// Which rows are being converted (queued on a worker or converting) and which
// wait to convert until another conversion of their file has ended, so that
// one file is never converted twice at the same time.
#pragma once

#include <QString>
#include <cstddef>
#include <map>
#include <vector>

#include "app/ConversionJob.h"

namespace quorvex::gui {

class ConversionLedger {
  public:
    // The row is queued on a worker or converting, or waits to.
    bool isBusy(RowId row) const;
    bool fileInWork(const QString& path) const;
    // Jobs queued on a worker, converting or waiting: a row converting that
    // is to convert once more counts twice.
    std::size_t outstanding() const { return m_inWork.size() + m_waiting.size(); }

    // The job was handed to a worker; it is in work until workEnded.
    void workStarted(const ConversionJob& job);
    void workEnded(RowId row);

    // The job converts once its row and its file are no longer in work.
    void wait(const ConversionJob& job);
    // The rows were removed from the list: their waits are dropped. Work in
    // progress still ends through workEnded.
    void forgetWaits(const std::vector<RowId>& rows);
    void forgetAllWaits();
    // The waiting jobs that may start now, at most one per file, in the order
    // they began to wait. They no longer wait; hand them to workStarted.
    std::vector<ConversionJob> takeReady();

  private:
    std::map<RowId, QString> m_inWork;
    std::vector<ConversionJob> m_waiting;
};

}  // namespace quorvex::gui
