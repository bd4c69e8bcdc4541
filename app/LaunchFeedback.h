// The desktop follows a launch from the click until the program's window
// shows: a busy cursor, a pulsing taskbar entry. It gives the launch a name to
// end that by, DESKTOP_STARTUP_ID on X11 and XDG_ACTIVATION_TOKEN on Wayland.
// A launch that hands its files to the window already open never shows a
// window of its own, so it ends the feedback itself: on X11 it says the
// startup is complete; on Wayland it passes its token to the open window,
// which comes to the front with it.
#pragma once

#include <QByteArray>
#include <QString>
#include <utility>

namespace quorvex::gui {

class LaunchFeedback {
  public:
    // Must run before the QApplication exists: Qt's X11 connection takes
    // DESKTOP_STARTUP_ID out of the environment as it opens.
    static LaunchFeedback fromEnvironment();

    LaunchFeedback() = default;
    LaunchFeedback(QByteArray startupId, QString activationToken)
        : m_startupId(std::move(startupId)), m_activationToken(std::move(activationToken)) {}

    const QByteArray& startupId() const { return m_startupId; }
    const QString& activationToken() const { return m_activationToken; }

    // On X11, tells the desktop the startup with this launch's ID is
    // complete. Does nothing on other platforms or without an ID.
    void completeStartup() const;

  private:
    QByteArray m_startupId;
    QString m_activationToken;
};

// The startup-notification message that ends the startup with this ID:
// `remove: ID=...`, the value quoted when it holds a space, quote or
// backslash.
QByteArray startupRemoveMessage(const QByteArray& startupId);

}  // namespace quorvex::gui
