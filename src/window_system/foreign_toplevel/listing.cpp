// The foreign-toplevel backend: the window-system calls on a Wayland compositor that has no
// interface of its own for other programs but offers the wlr foreign-toplevel protocol (labwc,
// Wayfire, Hyprland, niri): every toplevel, native or XWayland, with its title, program and
// states. A handle carries the toplevel's place in the order the compositor announced them,
// which holds for the whole run. This part connects and lists; move.cpp brings a window to the
// top, and an X11 program's window to the corner through XWayland.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "window_system/backends.h"
#include "window_system/foreign_toplevel/toplevels.h"
#include "window_system/last_error.h"
#include "window_system/title.h"

namespace foreign_toplevel {

Session Desk;

namespace {

// libwayland's own complaints would be lines of their own on standard error: the run says what
// went wrong in its one line.
void Quiet(const char* /*format*/, va_list /*arguments*/) { }

// The compositor's name, as its process calls itself, for messages; where it cannot be known,
// words that stand for it.
std::string CompositorName(int socket)
{
    ucred peer{};
    socklen_t length = sizeof peer;
    std::string name;
    // Read with the system's calls: the C++ library's streams would bring their locales along.
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid > 0)
        if (const int comm = open(("/proc/" + std::to_string(peer.pid) + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
            comm >= 0) {
            char text[64];
            const ssize_t got = read(comm, text, sizeof text - 1);
            close(comm);
            name.assign(text, got > 0 ? static_cast<std::size_t>(got) : 0);
            name.erase(std::min(name.find('\n'), name.size()));
        }
    // A name of the process's own choosing, shown and never obeyed.
    return name.empty() ? "the compositor" : VisibleTitle(name.c_str(), true, CharsetOf(GetConsoleOutputCP()));
}

void OnTitle(void* data, Handle* /*handle*/, const char* title)
{
    static_cast<Toplevel*>(data)->newTitle = Utf8Text(title ? title : "");
}

void OnAppId(void* data, Handle* /*handle*/, const char* appId)
{
    static_cast<Toplevel*>(data)->newAppId = Utf8Text(appId ? appId : "");
}

void OnOutput(void* /*data*/, Handle* /*handle*/, wl_proxy* /*output*/) { }

void OnState(void* data, Handle* /*handle*/, wl_array* state)
{
    std::vector<std::uint32_t> states;
    if (state && state->data)
        for (std::size_t i = 0; i + sizeof(std::uint32_t) <= state->size; i += sizeof(std::uint32_t)) {
            std::uint32_t value;
            std::memcpy(&value, static_cast<const char*>(state->data) + i, sizeof value);
            states.push_back(value);
        }
    static_cast<Toplevel*>(data)->newStates = std::move(states);
}

void OnDone(void* data, Handle* /*handle*/)
{
    Toplevel& toplevel = *static_cast<Toplevel*>(data);
    if (toplevel.newTitle)
        toplevel.title = *std::exchange(toplevel.newTitle, std::nullopt);
    if (toplevel.newAppId)
        toplevel.appId = *std::exchange(toplevel.newAppId, std::nullopt);
    if (toplevel.newStates) {
        const auto has = [&](std::uint32_t state) {
            return std::find(toplevel.newStates->begin(), toplevel.newStates->end(), state) !=
                toplevel.newStates->end();
        };
        toplevel.activated = has(Activated);
        toplevel.minimised = has(Minimized);
        toplevel.maximised = has(Maximized);
        toplevel.newStates.reset();
    }
    toplevel.told = true;
}

// A toplevel that closed is no more: its handle is given back, as the protocol asks.
void OnClosed(void* data, Handle* handle)
{
    static_cast<Toplevel*>(data)->closed = true;
    wl_proxy_marshal_flags(reinterpret_cast<wl_proxy*>(handle), Destroy, nullptr,
                           wl_proxy_get_version(reinterpret_cast<wl_proxy*>(handle)), WL_MARSHAL_FLAG_DESTROY);
}

void OnParent(void* /*data*/, Handle* /*handle*/, Handle* /*parent*/) { }

const HandleListener Listener = {OnTitle, OnAppId, OnOutput, OnOutput, OnState, OnDone, OnClosed, OnParent};

void OnToplevel(void* /*data*/, Manager* /*manager*/, Handle* handle)
{
    Desk.toplevels.push_back(std::make_unique<Toplevel>());
    Desk.toplevels.back()->handle = handle;
    wl_proxy_add_listener(reinterpret_cast<wl_proxy*>(handle),
                          reinterpret_cast<void (**)(void)>(const_cast<HandleListener*>(&Listener)),
                          Desk.toplevels.back().get());
}

void OnFinished(void* /*data*/, Manager* /*manager*/) { Desk.finished = true; }

const ManagerListener Managed = {OnToplevel, OnFinished};

// The globals the compositor offers: its foreign-toplevel manager and a seat to activate with.
struct RegistryListener {
    void (*global)(void* data, wl_proxy* registry, std::uint32_t name, const char* interface, std::uint32_t version);
    void (*global_remove)(void* data, wl_proxy* registry, std::uint32_t name);
};

void OnGlobal(void* /*data*/, wl_proxy* /*registry*/, std::uint32_t name, const char* interface, std::uint32_t version)
{
    if (!interface)
        return;
    if (std::strcmp(interface, ManagerName) == 0 && Desk.managerName == 0) {
        Desk.managerName = name;
        Desk.managerVersion = std::min(version, ManagerVersion);
    } else if (std::strcmp(interface, "wl_seat") == 0 && Desk.seatName == 0) {
        Desk.seatName = name;
    }
}

void OnGlobalRemove(void* /*data*/, wl_proxy* /*registry*/, std::uint32_t /*name*/) { }

const RegistryListener Globals = {OnGlobal, OnGlobalRemove};

// A global bound at the version given: wl_registry.bind, whose new object names its interface.
wl_proxy* Bind(std::uint32_t name, const wl_interface& interface, std::uint32_t version)
{
    constexpr std::uint32_t RegistryBind = 0;
    return wl_proxy_marshal_flags(Desk.registry, RegistryBind, &interface, version, 0, name, interface.name, version,
                                  nullptr);
}

struct CallbackListener {
    void (*done)(void* data, wl_proxy* callback, std::uint32_t serial);
};

void OnSynced(void* data, wl_proxy* /*callback*/, std::uint32_t /*serial*/) { *static_cast<bool*>(data) = true; }

const CallbackListener Synced = {OnSynced};

BOOL Broken() { return Fail(ERROR_BROKEN_PIPE, Desk.compositor + " closed the connection"); }

} // namespace

BOOL Await(const std::function<bool()>& reached, Clock::time_point until)
{
    wl_display* display = Desk.display;
    for (;;) {
        if (wl_display_get_error(display))
            return Broken();
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0)
                return Broken();
        if (reached()) {
            wl_display_cancel_read(display);
            return TRUE;
        }
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            return Broken();
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) {
            wl_display_cancel_read(display);
            return Fail(ERROR_TIMEOUT, Desk.compositor + " did not answer");
        }
        pollfd ready{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left)) > 0) {
            if (wl_display_read_events(display) < 0)
                return Broken();
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0)
            return Broken();
    }
}

