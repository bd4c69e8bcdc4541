// An X display of the test's own: an Xvfb server on the first free display
// number, stopped with the object.
#pragma once

#include <QProcess>
#include <QString>

namespace desktoptest {

class XvfbDisplay {
  public:
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // ":N" once the server takes connections; empty when it did not start.
    const QString& name() const { return m_name; }
    // Why the server did not start.
    QString failure();

  private:
    QProcess m_server;
    QString m_name;
};

}  // namespace desktoptest
