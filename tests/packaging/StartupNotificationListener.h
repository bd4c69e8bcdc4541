// A client of an X display that collects the startup-notification messages
// sent to its root window, the way a desktop's launch feedback hears them:
// pieces of 20 bytes, the first as _NET_STARTUP_INFO_BEGIN and the rest as
// _NET_STARTUP_INFO, put together per sending window up to a NUL.
#pragma once

#include <xcb/xcb.h>
#include <QByteArray>
#include <QList>
#include <QString>
#include <map>

namespace desktoptest {

class StartupNotificationListener {
  public:
    // Listens from the moment the constructor returns.
    explicit StartupNotificationListener(const QString& display);
    ~StartupNotificationListener();
    StartupNotificationListener(const StartupNotificationListener&) = delete;
    StartupNotificationListener& operator=(const StartupNotificationListener&) = delete;

    bool isConnected() const;
    // Every whole message heard so far, in the order they were completed.
    QList<QByteArray> messages();

  private:
    void take(const xcb_client_message_event_t& event);

    xcb_connection_t* m_connection = nullptr;
    xcb_atom_t m_begin = XCB_ATOM_NONE;
    xcb_atom_t m_more = XCB_ATOM_NONE;
    std::map<xcb_window_t, QByteArray> m_partial;
    QList<QByteArray> m_messages;
};

}  // namespace desktoptest
