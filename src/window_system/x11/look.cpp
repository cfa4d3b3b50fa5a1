// Looking at a window and its desktop for the move. Every request of a look is sent before any
// reply is read, so a look costs one round trip (the stacking above a window not yet raised, one
// more per 32 windows above it). The last look is kept: the move's final look answers
// GetWindowRect, and the frame found around a client need not be searched for again.
#include <xcb/xcb_icccm.h>

#include <algorithm>

#include "window_system/last_error.h"
#include "window_system/x11/look.h"

namespace x11 {

namespace {

using std::chrono::milliseconds;

// Four CARDINALs (left, right, top, bottom), as _NET_FRAME_EXTENTS and _GTK_FRAME_EXTENTS hold them.
bool ReadExtents(const xcb_get_property_reply_t* reply, Extents& extents)
{
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 16)
        return false;
    const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    // Extents beyond any screen are nonsense from a confused program; read them as none.
    for (int i = 0; i < 4; ++i)
        if (value[i] > 4096)
            return false;
    extents = {static_cast<int>(value[0]), static_cast<int>(value[1]), static_cast<int>(value[2]),
               static_cast<int>(value[3])};
    return true;
}

bool Contains(const xcb_atom_t* atoms, std::uint32_t count, xcb_atom_t atom)
{
    return std::find(atoms, atoms + count, atom) != atoms + count;
}

std::string PropertyText(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 8)
        return {};
    return {static_cast<const char*>(xcb_get_property_value(reply)),
            static_cast<std::size_t>(xcb_get_property_value_length(reply))};
}

// Window types and states that managers keep above ordinary windows, as they should.
bool StaysAbove(Display& x, const xcb_get_property_reply_t* type, const xcb_get_property_reply_t* state)
{
    const xcb_ewmh_connection_t& e = x.ewmh;
    if (type && type->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(type));
        const auto count = static_cast<std::uint32_t>(xcb_get_property_value_length(type) / 4);
        for (const xcb_atom_t kind :
             {e._NET_WM_WINDOW_TYPE_DOCK, e._NET_WM_WINDOW_TYPE_NOTIFICATION, e._NET_WM_WINDOW_TYPE_TOOLTIP,
              e._NET_WM_WINDOW_TYPE_MENU, e._NET_WM_WINDOW_TYPE_DROPDOWN_MENU, e._NET_WM_WINDOW_TYPE_POPUP_MENU,
              e._NET_WM_WINDOW_TYPE_COMBO, e._NET_WM_WINDOW_TYPE_DND, e._NET_WM_WINDOW_TYPE_SPLASH})
            if (Contains(atoms, count, kind))
                return true;
    }
    if (state && state->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(state));
        const auto count = static_cast<std::uint32_t>(xcb_get_property_value_length(state) / 4);
        if (Contains(atoms, count, e._NET_WM_STATE_ABOVE) || Contains(atoms, count, x.staysOnTop))
            return true;
    }
    return false;
}

