#include "app/StopSignalWatcher.h"

#include <QSocketNotifier>

#include "engine/StopSignals.h"

namespace quorvex::gui {

StopSignalWatcher::StopSignalWatcher(QObject* parent) : QObject(parent) {
    const int notifier = StopSignals::notifier();
    if (notifier < 0) {
        return;  // no pipe: the last resort still ends the process
    }
    m_notifier = new QSocketNotifier(notifier, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignalWatcher::onReadable);
}

void StopSignalWatcher::onReadable() {
    // Drained, so that the notifier does not fire again for the same signals.
    StopSignals::drainNotifier();
    emit stopRequested(StopSignals::exitStatusFor(StopSignals::received()));
}

}  // namespace quorvex::gui
