// The X11 backend's monitors: RandR 1.5's list, the one desktop environments lay out by, or
// Xinerama's screens where the server has no RandR 1.5. Each one's free space is the monitor less
// what the panels reserve along its edges: where there is one monitor, the manager's own figure
// (_NET_WORKAREA, one rectangle for all monitors, which covers its own panels and the struts it
// honours), taken only from a manager that is running and says it keeps one; under i3, the workspaces it shows;
// otherwise the struts of the mapped windows that declare one (_NET_WM_STRUT_PARTIAL, else _NET_WM_STRUT), each cut to
// the monitor whose edge it lies on, and the manager's per-monitor figure where it gives one (_GTK_WORKAREAS_D<n>).
// With no window manager nobody keeps a panel above other windows, and the window raised to the top is seen whole: the
// free space is then the whole monitor. The layout is asked for with the listing's requests and with the look a move
// starts from, so that its replies come with theirs; replies older than a moment are asked for again. A monitor's name,
// an atom, is read only when a message needs it.
#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>
#include <xcb/xinerama.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "window_system/i3/ipc.h"
#include "window_system/x11/display.h"

namespace x11 {

namespace {

using Clock = std::chrono::steady_clock;
// Replies this old no longer tell how the desktop is.
constexpr std::chrono::milliseconds Fresh{100};

struct Layout {
    bool asked = false;
    Clock::time_point askedAt;
    xcb_randr_get_monitors_cookie_t cookie{};
    xcb_get_property_cookie_t workArea{}, currentDesktop{}, i3Socket{}, supported{};
    ManagerCheck check{};
    xcb_get_window_attributes_cookie_t rootAttributes{};
    std::optional<std::vector<Monitor>> monitors;
    std::vector<xcb_atom_t> names; // RandR's name of each monitor, XCB_NONE for Xinerama's
};
Layout Desk;

std::vector<Monitor> FromRandr(const xcb_randr_get_monitors_reply_t* reply)
{
    std::vector<Monitor> monitors;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem; xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t& info = *it.data;
        const RECT area{info.x, info.y, info.x + info.width, info.y + info.height};
        monitors.push_back({"", area, area, info.primary != 0});
        Desk.names.push_back(info.name);
    }
    return monitors;
}

std::vector<Monitor> FromXinerama(Display& x)
{
    std::vector<Monitor> monitors;
    const xcb_query_extension_reply_t* xinerama = xcb_get_extension_data(x.connection, &xcb_xinerama_id);
    if (!xinerama || !xinerama->present)
        return monitors;
    const Owned<xcb_xinerama_query_screens_reply_t> screens{
        xcb_xinerama_query_screens_reply(x.connection, xcb_xinerama_query_screens(x.connection), nullptr)};
    if (!screens)
        return monitors;
    const xcb_xinerama_screen_info_t* info = xcb_xinerama_query_screens_screen_info(screens.get());
    for (int i = 0; i < xcb_xinerama_query_screens_screen_info_length(screens.get()); ++i) {
        const RECT area{info[i].x_org, info[i].y_org, info[i].x_org + info[i].width, info[i].y_org + info[i].height};
        monitors.push_back({"screen " + std::to_string(i), area, area, false});
        Desk.names.push_back(XCB_NONE);
    }
    return monitors;
}

RECT Intersection(const RECT& a, const RECT& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

bool Empty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

// What one window reserves: its width along each edge of the screen and the stretch of that edge,
// as _NET_WM_STRUT_PARTIAL has them (left, right, top, bottom, then start and end of each).
struct Strut {
    std::uint32_t value[12];
};

// A strut cut to the monitor whose edge it lies on: a reservation that reaches past the monitor
// is for a monitor beyond it (panels are declared against the edges of the whole screen).
void Reserve(RECT& work, const RECT& area, const Strut& strut, LONG screenWidth, LONG screenHeight)
{
    const auto along = [](LONG from, LONG to, std::uint32_t start, std::uint32_t end) {
        return static_cast<LONG>(start) < to && static_cast<LONG>(end) >= from;
    };
    const std::uint32_t* s = strut.value;
    const LONG left = static_cast<LONG>(s[0]), right = screenWidth - static_cast<LONG>(s[1]);
    const LONG top = static_cast<LONG>(s[2]), bottom = screenHeight - static_cast<LONG>(s[3]);
    if (s[0] && left > area.left && left < area.right && along(area.top, area.bottom, s[4], s[5]))
        work.left = std::max(work.left, left);
    if (s[1] && right > area.left && right < area.right && along(area.top, area.bottom, s[6], s[7]))
        work.right = std::min(work.right, right);
    if (s[2] && top > area.top && top < area.bottom && along(area.left, area.right, s[8], s[9]))
        work.top = std::max(work.top, top);
    if (s[3] && bottom > area.top && bottom < area.bottom && along(area.left, area.right, s[10], s[11]))
        work.bottom = std::min(work.bottom, bottom);
}

// i3 keeps its bars and docks in its own containers and publishes no work area: the rectangle of
// the workspace shown on each output, as its IPC tells, is what they leave free.
void TakeOffI3Bars(const std::string& socket, std::vector<Monitor>& monitors)
{
    constexpr int AnswerMs = 1000;
    std::optional<i3ipc::Connection> i3 = i3ipc::Connection::Open(socket);
    if (!i3)
        return;
    for (const i3ipc::ShownWorkspace& shown : i3ipc::ShownWorkspaces(*i3, AnswerMs)) {
        const RECT area{shown.x, shown.y, shown.x + shown.width, shown.y + shown.height};
        for (Monitor& monitor : monitors)
            if (const RECT work = Intersection(monitor.work, area); !Empty(work))
                monitor.work = work;
    }
}

// The struts of the mapped windows among the root's children and the clients the manager lists,
// and its per-monitor work areas for the desktop in view, in two batches: a pass over every
// window, for where the manager's own figure does not tell.
void TakeOffPanels(Display& x, std::vector<Monitor>& monitors, std::uint32_t desktop)
{
    xcb_connection_t* c = x.connection;
    const std::string gtkName = "_GTK_WORKAREAS_D" + std::to_string(desktop);
    const auto gtkAtom = xcb_intern_atom(c, 1, static_cast<std::uint16_t>(gtkName.size()), gtkName.c_str());
    const auto tree = xcb_query_tree(c, x.root);
    const auto clientList = xcb_ewmh_get_client_list(&x.ewmh, x.screenNumber);
    std::vector<xcb_window_t> windows;
    if (const Owned<xcb_query_tree_reply_t> reply{xcb_query_tree_reply(c, tree, nullptr)}) {
        const xcb_window_t* children = xcb_query_tree_children(reply.get());
        windows.assign(children, children + xcb_query_tree_children_length(reply.get()));
    }
    xcb_ewmh_get_windows_reply_t list;
    if (xcb_ewmh_get_client_list_reply(&x.ewmh, clientList, &list, nullptr)) {
        windows.insert(windows.end(), list.windows, list.windows + list.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    const Owned<xcb_intern_atom_reply_t> gtk{xcb_intern_atom_reply(c, gtkAtom, nullptr)};

    struct Asked {
        xcb_window_t window;
        xcb_get_property_cookie_t partial, plain;
    };
    std::vector<Asked> asked;
    asked.reserve(windows.size());
    for (const xcb_window_t window : windows)
        asked.push_back({window, xcb_get_property(c, 0, window, x.ewmh._NET_WM_STRUT_PARTIAL, XCB_ATOM_CARDINAL, 0, 12),
                         xcb_get_property(c, 0, window, x.ewmh._NET_WM_STRUT, XCB_ATOM_CARDINAL, 0, 4)});
    const auto gtkAreas = gtk && gtk->atom != XCB_NONE
        ? xcb_get_property(c, 0, x.root, gtk->atom, XCB_ATOM_CARDINAL, 0, 4 * 64)
        : xcb_get_property_cookie_t{};
    struct Panel {
        Strut strut;
        xcb_get_window_attributes_cookie_t mapped;
    };
    std::vector<Panel> panels;
    for (const Asked& a : asked) {
        const Owned<xcb_get_property_reply_t> partial{xcb_get_property_reply(c, a.partial, nullptr)};
        const Owned<xcb_get_property_reply_t> plain{xcb_get_property_reply(c, a.plain, nullptr)};
        Answered();
        Strut strut{};
        const xcb_get_property_reply_t* found = partial && xcb_get_property_value_length(partial.get()) == 48
            ? partial.get()
            : (plain && xcb_get_property_value_length(plain.get()) == 16 ? plain.get() : nullptr);
        if (!found || found->format != 32)
            continue;
        const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(found));
        std::copy(value, value + xcb_get_property_value_length(found) / 4, strut.value);
        if (found == plain.get()) // the whole of each edge
            for (int edge = 0; edge < 4; ++edge)
                strut.value[5 + 2 * edge] = 0xFFFFFFFF;
        panels.push_back({strut, xcb_get_window_attributes(c, a.window)});
    }

    const LONG width = x.screen->width_in_pixels, height = x.screen->height_in_pixels;
    for (const Panel& panel : panels) {
        const Owned<xcb_get_window_attributes_reply_t> mapped{
            xcb_get_window_attributes_reply(c, panel.mapped, nullptr)};
        if (!mapped || mapped->map_state != XCB_MAP_STATE_VIEWABLE)
            continue; // a hidden panel reserves nothing
        for (Monitor& monitor : monitors)
            Reserve(monitor.work, monitor.area, panel.strut, width, height);
    }
    const Owned<xcb_get_property_reply_t> areas{gtkAreas.sequence ? xcb_get_property_reply(c, gtkAreas, nullptr)
                                                                  : nullptr};
    if (areas && areas->format == 32) {
        const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(areas.get()));
        const auto count = static_cast<std::size_t>(xcb_get_property_value_length(areas.get()) / 16);
        for (Monitor& monitor : monitors)
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t* r = value + 4 * i;
                const RECT area{static_cast<LONG>(r[0]), static_cast<LONG>(r[1]), static_cast<LONG>(r[0] + r[2]),
                                static_cast<LONG>(r[1] + r[3])};
                if (const RECT work = Intersection(monitor.work, area); !Empty(Intersection(monitor.area, area)))
                    monitor.work = Empty(work) ? monitor.work : work;
            }
    }
}

const std::vector<Monitor>& Monitors()
{
    Display& x = X();
    if (Desk.monitors)
        return *Desk.monitors;
    const Waiting wait;
    AskForMonitors(x);
    // Errors are values here: a server without RandR 1.5 answers with one.
    const Owned<xcb_randr_get_monitors_reply_t> reply{
        Desk.cookie.sequence ? xcb_randr_get_monitors_reply(x.connection, Desk.cookie, nullptr) : nullptr};
    Desk.monitors = reply && reply->nMonitors > 0 ? FromRandr(reply.get()) : FromXinerama(x);
    std::vector<Monitor>& monitors = *Desk.monitors;
    std::uint32_t desktop = 0;
    if (!xcb_ewmh_get_current_desktop_reply(&x.ewmh, Desk.currentDesktop, &desktop, nullptr))
        desktop = 0;
    xcb_ewmh_get_workarea_reply_t areas;
    const bool workArea = xcb_ewmh_get_workarea_reply(&x.ewmh, Desk.workArea, &areas, nullptr);
    const Owned<xcb_get_property_reply_t> i3Socket{xcb_get_property_reply(x.connection, Desk.i3Socket, nullptr)};
    const bool managerRunning = ManagerRunning(x, Desk.rootAttributes);
    // A work area left on the root by a manager that has gone, or by one before the manager that
    // runs now and keeps none, tells nothing.
    xcb_ewmh_get_atoms_reply_t supported;
    bool keepsWorkArea = false, honoursStruts = false;
    if (xcb_ewmh_get_supported_reply(&x.ewmh, Desk.supported, &supported, nullptr)) {
        const auto names = [&](xcb_atom_t atom) {
            return std::find(supported.atoms, supported.atoms + supported.atoms_len, atom) !=
                supported.atoms + supported.atoms_len;
        };
        keepsWorkArea = names(x.ewmh._NET_WORKAREA);
        honoursStruts = names(x.ewmh._NET_WM_STRUT_PARTIAL);
        xcb_ewmh_get_atoms_reply_wipe(&supported);
    }
    keepsWorkArea = ManagerAlive(x, Desk.check) && keepsWorkArea;
    // _NET_WORKAREA is one rectangle for all monitors: the manager's word where there is one
    // monitor, its own panels included. Where it gives none, or there are several monitors, the
    // panels' own.
    if (!managerRunning) {
        // Nobody keeps a panel above the window raised: the whole monitor.
    } else if (i3Socket && i3Socket->format == 8 && xcb_get_property_value_length(i3Socket.get()) > 0) {
        TakeOffI3Bars({static_cast<const char*>(xcb_get_property_value(i3Socket.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(i3Socket.get()))},
                      monitors);
    } else if (workArea && keepsWorkArea && areas.workarea_len > 0 && monitors.size() == 1) {
        const xcb_ewmh_geometry_t& space = areas.workarea[desktop < areas.workarea_len ? desktop : 0];
        Monitor& monitor = monitors.front();
        const RECT work =
            Intersection(monitor.work,
                         {static_cast<LONG>(space.x), static_cast<LONG>(space.y),
                          static_cast<LONG>(space.x + space.width), static_cast<LONG>(space.y + space.height)});
        if (!Empty(work))
            monitor.work = work;
        // A manager whose work area keeps nothing back may not honour panels' struts at all
        // (Window Maker does not): the panels say what they reserve, unless the manager says it
        // honours them (_NET_WM_STRUT_PARTIAL supported), which spares the pass over every window.
        if (!honoursStruts && monitor.work.left == monitor.area.left && monitor.work.top == monitor.area.top &&
            monitor.work.right == monitor.area.right && monitor.work.bottom == monitor.area.bottom)
            TakeOffPanels(x, monitors, desktop);
    } else {
        TakeOffPanels(x, monitors, desktop);
    }
    if (workArea)
        xcb_ewmh_get_workarea_reply_wipe(&areas);
    return monitors;
}

// RandR's GetMonitors, as xcb_randr_get_monitors sends it but with every byte set: libxcb-randr
// sends the three bytes of its request structure's padding as they happen to be.
xcb_randr_get_monitors_cookie_t RequestMonitors(xcb_connection_t* c, xcb_window_t root)
{
    static const xcb_protocol_request_t protocol = {2, &xcb_randr_id, XCB_RANDR_GET_MONITORS, 0};
    xcb_randr_get_monitors_request_t request;
    std::memset(&request, 0, sizeof request);
    request.window = root;
    request.get_active = 1;
    iovec parts[4] = {};
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    return {xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &protocol)};
}

} // namespace

