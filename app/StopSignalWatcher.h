// SIGTERM (a logout), SIGHUP and SIGINT reach the window through its event
// loop: the signal handler only writes to a pipe, which this watches, so the
// window closes the normal way, stopping its conversions, which remove what
// they were writing.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace quorvex::gui {

class StopSignalWatcher : public QObject {
    Q_OBJECT

  public:
    // Installs the process's stop-signal handlers when they are not yet.
    explicit StopSignalWatcher(QObject* parent = nullptr);

  signals:
    // A stop signal arrived; the process should end with `exitStatus`.
    void stopRequested(int exitStatus);

  private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace quorvex::gui
