// Asks a window to close the way a window manager does when its close button is clicked: the
// ICCCM's WM_DELETE_WINDOW message. The virtual screens of the end-to-end tests run no window
// manager.
// usage: trenn-close-window WINDOW_ID   (decimal, as xdotool prints it; DISPLAY names the screen)

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t atom = XCB_ATOM_NONE;
    if (reply != nullptr) atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const unsigned long window = argc == 2 ? std::strtoul(argv[1], &end, 10) : 0;
    if (argc != 2 || end == argv[1] || *end != '\0' || window == 0) {
        std::fprintf(stderr, "usage: trenn-close-window WINDOW_ID\n");
        return 2;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "trenn-close-window: cannot connect to the display\n");
        return 1;
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window);
    message.type = Atom(connection, "WM_PROTOCOLS");
    message.data.data32[0] = Atom(connection, "WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    const xcb_void_cookie_t sent =
        xcb_send_event_checked(connection, 0, message.window, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&message));
    xcb_generic_error_t* error = xcb_request_check(connection, sent);
    xcb_disconnect(connection);
    if (error != nullptr) {
        std::fprintf(stderr, "trenn-close-window: no window %lu\n", window);
        std::free(error);
        return 1;
    }
    return 0;
}