void AskForMonitors(Display& x)
{
    if (Desk.asked && Clock::now() - Desk.askedAt < Fresh)
        return;
    if (Desk.asked && !Desk.monitors) {
        xcb_discard_reply(x.connection, Desk.cookie.sequence);
        xcb_discard_reply(x.connection, Desk.workArea.sequence);
        xcb_discard_reply(x.connection, Desk.currentDesktop.sequence);
        xcb_discard_reply(x.connection, Desk.rootAttributes.sequence);
        xcb_discard_reply(x.connection, Desk.i3Socket.sequence);
        xcb_discard_reply(x.connection, Desk.supported.sequence);
        xcb_discard_reply(x.connection, Desk.check.root.sequence);
        if (Desk.check.known.sequence)
            xcb_discard_reply(x.connection, Desk.check.known.sequence);
    }
    Desk = {};
    Desk.asked = true;
    Desk.askedAt = Clock::now();
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(x.connection, &xcb_randr_id);
    if (randr && randr->present)
        Desk.cookie = RequestMonitors(x.connection, x.root);
    Desk.workArea = xcb_ewmh_get_workarea(&x.ewmh, x.screenNumber);
    Desk.currentDesktop = xcb_ewmh_get_current_desktop(&x.ewmh, x.screenNumber);
    Desk.rootAttributes = xcb_get_window_attributes(x.connection, x.root);
    Desk.i3Socket = xcb_get_property(x.connection, 0, x.root, x.i3SocketPath, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    Desk.supported = xcb_ewmh_get_supported(&x.ewmh, x.screenNumber);
    Desk.check = AskManagerCheck(x);
}

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) { return ChooseMonitor(Monitors(), pt, dwFlags); }

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi)
{
    const std::vector<Monitor>& monitors = Monitors();
    const auto index = reinterpret_cast<std::uintptr_t>(hMonitor);
    if (lpmi && lpmi->cbSize >= sizeof(MONITORINFOEXA) && index >= 1 && index <= monitors.size() &&
        monitors[index - 1].name.empty() && Desk.names[index - 1] != XCB_NONE) {
        Display& x = X();
        const Waiting wait;
        const Owned<xcb_get_atom_name_reply_t> name{
            xcb_get_atom_name_reply(x.connection, xcb_get_atom_name(x.connection, Desk.names[index - 1]), nullptr)};
        if (name)
            (*Desk.monitors)[index - 1].name.assign(
                xcb_get_atom_name_name(name.get()),
                static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get())));
    }
    return DescribeMonitor(monitors, hMonitor, lpmi);
}

} // namespace x11