// The first normal window stacked above the frame, or XCB_NONE when there is none. Windows one
// cannot see, override-redirect ones (menus, tooltips), the manager's own windows, docks, windows
// that asked to stay above, the window's own dialogs, and windows that appeared since the move
// began (not among `present`) may be above it. Unless asked to judge, any window above counts.
xcb_window_t NormalWindowAbove(Display& x, const xcb_query_tree_reply_t* tree, xcb_window_t frame, xcb_window_t client,
                               bool managerRunning, const std::vector<xcb_window_t>& present, bool judge)
{
    const xcb_window_t* children = xcb_query_tree_children(tree);
    const int count = xcb_query_tree_children_length(tree);
    const xcb_window_t* position = std::find(children, children + count, frame);
    if (position == children + count)
        return frame; // not a child of the root: nothing can be said to be below it
    std::vector<xcb_window_t> above; // topmost first
    for (const xcb_window_t* other = children + count; other-- != position + 1;)
        if (std::binary_search(present.begin(), present.end(), *other))
            above.push_back(*other);
    if (!judge)
        return above.empty() ? XCB_NONE : above.front(); // taken as covering it, unlooked at

    // From the top down, a few at a time: one normal window is enough to know, and a window not
    // yet raised has thousands above it.
    constexpr std::size_t Batch = 32;
    for (std::size_t first = 0; first < above.size(); first += Batch) {
        const std::size_t end = std::min(above.size(), first + Batch);
        std::vector<xcb_get_window_attributes_cookie_t> attributes;
        for (std::size_t i = first; i < end; ++i)
            attributes.push_back(xcb_get_window_attributes(x.connection, above[i]));
        std::vector<xcb_window_t> visible;
        for (std::size_t i = first; i < end; ++i) {
            const Owned<xcb_get_window_attributes_reply_t> reply{
                xcb_get_window_attributes_reply(x.connection, attributes[i - first], nullptr)};
            if (reply && reply->map_state == XCB_MAP_STATE_VIEWABLE && !reply->override_redirect)
                visible.push_back(above[i]);
        }
        // Under a manager, a window with no client inside is one of the manager's own.
        const std::vector<xcb_window_t> clients = managerRunning ? ManagedClients(x, visible, {}) : visible;

        struct Looks {
            xcb_window_t window;
            xcb_get_property_cookie_t type, state, transientFor;
        };
        std::vector<Looks> looks;
        for (const xcb_window_t other : clients)
            if (other != XCB_NONE)
                looks.push_back({other, xcb_ewmh_get_wm_window_type(&x.ewmh, other),
                                 xcb_ewmh_get_wm_state(&x.ewmh, other),
                                 xcb_icccm_get_wm_transient_for(x.connection, other)});
        xcb_window_t covering = XCB_NONE;
        for (const Looks& look : looks) {
            const Owned<xcb_get_property_reply_t> type{xcb_get_property_reply(x.connection, look.type, nullptr)};
            const Owned<xcb_get_property_reply_t> state{xcb_get_property_reply(x.connection, look.state, nullptr)};
            xcb_window_t owner = XCB_NONE;
            const bool dialog =
                xcb_icccm_get_wm_transient_for_reply(x.connection, look.transientFor, &owner, nullptr) &&
                owner == client;
            if (covering == XCB_NONE && !dialog && !StaysAbove(x, type.get(), state.get()))
                covering = look.window;
        }
        if (covering != XCB_NONE)
            return covering;
    }
    return XCB_NONE;
}

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

// The requests of a look at the desktop, sent.
struct DesktopAsked {
    xcb_window_t stamp;
    xcb_get_window_attributes_cookie_t rootAttributes;
    ManagerCheck check;
    xcb_get_property_cookie_t supported, i3Socket, wmState, normalHints, hints, protocols, clientList;
    xcb_query_tree_cookie_t rootTree;
};

