#include "qt/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace trenn {
namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The platform names of QT_QPA_PLATFORM ("xcb", "wayland;xcb", "offscreen:fontengine=..."),
// without their options.
std::vector<std::string> RequestedPlatforms() {
    std::vector<std::string> names;
    const std::string list = Variable("QT_QPA_PLATFORM");
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(';', start), list.size());
        const std::string entry = list.substr(start, end - start);
        const std::string name = entry.substr(0, entry.find(':'));
        if (!name.empty()) names.push_back(name);
        start = end + 1;
    }
    return names;
}

bool CanReachX(const std::string& display) {
    // xcb_connect reads the display name, the authority file and the socket exactly as Qt's
    // xcb platform will.
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reached;
}

bool CanReachWayland(const std::string& display) {
    std::string path = display;
    if (path.empty() || path[0] != '/') {
        const std::string runtime = Variable("XDG_RUNTIME_DIR");
        if (runtime.empty()) return false;
        path = runtime + "/" + path;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool reached = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return reached;
}

}  // namespace

std::optional<std::string> UnreachableDisplay() {
    const std::vector<std::string> platforms = RequestedPlatforms();
    const auto requested = [&](const std::string& prefix) {
        for (const std::string& name : platforms) {
            if (name.compare(0, prefix.size(), prefix) == 0) return true;
        }
        return false;
    };
    // Without QT_QPA_PLATFORM Qt picks X11 or Wayland by itself; either will do.
    const bool anyDisplay = platforms.empty();
    const bool x11 = anyDisplay || requested("xcb");
    const bool wayland = anyDisplay || requested("wayland");
    if (!x11 && !wayland) return std::nullopt;  // offscreen, minimal, vnc, ...: Qt's own business

    const std::string xDisplay = x11 ? Variable("DISPLAY") : "";
    // A Wayland platform asked for by name falls back to the usual socket, as libwayland does.
    std::string waylandDisplay = wayland ? Variable("WAYLAND_DISPLAY") : "";
    if (wayland && !anyDisplay && waylandDisplay.empty()) waylandDisplay = "wayland-0";
    if (wayland && !Variable("WAYLAND_SOCKET").empty()) return std::nullopt;  // handed over open

    if (!xDisplay.empty() && CanReachX(xDisplay)) return std::nullopt;
    if (!waylandDisplay.empty() && CanReachWayland(waylandDisplay)) return std::nullopt;

    if (xDisplay.empty() && waylandDisplay.empty()) {
        if (!wayland) return "no display is set (DISPLAY is empty)";
        if (!x11) return "no display is set (WAYLAND_DISPLAY is empty)";
        return "no display is set (neither DISPLAY nor WAYLAND_DISPLAY)";
    }
    std::string tried;
    if (!xDisplay.empty()) tried = "the display \"" + xDisplay + "\"";
    if (!waylandDisplay.empty()) {
        tried += (tried.empty() ? "" : " or ") + std::string("the Wayland display \"") + waylandDisplay + "\"";
    }
    return "cannot connect to " + tried;
}

}  // namespace trenn
