// A Wayland test program for the end-to-end tests on Wayland compositors: opens native
// xdg_shell windows with the titles a test asks for. Commands on standard input, one reply line
// each, once the compositor has seen what was asked:
//   open HEX W H             -> the window's app_id: a toplevel titled with the bytes HEX ("-":
//                               no title at all), W x H when the compositor leaves the size to it,
//                               shown (configured and drawn) by the time of the reply
//   title APP_ID HEX         -> ok     sets the title byte for byte ("-": empty)
//   close APP_ID             -> ok
//   minimise APP_ID          -> ok     asks the compositor to minimise it
//   many N PREFIX            -> ok     N windows titled PREFIX0, PREFIX1, ..., 64x48, all shown
//   panel top|left N         -> ok     a panel along that edge of the first output, N pixels deep,
//                                      reserving its strip (a layer-shell surface with an exclusive
//                                      zone); it stays until the program ends
// Each window's app_id is "topleft.test.N", N counting from 0. Whatever went wrong is the reply
// instead: "error " and what it was. The program ends when its standard input closes.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hex_text.h"
#include "layer-shell-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace {

wl_display* Display;
wl_compositor* Compositor;
wl_shm* Shm;
xdg_wm_base* WmBase;
zwlr_layer_shell_v1* LayerShell; // where the compositor offers panels to its clients

struct Window {
    std::string appId;
    int width, height; // what it draws when the compositor leaves the size to it
    wl_surface* surface = nullptr;
    xdg_surface* shell = nullptr;
    xdg_toplevel* toplevel = nullptr;
    int pendingWidth = 0, pendingHeight = 0;
    bool shown = false;
};
std::map<std::string, std::unique_ptr<Window>> Windows;
struct Panel {
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    bool shown = false;
};
std::vector<std::unique_ptr<Panel>> Panels;
int Opened = 0;
// The first thing that went wrong since the last reply, which reports it.
std::string Failure;
// Windows opened before the compositor is waited for: each draws a buffer whose file descriptor
// travels with it, and the connection holds only so many at a time.
constexpr int Batch = 32;

void Fail(const std::string& what)
{
    if (Failure.empty())
        Failure = what;
}

// Sends what is queued, waiting for the compositor to take it in whenever its socket is full.
bool Flush()
{
    while (wl_display_flush(Display) < 0) {
        if (errno != EAGAIN) {
            Fail(std::string("sending to the compositor: ") + std::strerror(errno));
            return false;
        }
        pollfd writable{wl_display_get_fd(Display), POLLOUT, 0};
        if (poll(&writable, 1, 10000) <= 0) {
            Fail("the compositor took nothing in for 10 seconds");
            return false;
        }
    }
    return true;
}

// One buffer of the surface's size, a light grey, released by the compositor when it is done.
void Draw(wl_surface* surface, int width, int height)
{
    const int stride = width * 4, size = stride * height;
    const int memory = memfd_create("wl_desktop", MFD_CLOEXEC);
    if (memory < 0 || ftruncate(memory, size) != 0) {
        Fail(std::string("a buffer: ") + std::strerror(errno));
        if (memory >= 0)
            close(memory);
        return;
    }
    void* pixels = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    std::memset(pixels, 0xD0, static_cast<std::size_t>(size));
    munmap(pixels, static_cast<std::size_t>(size));
    wl_shm_pool* pool = wl_shm_create_pool(Shm, memory, size);
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(memory);
    static const wl_buffer_listener released = {[](void*, wl_buffer* done) { wl_buffer_destroy(done); }};
    wl_buffer_add_listener(buffer, &released, nullptr);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage_buffer(surface, 0, 0, width, height);
    wl_surface_commit(surface);
    Flush();
}

