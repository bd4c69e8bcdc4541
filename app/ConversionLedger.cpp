#include "app/ConversionLedger.h"

#include <QSet>
#include <algorithm>
#include <utility>

namespace quorvex::gui {

bool ConversionLedger::isBusy(RowId row) const {
    return m_inWork.contains(row) ||
           std::any_of(m_waiting.begin(), m_waiting.end(),
                       [row](const ConversionJob& job) { return job.row == row; });
}

bool ConversionLedger::fileInWork(const QString& path) const {
    return std::any_of(m_inWork.begin(), m_inWork.end(),
                       [&path](const auto& entry) { return entry.second == path; });
}

void ConversionLedger::workStarted(const ConversionJob& job) {
    m_inWork[job.row] = job.path;
}

void ConversionLedger::workEnded(RowId row) {
    m_inWork.erase(row);
}

void ConversionLedger::wait(const ConversionJob& job) {
    const bool waiting =
        std::any_of(m_waiting.begin(), m_waiting.end(),
                    [&job](const ConversionJob& other) { return other.row == job.row; });
    if (!waiting) {
        m_waiting.push_back(job);
    }
}

void ConversionLedger::forgetWaits(const std::vector<RowId>& rows) {
    std::erase_if(m_waiting, [&rows](const ConversionJob& job) {
        return std::find(rows.begin(), rows.end(), job.row) != rows.end();
    });
}

void ConversionLedger::forgetAllWaits() {
    m_waiting.clear();
}

std::vector<ConversionJob> ConversionLedger::takeReady() {
    std::vector<ConversionJob> ready;
    std::vector<ConversionJob> stillWaiting;
    QSet<QString> filesTaken;
    for (ConversionJob& job : m_waiting) {
        if (m_inWork.contains(job.row) || fileInWork(job.path) || filesTaken.contains(job.path)) {
            stillWaiting.push_back(std::move(job));
        } else {
            filesTaken.insert(job.path);
            ready.push_back(std::move(job));
        }
    }
    m_waiting = std::move(stillWaiting);
    return ready;
}

}  // namespace quorvex::gui
