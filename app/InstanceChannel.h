// One window per user and display: the first launch listens on a local socket
// named for both, and a later launch hands its files to that window instead
// of opening a second one on top of it.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QProcessEnvironment>
#include <QStringList>

class QLocalSocket;

namespace quorvex::gui {

class InstanceChannel : public QObject {
    Q_OBJECT

  public:
    // How long a launch waits for a running window to take its files before
    // it opens its own.
    static constexpr int kAnswerTimeoutMs = 1000;

    // The socket name for the user on the display the environment names
    // (WAYLAND_DISPLAY, else DISPLAY) and the Qt platform in use, so that a
    // window on another display or the offscreen one is never handed files.
    static QString serverName(const QProcessEnvironment& environment, const QString& platform);

    explicit InstanceChannel(QString name, QObject* parent = nullptr);

    // Hands the files, and the activation token the desktop gave this launch
    // (empty for none), to the window listening on the name. Returns whether
    // it confirmed taking them within timeoutMs.
    bool handOver(const QStringList& files, const QString& activationToken = {},
                  int timeoutMs = kAnswerTimeoutMs) const;

    // Takes the name for this window, from a launch that no longer answers
    // if need be; later launches then hand their files here.
    bool listen();

  signals:
    void filesHandedOver(const QStringList& files, const QString& activationToken);

  private:
    void readHandOver(QLocalSocket* socket);

    QString m_name;
    QLocalServer m_server;
};

}  // namespace quorvex::gui