const xdg_toplevel_listener ToplevelListener = {
    [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
        auto* window = static_cast<Window*>(data);
        window->pendingWidth = width;
        window->pendingHeight = height;
    },
    [](void*, xdg_toplevel*) {}, // close: the test decides when windows go
    [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {}, // bounds: none are kept to
    [](void*, xdg_toplevel*, wl_array*) {},
};

const xdg_surface_listener ShellListener = {
    [](void* data, xdg_surface* shell, std::uint32_t serial) {
        auto* window = static_cast<Window*>(data);
        xdg_surface_ack_configure(shell, serial);
        Draw(window->surface, window->pendingWidth > 0 ? window->pendingWidth : window->width,
             window->pendingHeight > 0 ? window->pendingHeight : window->height);
        window->shown = true;
    },
};

const zwlr_layer_surface_v1_listener PanelListener = {
    [](void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width, std::uint32_t height) {
        auto* panel = static_cast<Panel*>(data);
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        Draw(panel->surface, static_cast<int>(width), static_cast<int>(height));
        panel->shown = true;
    },
    [](void*, zwlr_layer_surface_v1*) {}, // closed: the test's panel lives as long as the program
};

const xdg_wm_base_listener WmBaseListener = {
    [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

const wl_registry_listener RegistryListener = {
    [](void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
        if (std::strcmp(interface, wl_compositor_interface.name) == 0)
            Compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
        else if (std::strcmp(interface, wl_shm_interface.name) == 0)
            Shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
        else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
            WmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0)
            LayerShell =
                static_cast<zwlr_layer_shell_v1*>(wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
    },
    [](void*, wl_registry*, std::uint32_t) {},
};

Window& Open(const std::string* title, int width, int height)
{
    auto window = std::make_unique<Window>();
    window->appId = "topleft.test." + std::to_string(Opened++);
    window->width = width;
    window->height = height;
    window->surface = wl_compositor_create_surface(Compositor);
    window->shell = xdg_wm_base_get_xdg_surface(WmBase, window->surface);
    xdg_surface_add_listener(window->shell, &ShellListener, window.get());
    window->toplevel = xdg_surface_get_toplevel(window->shell);
    xdg_toplevel_add_listener(window->toplevel, &ToplevelListener, window.get());
    xdg_toplevel_set_app_id(window->toplevel, window->appId.c_str());
    if (title)
        xdg_toplevel_set_title(window->toplevel, title->c_str());
    // The first commit, with nothing attached, asks for the first configure.
    wl_surface_commit(window->surface);
    Window& opened = *window;
    Windows[opened.appId] = std::move(window);
    return opened;
}

// A panel along the top or left edge, N deep and as long as the edge, above the windows.
void OpenPanel(const std::string& edge, int depth)
{
    enum : std::uint32_t { Top = 1, Bottom = 2, Left = 4, Right = 8 }; // the protocol's anchors
    enum : std::uint32_t { TopLayer = 2 };
    if (!LayerShell || (edge != "top" && edge != "left") || depth <= 0) {
        Fail(LayerShell ? "panel top|left DEPTH" : "the compositor offers no layer shell");
        return;
    }
    auto panel = std::make_unique<Panel>();
    panel->surface = wl_compositor_create_surface(Compositor);
    panel->layer = zwlr_layer_shell_v1_get_layer_surface(LayerShell, panel->surface, nullptr, TopLayer, "panel");
    zwlr_layer_surface_v1_add_listener(panel->layer, &PanelListener, panel.get());
    const bool top = edge == "top";
    // The length is left to the compositor (0), stretched between the two anchored ends.
    zwlr_layer_surface_v1_set_anchor(panel->layer, top ? Top | Left | Right : Left | Top | Bottom);
    zwlr_layer_surface_v1_set_size(panel->layer, top ? 0 : static_cast<std::uint32_t>(depth),
                                   top ? static_cast<std::uint32_t>(depth) : 0);
    zwlr_layer_surface_v1_set_exclusive_zone(panel->layer, depth);
    wl_surface_commit(panel->surface);
    Panels.push_back(std::move(panel));
}

void Close(Window& window)
{
    xdg_toplevel_destroy(window.toplevel);
    xdg_surface_destroy(window.shell);
    wl_surface_destroy(window.surface);
}

// Waits until every window opened has been configured and drawn, and the compositor has seen it.
void Settle()
{
    for (;;) {
        bool all = true;
        for (const auto& entry : Windows)
            all = all && entry.second->shown;
        for (const auto& panel : Panels)
            all = all && panel->shown;
        if (all || !Failure.empty())
            break;
        if (!Flush() || wl_display_dispatch(Display) < 0) {
            Fail(std::string("the compositor went away: ") + std::strerror(wl_display_get_error(Display)));
            return;
        }
    }
    if (wl_display_roundtrip(Display) < 0)
        Fail(std::string("the compositor went away: ") + std::strerror(wl_display_get_error(Display)));
}

} // namespace

int main()
{
    Display = wl_display_connect(nullptr);
    if (!Display) {
        std::fprintf(stderr, "wl_desktop: no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(Display);
    wl_registry_add_listener(registry, &RegistryListener, nullptr);
    wl_display_roundtrip(Display);
    if (!Compositor || !Shm || !WmBase) {
        std::fprintf(stderr, "wl_desktop: the compositor lacks xdg_shell or wl_shm\n");
        return 1;
    }
    xdg_wm_base_add_listener(WmBase, &WmBaseListener, nullptr);

    // Commands and the compositor's events, both as they come: a compositor pings its clients.
    std::string buffered;
    pollfd watched[2] = {{0, POLLIN, 0}, {wl_display_get_fd(Display), POLLIN, 0}};
    for (;;) {
        wl_display_flush(Display);
        if (poll(watched, 2, -1) < 0)
            continue;
        if (watched[1].revents & POLLIN) {
            if (wl_display_dispatch(Display) < 0)
                return 1;
        }
        if (!(watched[0].revents & (POLLIN | POLLHUP)))
            continue;
        char chunk[4096];
        const ssize_t got = read(0, chunk, sizeof chunk);
        if (got <= 0)
            break;
        buffered.append(chunk, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = buffered.find('\n')) != std::string::npos) {
            std::istringstream words(buffered.substr(0, end));
            buffered.erase(0, end + 1);
            std::string command, reply = "ok";
            words >> command;
            if (command == "open") {
                std::string hex;
                int width = 0, height = 0;
                words >> hex >> width >> height;
                const std::string title = BytesOfHex(hex);
                reply = Open(hex == "-" ? nullptr : &title, width, height).appId;
            } else if (command == "title") {
                std::string appId, hex;
                words >> appId >> hex;
                if (const auto found = Windows.find(appId); found != Windows.end())
                    xdg_toplevel_set_title(found->second->toplevel, BytesOfHex(hex).c_str());
            } else if (command == "close") {
                std::string appId;
                words >> appId;
                if (const auto found = Windows.find(appId); found != Windows.end()) {
                    Close(*found->second);
                    Windows.erase(found);
                }
            } else if (command == "minimise") {
                std::string appId;
                words >> appId;
                if (const auto found = Windows.find(appId); found != Windows.end())
                    xdg_toplevel_set_minimized(found->second->toplevel);
            } else if (command == "many") {
                int count = 0;
                std::string prefix;
                words >> count >> prefix;
                for (int i = 0; i < count && Failure.empty(); ++i) {
                    const std::string title = prefix + std::to_string(i);
                    Open(&title, 64, 48);
                    if ((i + 1) % Batch == 0)
                        Settle();
                }
            } else if (command == "panel") {
                std::string edge;
                int depth = 0;
                words >> edge >> depth;
                OpenPanel(edge, depth);
            } else {
                reply = "unknown command";
            }
            Settle();
            std::cout << (Failure.empty() ? reply : "error " + Failure) << std::endl;
            Failure.clear();
        }
    }
    wl_display_disconnect(Display);
    return 0;
}
