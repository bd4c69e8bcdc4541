#include "app/ConvertEachThread.h"

#include <QFile>
#include <utility>

namespace quorvex::gui {

ConvertEachThread::ConvertEachThread(std::vector<ConversionJob> jobs, ConvertFunction convert,
                                     QObject* parent)
    : QObject(parent), m_jobs(std::move(jobs)), m_convert(std::move(convert)) {}

ConvertEachThread::~ConvertEachThread() {
    requestStop();
    wait();
}

void ConvertEachThread::start() {
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { run(); });
    }
}

void ConvertEachThread::requestStop() {
    m_stopRequested.store(true);
}

void ConvertEachThread::wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ConvertEachThread::run() {
    for (const ConversionJob& job : m_jobs) {
        if (m_stopRequested.load()) {
            return;
        }
        emit jobStarted(job.row);
        const ConversionOutcome outcome = convertOne(job);
        if (outcome.cancelled || m_stopRequested.load()) {
            return;
        }
        if (outcome.ok()) {
            emit jobFinished(job.row, true, QFile::decodeName(outcome.outputPath.c_str()), {});
        } else {
            emit jobFinished(job.row, false, job.path, QString::fromStdString(outcome.message));
        }
    }
    emit batchFinished();
}

ConversionOutcome ConvertEachThread::convertOne(const ConversionJob& job) const {
    ConversionRequest request;
    request.inputPath = QFile::encodeName(job.path).toStdString();
    request.cancel = &m_stopRequested;
    return m_convert(request);
}

}  // namespace quorvex::gui