DesktopAsked AskDesktop(Display& x, xcb_window_t client)
{
    xcb_connection_t* c = x.connection;
    // A window of our own, never mapped, whose property change the server stamps with its time.
    const xcb_window_t stamp = xcb_generate_id(c);
    const std::uint32_t stampOptions[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c, 0, stamp, x.root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, stampOptions);
    xcb_change_property(c, XCB_PROP_MODE_APPEND, stamp, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    return {stamp,
            xcb_get_window_attributes(c, x.root),
            AskManagerCheck(x),
            xcb_ewmh_get_supported(&x.ewmh, x.screenNumber),
            xcb_get_property(c, 0, x.root, x.i3SocketPath, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
            xcb_get_property(c, 0, client, x.wmState, x.wmState, 0, 1),
            xcb_icccm_get_wm_normal_hints(c, client),
            xcb_icccm_get_wm_hints(c, client),
            xcb_icccm_get_wm_protocols(c, client, x.ewmh.WM_PROTOCOLS),
            xcb_ewmh_get_client_list(&x.ewmh, x.screenNumber),
            xcb_query_tree(c, x.root)};
}

// Reads the desktop; the root's children, read for it, are handed on through `keepTree`.
Desktop ReadDesktop(Display& x, const DesktopAsked& asked, Owned<xcb_query_tree_reply_t>* keepTree = nullptr)
{
    xcb_connection_t* c = x.connection;
    const auto& [stamp, rootAttributes, check, supported, i3Socket, wmState, normalHints, hints, protocols, clientList,
                 rootTree] = asked;
    Desktop desktop;
    desktop.managerRunning = ManagerRunning(x, rootAttributes);
    const bool live = ManagerAlive(x, check);
    xcb_ewmh_get_atoms_reply_t atoms;
    if (xcb_ewmh_get_supported_reply(&x.ewmh, supported, &atoms, nullptr)) {
        desktop.moveResize = Contains(atoms.atoms, atoms.atoms_len, x.ewmh._NET_MOVERESIZE_WINDOW);
        desktop.activate = Contains(atoms.atoms, atoms.atoms_len, x.ewmh._NET_ACTIVE_WINDOW);
        desktop.restack = Contains(atoms.atoms, atoms.atoms_len, x.ewmh._NET_RESTACK_WINDOW);
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
    const Owned<xcb_get_property_reply_t> socket{xcb_get_property_reply(c, i3Socket, nullptr)};
    desktop.i3Socket = PropertyText(socket.get());
    const Owned<xcb_get_property_reply_t> state{xcb_get_property_reply(c, wmState, nullptr)};
    if (state && state->format == 32 && xcb_get_property_value_length(state.get()) >= 4) {
        desktop.managed = true;
        desktop.iconic =
            *static_cast<const std::uint32_t*>(xcb_get_property_value(state.get())) == XCB_ICCCM_WM_STATE_ICONIC;
    }
    xcb_size_hints_t size;
    if (xcb_icccm_get_wm_normal_hints_reply(c, normalHints, &size, nullptr) &&
        (size.flags & XCB_ICCCM_SIZE_HINT_P_WIN_GRAVITY) && size.win_gravity != 0)
        desktop.gravity = static_cast<xcb_gravity_t>(size.win_gravity);
    // A window that takes no input and offers no WM_TAKE_FOCUS can never be the active one.
    xcb_icccm_wm_hints_t wmHints;
    const bool refusesInput = xcb_icccm_get_wm_hints_reply(c, hints, &wmHints, nullptr) &&
        (wmHints.flags & XCB_ICCCM_WM_HINT_INPUT) && !wmHints.input;
    xcb_icccm_get_wm_protocols_reply_t offered;
    bool takesFocus = false;
    if (xcb_icccm_get_wm_protocols_reply(c, protocols, &offered, nullptr)) {
        takesFocus = Contains(offered.atoms, offered.atoms_len, x.takeFocus);
        xcb_icccm_get_wm_protocols_reply_wipe(&offered);
    }
    desktop.focusable = !refusesInput || takesFocus;
    Owned<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(c, rootTree, nullptr)};
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        desktop.present.assign(children, children + xcb_query_tree_children_length(tree.get()));
    }
    xcb_ewmh_get_windows_reply_t list;
    if (xcb_ewmh_get_client_list_reply(&x.ewmh, clientList, &list, nullptr)) {
        desktop.present.insert(desktop.present.end(), list.windows, list.windows + list.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    // The stamp is no window of the desktop's.
    desktop.present.erase(std::remove(desktop.present.begin(), desktop.present.end(), stamp), desktop.present.end());
    std::sort(desktop.present.begin(), desktop.present.end());
    // The stamp's event came before the replies read above.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(c)) {
        const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY && change->window == stamp)
            desktop.now = change->time;
        std::free(event);
    }
    xcb_destroy_window(c, stamp);

    // What a manager that has gone left on the root says nothing of the one running now.
    if (!live || !desktop.managerRunning)
        desktop.moveResize = desktop.activate = desktop.restack = false;
    if (desktop.i3Socket.empty() && desktop.managerRunning)
        if (const char* socketPath = std::getenv("I3SOCK"))
            desktop.i3Socket = socketPath;
    if (keepTree)
        *keepTree = std::move(tree);
    return desktop;
}

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
    xcb_get_property_cookie_t active;
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
        if (ownTree)
            asked.rootTree = xcb_query_tree(c, x.root);
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
    seen.clientX = place->dst_x;
    seen.clientY = place->dst_y;
    seen.width = own->width;
    seen.height = own->height;
    seen.border = own->border_width;
    seen.viewable = mapped->map_state == XCB_MAP_STATE_VIEWABLE;
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
        seen.coveredBy = NormalWindowAbove(x, stack, seen.frame, client, desktop.managerRunning, *present, judge);
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

BOOL Vanished(Display& x)
{
    return Silent(x) ? Fail(ERROR_TIMEOUT, "the X server did not answer") : Fail(ERROR_INVALID_WINDOW_HANDLE);
}

BOOL IsWindowVisible(HWND hWnd) { return Recall(X(), WindowOf(hWnd)).viewable; }

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    Display& x = X();
    // Right after a move this is the look that verified it.
    const Seen seen = Recall(x, WindowOf(hWnd));
    if (!seen.exists)
        return Vanished(x);
    *lpRect = {seen.Left(), seen.Top(), seen.Left() + seen.width, seen.Top() + seen.height};
    return TRUE;
}

} // namespace x11
