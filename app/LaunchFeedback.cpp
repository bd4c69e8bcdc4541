#include "app/LaunchFeedback.h"

#include <xcb/xcb.h>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quorvex::gui {

namespace {

// A startup message travels in client messages of 20 bytes each.
constexpr qsizetype kBytesPerMessage = 20;

struct FreeDeleter {
    void operator()(void* reply) const { std::free(reply); }
};

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

QByteArray quotedValue(const QByteArray& value) {
    const bool plain = std::none_of(value.begin(), value.end(),
                                    [](char c) { return c == ' ' || c == '"' || c == '\\'; });
    if (plain) {
        return value;
    }
    QByteArray quoted("\"");
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            quoted.append('\\');
        }
        quoted.append(c);
    }
    return quoted.append('"');
}

// Sends the message, with its closing NUL, to the root window as the desktop
// listens for it: the first piece as _NET_STARTUP_INFO_BEGIN, the rest as
// _NET_STARTUP_INFO, all from one window of this launch's own so that they
// are not mixed up with another launch's pieces.
void sendStartupMessage(xcb_connection_t* connection, const QByteArray& message) {
    // The screen the display names first; desktops listen on each root.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t begin = internAtom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = internAtom(connection, "_NET_STARTUP_INFO");
    const xcb_window_t sender = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);

    const QByteArray bytes = message + '\0';
    for (qsizetype start = 0; start < bytes.size(); start += kBytesPerMessage) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = start == 0 ? begin : more;
        const qsizetype length = std::min(kBytesPerMessage, bytes.size() - start);
        std::memcpy(event.data.data8, bytes.constData() + start, static_cast<size_t>(length));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, sender);
    // The launch exits next: a round trip makes sure the server has the
    // messages before the connection closes.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

}  // namespace

LaunchFeedback LaunchFeedback::fromEnvironment() {
    return {qgetenv("DESKTOP_STARTUP_ID"), qEnvironmentVariable("XDG_ACTIVATION_TOKEN")};
}

void LaunchFeedback::completeStartup() const {
    if (m_startupId.isEmpty() || qGuiApp == nullptr) {
        return;
    }
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 != nullptr && x11->connection() != nullptr) {
        sendStartupMessage(x11->connection(), startupRemoveMessage(m_startupId));
    }
}

QByteArray startupRemoveMessage(const QByteArray& startupId) {
    return QByteArrayLiteral("remove: ID=") + quotedValue(startupId);
}

}  // namespace quorvex::gui
