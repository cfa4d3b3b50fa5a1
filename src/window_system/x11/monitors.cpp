// The X11 backend's monitors: RandR 1.5's list, the one desktop environments lay out by, or
// Xinerama's screens where the server has no RandR 1.5; each one's work area is what the window
// manager's _NET_WORKAREA (for the current desktop) leaves of it beside its panels. All is asked
// for with the listing's requests, so that the replies are already there when the move asks; a
// monitor's name, an atom, is read only when a message needs it.
#include <xcb/randr.h>
#include <xcb/xinerama.h>

#include <algorithm>
#include <optional>

#include "window_system/x11/display.h"

namespace x11 {

namespace {

struct Layout {
    bool asked = false;
    xcb_randr_get_monitors_cookie_t cookie{};
    xcb_get_property_cookie_t workArea{}, currentDesktop{};
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
    std::uint32_t desktop = 0;
    if (!xcb_ewmh_get_current_desktop_reply(&x.ewmh, Desk.currentDesktop, &desktop, nullptr))
        desktop = 0;
    xcb_ewmh_get_workarea_reply_t areas;
    if (xcb_ewmh_get_workarea_reply(&x.ewmh, Desk.workArea, &areas, nullptr)) {
        if (areas.workarea_len > 0) {
            const xcb_ewmh_geometry_t& space = areas.workarea[desktop < areas.workarea_len ? desktop : 0];
            for (Monitor& monitor : *Desk.monitors) {
                const RECT work{std::max<LONG>(monitor.area.left, space.x), std::max<LONG>(monitor.area.top, space.y),
                                std::min<LONG>(monitor.area.right, static_cast<LONG>(space.x + space.width)),
                                std::min<LONG>(monitor.area.bottom, static_cast<LONG>(space.y + space.height))};
                if (work.left < work.right && work.top < work.bottom)
                    monitor.work = work;
            }
        }
        xcb_ewmh_get_workarea_reply_wipe(&areas);
    }
    return *Desk.monitors;
}

} // namespace

void AskForMonitors(Display& x)
{
    if (Desk.asked)
        return;
    Desk.asked = true;
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(x.connection, &xcb_randr_id);
    if (randr && randr->present)
        Desk.cookie = xcb_randr_get_monitors(x.connection, x.root, 1);
    Desk.workArea = xcb_ewmh_get_workarea(&x.ewmh, x.screenNumber);
    Desk.currentDesktop = xcb_ewmh_get_current_desktop(&x.ewmh, x.screenNumber);
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
