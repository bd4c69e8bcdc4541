#include "XvfbDisplay.h"

namespace desktoptest {

namespace {

constexpr int kStartTimeoutMs = 20000;

}  // namespace

XvfbDisplay::XvfbDisplay() {
    // -displayfd: the server picks a free display number and writes it to
    // standard output once it takes connections, so tests running side by
    // side never share a display.
    m_server.start(QStringLiteral("Xvfb"),
                   {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
    if (!m_server.waitForStarted(kStartTimeoutMs)) {
        return;
    }
    QByteArray number;
    while (!number.contains('\n') && m_server.waitForReadyRead(kStartTimeoutMs)) {
        number += m_server.readAllStandardOutput();
    }
    if (number.contains('\n')) {
        m_name = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    }
}

XvfbDisplay::~XvfbDisplay() {
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(kStartTimeoutMs)) {
            m_server.kill();
            m_server.waitForFinished();
        }
    }
}

QString XvfbDisplay::failure() {
    return QStringLiteral("Xvfb did not start: %1 %2")
        .arg(m_server.errorString(), QString::fromLocal8Bit(m_server.readAllStandardError()));
}

}  // namespace desktoptest