std::unique_ptr<Sync> AskSync()
{
    constexpr std::uint32_t DisplaySync = 0;
    auto* display = reinterpret_cast<wl_proxy*>(Desk.display);
    auto sync = std::make_unique<Sync>();
    sync->callback = wl_proxy_marshal_flags(display, DisplaySync, WaylandLibrary().callback,
                                            wl_proxy_get_version(display), 0, nullptr);
    if (sync->callback)
        wl_proxy_add_listener(sync->callback, reinterpret_cast<void (**)(void)>(const_cast<CallbackListener*>(&Synced)),
                              &sync->done);
    wl_display_flush(Desk.display);
    return sync;
}

BOOL AwaitSync(std::unique_ptr<Sync> sync)
{
    if (!sync || !sync->callback)
        return Broken();
    const BOOL answered = Await([&sync] { return sync->done; }, Clock::now() + Patience);
    wl_proxy_destroy(sync->callback);
    return answered;
}

BOOL Roundtrip() { return AwaitSync(AskSync()); }

HWND HandleOf(std::size_t index) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(index + 1)); }

Toplevel* Find(HWND handle)
{
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    return index >= 1 && index <= Desk.toplevels.size() ? Desk.toplevels[index - 1].get() : nullptr;
}

HWND X11WindowOf(HWND handle)
{
    const auto bits = reinterpret_cast<std::uintptr_t>(handle);
    return bits & X11Only ? reinterpret_cast<HWND>(bits & ~X11Only) : nullptr;
}

bool Names(const x11::Named& window, const Toplevel& toplevel)
{
    char title[128];
    WindowText(&toplevel.title, title, sizeof title);
    const std::string& program = toplevel.appId;
    return window.kept && window.title == title &&
        (program.empty() ? window.instance.empty() && window.kind.empty()
                         : program == window.instance || program == window.kind);
}

