// Looking at a window and its desktop for the move. Every request of a look is sent before any
// reply is read, so a look costs one round trip (the stacking above a window not yet raised, one
// more per 32 windows above it). The last look is kept: the move's final look answers
// GetWindowRect, and the frame found around a client need not be searched for again.
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <optional>

#include "window_system/last_error.h"
#include "window_system/stacking.h"
#include "window_system/x11/properties.h"

namespace x11 {

namespace {

using std::chrono::milliseconds;

// The last look at a window: the frame found around it, so that it need not be searched for
// again while the client stays where it was, and the whole observation, which serves as the answer
// to a question asked again at once.
struct Memory {
    xcb_window_t client = XCB_NONE;
    xcb_window_t parent = XCB_NONE, frame = XCB_NONE;
    Seen seen;
    Clock::time_point at;
    // The desktop as the last look at the move found it, for the same client.
    bool desktopKnown = false;
    Desktop desktop;
    Clock::time_point desktopAt;
};
Memory Last;
constexpr milliseconds Fresh{100};

// The requests of a look at the window, sent.
struct SeenAsked {
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t frameExtents, shadowExtents;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_query_tree_cookie_t parent;
    bool knownFrame, stacking, ownTree;
    xcb_get_geometry_cookie_t lastFrame;
    xcb_query_tree_cookie_t rootTree;
    xcb_get_property_cookie_t active, currentDesktop;
    xcb_get_input_focus_cookie_t focus;
};

// With `ownTree` false, the root's children come from elsewhere (a look at the desktop).
SeenAsked AskSeen(Display& x, xcb_window_t client, bool stacking, bool ownTree = true)
{
    xcb_connection_t* c = x.connection;
    SeenAsked asked{};
    asked.geometry = xcb_get_geometry(c, client);
    asked.origin = xcb_translate_coordinates(c, client, x.root, 0, 0);
    asked.frameExtents = xcb_ewmh_get_frame_extents(&x.ewmh, client);
    asked.shadowExtents = xcb_get_property(c, 0, client, x.gtkFrameExtents, XCB_ATOM_CARDINAL, 0, 4);
    asked.attributes = xcb_get_window_attributes(c, client);
    asked.parent = xcb_query_tree(c, client);
    // The frame it was in last time, asked for at once: it is most likely where it still is.
    asked.knownFrame = Last.client == client && Last.frame != XCB_NONE && Last.frame != client;
    if (asked.knownFrame)
        asked.lastFrame = xcb_get_geometry(c, Last.frame);
    asked.stacking = stacking;
    asked.ownTree = ownTree;
    if (stacking) {
        // The desktop in view is read with each look: the activation may have shown another.
        if (ownTree) {
            asked.rootTree = xcb_query_tree(c, x.root);
            asked.currentDesktop = xcb_ewmh_get_current_desktop(&x.ewmh, x.screenNumber);
        }
        asked.active = xcb_ewmh_get_active_window(&x.ewmh, x.screenNumber);
        asked.focus = xcb_get_input_focus(c);
    }
    return asked;
}

Seen ReadSeen(Display& x, xcb_window_t client, const SeenAsked& asked, const Desktop& desktop,
              const std::vector<xcb_window_t>* present, bool judge, const xcb_query_tree_reply_t* rootTree = nullptr)
{
    xcb_connection_t* c = x.connection;
    Seen seen;
    const Owned<xcb_get_geometry_reply_t> own{xcb_get_geometry_reply(c, asked.geometry, nullptr)};
    const Owned<xcb_translate_coordinates_reply_t> place{xcb_translate_coordinates_reply(c, asked.origin, nullptr)};
    const Owned<xcb_get_property_reply_t> frameReply{xcb_get_property_reply(c, asked.frameExtents, nullptr)};
    const Owned<xcb_get_property_reply_t> shadowReply{xcb_get_property_reply(c, asked.shadowExtents, nullptr)};
    const Owned<xcb_get_window_attributes_reply_t> mapped{
        xcb_get_window_attributes_reply(c, asked.attributes, nullptr)};
    const Owned<xcb_query_tree_reply_t> up{xcb_query_tree_reply(c, asked.parent, nullptr)};
    const bool knownFrame = asked.knownFrame;
    Owned<xcb_get_geometry_reply_t> lastFrameGeometry{knownFrame ? xcb_get_geometry_reply(c, asked.lastFrame, nullptr)
                                                                 : nullptr};
    const bool stacking = asked.stacking;
    const Owned<xcb_query_tree_reply_t> ownTree{
        stacking && asked.ownTree ? xcb_query_tree_reply(c, asked.rootTree, nullptr) : nullptr};
    const xcb_query_tree_reply_t* stack = asked.ownTree ? ownTree.get() : rootTree;
    xcb_window_t activeWindow = XCB_NONE;
    if (stacking && !xcb_ewmh_get_active_window_reply(&x.ewmh, asked.active, &activeWindow, nullptr))
        activeWindow = XCB_NONE;
    const Owned<xcb_get_input_focus_reply_t> focused{stacking ? xcb_get_input_focus_reply(c, asked.focus, nullptr)
                                                              : nullptr};
    std::optional<std::uint32_t> shownDesktop = desktop.currentDesktop;
    if (std::uint32_t shown = 0; stacking && asked.ownTree) {
        shownDesktop.reset();
        if (xcb_ewmh_get_current_desktop_reply(&x.ewmh, asked.currentDesktop, &shown, nullptr))
            shownDesktop = shown;
    }
    if (!own || !place || !mapped || !up)
        return seen; // gone

    // The frame: the client itself, the frame of last time, or one found anew.
    const xcb_get_geometry_reply_t* frame = own.get();
    seen.frame = client;
    if (up->parent != x.root) {
        if (knownFrame && up->parent == Last.parent && lastFrameGeometry) {
            seen.frame = Last.frame;
        } else {
            seen.frame = TopLevelOf(x, up->parent);
            lastFrameGeometry.reset(
                seen.frame == XCB_NONE ? nullptr : xcb_get_geometry_reply(c, xcb_get_geometry(c, seen.frame), nullptr));
        }
        frame = lastFrameGeometry.get();
        if (!frame)
            return seen;
    }
    seen.exists = true;
    seen.frameX = frame->x;
    seen.frameY = frame->y;
    seen.frameWidth = frame->width + 2 * frame->border_width;
    seen.frameHeight = frame->height + 2 * frame->border_width;
    seen.clientX = place->dst_x;
    seen.clientY = place->dst_y;
    seen.width = own->width;
    seen.height = own->height;
    seen.border = own->border_width;
    seen.viewable = mapped->map_state == XCB_MAP_STATE_VIEWABLE;
    seen.maximised = desktop.maximised;
    if (!ReadExtents(frameReply.get(), seen.decoration)) {
        // No word from the manager on its frame: the frame is the root's child around the client.
        const int outerWidth = frame->width + 2 * frame->border_width;
        const int outerHeight = frame->height + 2 * frame->border_width;
        const int clientLeft = seen.clientX - seen.border, clientTop = seen.clientY - seen.border;
        seen.decoration = {
            clientLeft - seen.frameX, seen.frameX + outerWidth - (clientLeft + seen.width + 2 * seen.border),
            clientTop - seen.frameY, seen.frameY + outerHeight - (clientTop + seen.height + 2 * seen.border)};
    }
    ReadExtents(shadowReply.get(), seen.shadow);
    if (stacking && stack && present) {
        seen.coveredBy = CoveringWindow(x, stack, seen, client, desktop, shownDesktop, *present, judge);
        seen.onTop = seen.coveredBy == XCB_NONE;
        seen.activeWindow = activeWindow;
        // Active as the desktop defines it: a manager that keeps _NET_ACTIVE_WINDOW names the
        // window there (fluxbox gives a window shown again the focus first, and names it active
        // only a moment later); with no such manager, the window with the keyboard's focus.
        seen.focused = focused && focused->focus == client;
        seen.active = desktop.activate ? activeWindow == client : seen.focused;
    }
    if (Last.client != client)
        Last.desktopKnown = false;
    Last.client = client;
    Last.parent = up->parent;
    Last.frame = seen.frame;
    Last.seen = seen;
    Last.at = Clock::now();
    return seen;
}

} // namespace

Seen Observe(Display& x, xcb_window_t client, const Desktop& desktop, const std::vector<xcb_window_t>* present)
{
    const Waiting wait;
    return ReadSeen(x, client, AskSeen(x, client, present != nullptr), desktop, present, true);
}

Look LookAtMove(Display& x, xcb_window_t client)
{
    if (Last.client == client && Last.desktopKnown && Last.seen.exists && Clock::now() - Last.desktopAt < Fresh &&
        Clock::now() - Last.at < Fresh)
        return {Last.desktop, Last.seen};
    const Waiting wait;
    const DesktopAsked desktopAsked = AskDesktop(x, client);
    const SeenAsked seenAsked = AskSeen(x, client, true, false);
    AskForMonitors(x);
    Owned<xcb_query_tree_reply_t> rootTree;
    Look look{ReadDesktop(x, desktopAsked, &rootTree), {}};
    look.seen = ReadSeen(x, client, seenAsked, look.desktop, &look.desktop.present, false, rootTree.get());
    Last.desktopKnown = true;
    Last.desktop = look.desktop;
    Last.desktopAt = Clock::now();
    return look;
}

// What was seen of the window a moment ago, or the look a move starts from.
Seen Recall(Display& x, xcb_window_t client)
{
    if (Last.client == client && Last.seen.exists && Clock::now() - Last.at < Fresh)
        return Last.seen;
    return LookAtMove(x, client).seen;
}

void ForgetLook() { Last = {}; }

std::optional<POINT> MaximisedCorner(const Seen& seen)
{
    if (!seen.maximised)
        return std::nullopt;
    const RECT frame = seen.Frame();
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    const POINT middle{(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2};
    if (!x11::GetMonitorInfoA(x11::MonitorFromPoint(middle, MONITOR_DEFAULTTONEAREST), &monitor))
        return std::nullopt;
    const RECT& work = monitor.rcWork;
    // How far it reaches right and down is the manager's own reckoning of the free space (icewm
    // leaves room for its task bar on every monitor): what counts is where it begins.
    if (frame.left > work.left || frame.top > work.top || frame.right <= work.left || frame.bottom <= work.top)
        return std::nullopt;
    return POINT{work.left, work.top};
}

BOOL Vanished(Display& x)
{
    return Silent(x) ? Fail(ERROR_TIMEOUT, "the X server did not answer") : Fail(ERROR_INVALID_WINDOW_HANDLE);
}

BOOL IsWindowVisible(HWND hWnd) { return Recall(X(), WindowOf(hWnd)).viewable; }

BOOL IsZoomed(HWND hWnd) { return Recall(X(), WindowOf(hWnd)).maximised; }

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    Display& x = X();
    // Right after a move this is the look that verified it.
    const Seen seen = Recall(x, WindowOf(hWnd));
    if (!seen.exists)
        return Vanished(x);
    const POINT corner = MaximisedCorner(seen).value_or(POINT{seen.Left(), seen.Top()});
    *lpRect = {corner.x, corner.y, corner.x + seen.width, corner.y + seen.height};
    return TRUE;
}

} // namespace x11
