#include "StartupNotificationListener.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace desktoptest {

namespace {

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace

StartupNotificationListener::StartupNotificationListener(const QString& display)
    : m_connection(xcb_connect(display.toLocal8Bit().constData(), nullptr)) {
    if (!isConnected()) {
        return;
    }
    m_begin = internAtom(m_connection, "_NET_STARTUP_INFO_BEGIN");
    m_more = internAtom(m_connection, "_NET_STARTUP_INFO");
    // The messages go to the root window for clients that listen for its
    // property changes.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &events);
    // A round trip: the server listens for us before the constructor returns.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

StartupNotificationListener::~StartupNotificationListener() {
    if (m_connection != nullptr) {
        xcb_disconnect(m_connection);
    }
}

bool StartupNotificationListener::isConnected() const {
    return m_connection != nullptr && xcb_connection_has_error(m_connection) == 0;
}

QList<QByteArray> StartupNotificationListener::messages() {
    if (!isConnected()) {
        return m_messages;
    }
    while (const std::unique_ptr<xcb_generic_event_t, FreeDeleter> event{
        xcb_poll_for_event(m_connection)}) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            take(*reinterpret_cast<const xcb_client_message_event_t*>(event.get()));
        }
    }
    return m_messages;
}

void StartupNotificationListener::take(const xcb_client_message_event_t& event) {
    if (event.format != 8 || (event.type != m_begin && event.type != m_more)) {
        return;
    }
    QByteArray& message = m_partial[event.window];
    if (event.type == m_begin) {
        message.clear();
    }
    const auto* piece = reinterpret_cast<const char*>(event.data.data8);
    message.append(piece, sizeof(event.data.data8));
    if (const qsizetype end = message.indexOf('\0'); end >= 0) {
        m_messages.append(message.left(end));
        m_partial.erase(event.window);
    }
}

}  // namespace desktoptest