Reach Connect()
{
    wl_log_set_handler_client(Quiet);
    Desk.display = wl_display_connect(nullptr);
    if (!Desk.display)
        return Reach::None;
    Desk.compositor = CompositorName(wl_display_get_fd(Desk.display));
    constexpr std::uint32_t DisplayGetRegistry = 1;
    auto* display = reinterpret_cast<wl_proxy*>(Desk.display);
    Desk.registry = wl_proxy_marshal_flags(display, DisplayGetRegistry, WaylandLibrary().registry,
                                           wl_proxy_get_version(display), 0, nullptr);
    if (!Desk.registry)
        return Reach::Silent;
    wl_proxy_add_listener(Desk.registry, reinterpret_cast<void (**)(void)>(const_cast<RegistryListener*>(&Globals)),
                          nullptr);
    if (!Roundtrip())
        return Reach::Silent;
    if (Desk.managerName == 0) {
        wl_proxy_destroy(Desk.registry);
        wl_display_disconnect(Desk.display);
        Desk = {};
        return Reach::None;
    }
    if (Desk.seatName != 0)
        Desk.seat = Bind(Desk.seatName, *WaylandLibrary().seat, 1);
    Desk.manager = reinterpret_cast<Manager*>(Bind(Desk.managerName, ManagerInterface(), Desk.managerVersion));
    wl_proxy_add_listener(reinterpret_cast<wl_proxy*>(Desk.manager),
                          reinterpret_cast<void (**)(void)>(const_cast<ManagerListener*>(&Managed)), nullptr);
    // The toplevels come while XWayland, where the compositor runs one, is connected to: an X11
    // program's window is placed through it.
    Desk.told = AskSync();
    Desk.x11 = x11::Connect();
    return Reach::Toplevel;
}

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    // The toplevels announced on binding and all they are, told before the answer to a sync, and
    // XWayland's windows, read while the compositor answers.
    std::unique_ptr<Sync> sync = Desk.told ? std::move(Desk.told) : AskSync();
    const std::vector<x11::Named> xWindows = Desk.x11 ? x11::NamedWindows() : std::vector<x11::Named>{};
    if (!AwaitSync(std::move(sync)))
        return FALSE;
    // The protocol tells no stacking. The active window is on top; the others follow in the order
    // the compositor announces them (wlroots' compositors, labwc among them, newest first).
    std::vector<HWND> order;
    for (std::size_t i = 0; i < Desk.toplevels.size(); ++i)
        if (!Desk.toplevels[i]->closed && !Desk.toplevels[i]->title.empty())
            order.push_back(HandleOf(i));
    std::stable_partition(order.begin(), order.end(), [](HWND h) { return Find(h)->activated; });
    // Then XWayland's windows that its window manager keeps but stand for no toplevel, as the X11
    // listing has them: a window that takes no focus, such as a clock, is one the compositor
    // leaves out, yet people see it.
    for (const x11::Named& window : xWindows)
        if (!window.title.empty() && window.kept &&
            std::none_of(Desk.toplevels.begin(), Desk.toplevels.end(),
                         [&](const auto& toplevel) { return !toplevel->closed && Names(window, *toplevel); }))
            order.push_back(reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(window.window) | X11Only));
    for (const HWND handle : order)
        if (!lpEnumFunc(handle, lParam))
            break;
    return TRUE;
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    if (const HWND window = X11WindowOf(hWnd))
        return x11::GetWindowTextA(window, lpString, nMaxCount);
    const Toplevel* toplevel = Find(hWnd);
    return WindowText(toplevel ? &toplevel->title : nullptr, lpString, nMaxCount);
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    if (const HWND window = X11WindowOf(hWnd))
        return x11::GetWindowRect(window, lpRect);
    const Toplevel* toplevel = Find(hWnd);
    if (!toplevel || toplevel->closed)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const Match match = MatchOf(*toplevel);
    if (match.kind == Match::X11)
        return x11::GetWindowRect(match.window, lpRect);
    // Where a native window is, no program is told.
    *lpRect = {0, 0, 0, 0};
    return TRUE;
}

BOOL IsWindowVisible(HWND hWnd)
{
    if (const HWND window = X11WindowOf(hWnd))
        return x11::IsWindowVisible(window);
    const Toplevel* toplevel = Find(hWnd);
    return toplevel && !toplevel->closed && !toplevel->minimised;
}

BOOL IsZoomed(HWND hWnd)
{
    if (const HWND window = X11WindowOf(hWnd))
        return x11::IsZoomed(window);
    const Toplevel* toplevel = Find(hWnd);
    return toplevel && !toplevel->closed && toplevel->maximised;
}

// The monitors are XWayland's, laid out as the compositor's outputs; with no XWayland, none.
HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) { return Desk.x11 ? x11::MonitorFromPoint(pt, dwFlags) : nullptr; }

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi)
{
    return Desk.x11 ? x11::GetMonitorInfoA(hMonitor, lpmi) : FALSE;
}

} // namespace foreign_toplevel
