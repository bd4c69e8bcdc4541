#include "app/BatchProgress.h"

namespace quorvex::gui {

void BatchProgress::setOutstanding(std::size_t jobs) {
    m_outstanding = jobs;
    if (jobs == 0) {
        m_done = 0;
    }
}

QString BatchProgress::title(const QString& plainTitle) const {
    if (!running()) {
        return plainTitle;
    }
    return QStringLiteral("%1 \u2014 %2 of %3")
        .arg(plainTitle)
        .arg(static_cast<qulonglong>(done()))
        .arg(static_cast<qulonglong>(total()));
}

}  // namespace quorvex::gui
