// Looking at a window and its desktop for the move. Every request of a look is sent before any
// reply is read, so a look costs one round trip (the stacking above a window not yet raised, one
// more per 32 windows above it). The last look is kept: the move's final look answers
// GetWindowRect, and the frame found around a client need not be searched for again.
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <optional>

#include "window_system/last_error.h"
#include "window_system/stacking.h"
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

bool HasState(const xcb_get_property_reply_t* state, xcb_atom_t wanted)
{
    return state && state->format == 32 &&
        Contains(static_cast<const xcb_atom_t*>(xcb_get_property_value(state)),
                 static_cast<std::uint32_t>(xcb_get_property_value_length(state) / 4), wanted);
}

// The layer a manager keeps a window in by its EWMH type and state.
int LayerOf(Display& x, const xcb_get_property_reply_t* type, const xcb_get_property_reply_t* state)
{
    const xcb_ewmh_connection_t& e = x.ewmh;
    if (type && type->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(type));
        const auto count = static_cast<std::uint32_t>(xcb_get_property_value_length(type) / 4);
        for (const xcb_atom_t kind :
             {e._NET_WM_WINDOW_TYPE_NOTIFICATION, e._NET_WM_WINDOW_TYPE_TOOLTIP, e._NET_WM_WINDOW_TYPE_MENU,
              e._NET_WM_WINDOW_TYPE_DROPDOWN_MENU, e._NET_WM_WINDOW_TYPE_POPUP_MENU, e._NET_WM_WINDOW_TYPE_COMBO,
              e._NET_WM_WINDOW_TYPE_DND, e._NET_WM_WINDOW_TYPE_SPLASH})
            if (Contains(atoms, count, kind))
                return OverlayLayer;
        if (Contains(atoms, count, e._NET_WM_WINDOW_TYPE_DOCK))
            return PanelLayer;
        if (Contains(atoms, count, e._NET_WM_WINDOW_TYPE_DESKTOP))
            return BelowLayer;
    }
    if (HasState(state, e._NET_WM_STATE_FULLSCREEN))
        return FullScreenLayer;
    if (HasState(state, e._NET_WM_STATE_ABOVE) || HasState(state, x.staysOnTop))
        return AboveLayer;
    if (HasState(state, e._NET_WM_STATE_BELOW))
        return BelowLayer;
    return NormalLayer;
}

// The window of a property holding one, such as WM_TRANSIENT_FOR; empty where there is none.
std::optional<xcb_window_t> WindowIn(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 4)
        return std::nullopt;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
}

xcb_get_property_cookie_t AskTransientFor(Display& x, xcb_window_t window)
{
    return xcb_get_property(x.connection, 0, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1);
}

// Whether the chain of WM_TRANSIENT_FOR from a window (whose own owner is given) reaches the
// client: a dialog of the client, or of one of its dialogs. Owners met before are known; others
// are asked as the chain climbs.
bool DialogOf(Display& x, xcb_window_t owner, xcb_window_t client,
              std::vector<std::pair<xcb_window_t, xcb_window_t>>& owners)
{
    constexpr int Deepest = 8;
    for (int depth = 0; depth < Deepest && owner != XCB_NONE && owner != x.root; ++depth) {
        if (owner == client)
            return true;
        const auto known =
            std::find_if(owners.begin(), owners.end(), [owner](const auto& o) { return o.first == owner; });
        if (known != owners.end()) {
            owner = known->second;
            continue;
        }
        const Owned<xcb_get_property_reply_t> reply{
            xcb_get_property_reply(x.connection, AskTransientFor(x, owner), nullptr)};
        const xcb_window_t next = WindowIn(reply.get()).value_or(XCB_NONE);
        owners.emplace_back(owner, next);
        owner = next;
    }
    return false;
}

// The first window stacked above the frame that the user could see over the moved window, or
// XCB_NONE when there is none (see stacking.h); windows that appeared since the move began (not
// among `present`) are not looked at. Unless asked to judge, any window above counts.
xcb_window_t CoveringWindow(Display& x, const xcb_query_tree_reply_t* tree, const Seen& moved, xcb_window_t client,
                            const Desktop& desktop, const std::vector<xcb_window_t>& present, bool judge)
{
    const xcb_window_t* children = xcb_query_tree_children(tree);
    const int count = xcb_query_tree_children_length(tree);
    const xcb_window_t* position = std::find(children, children + count, moved.frame);
    if (position == children + count)
        return moved.frame; // not a child of the root: nothing can be said to be below it
    std::vector<xcb_window_t> above; // topmost first
    for (const xcb_window_t* other = children + count; other-- != position + 1;)
        if (std::binary_search(present.begin(), present.end(), *other))
            above.push_back(*other);
    if (!judge)
        return above.empty() ? XCB_NONE : above.front(); // taken as covering it, unlooked at

    xcb_connection_t* c = x.connection;
    std::vector<std::pair<xcb_window_t, xcb_window_t>> owners; // (window, its WM_TRANSIENT_FOR)
    // From the top down, a few at a time: one window that covers it is enough to know, and a
    // window not yet raised has thousands above it.
    constexpr std::size_t Batch = 32;
    for (std::size_t first = 0; first < above.size(); first += Batch) {
        const std::size_t end = std::min(above.size(), first + Batch);
        struct Outer {
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_geometry_cookie_t geometry;
        };
        std::vector<Outer> outer;
        for (std::size_t i = first; i < end; ++i)
            outer.push_back({xcb_get_window_attributes(c, above[i]), xcb_get_geometry(c, above[i])});
        std::vector<StackedWindow> facts;
        std::vector<xcb_window_t> windows, looked; // looked: the viewable ones, with a client to look at
        for (std::size_t i = first; i < end; ++i) {
            const Owned<xcb_get_window_attributes_reply_t> attributes{
                xcb_get_window_attributes_reply(c, outer[i - first].attributes, nullptr)};
            const Owned<xcb_get_geometry_reply_t> geometry{
                xcb_get_geometry_reply(c, outer[i - first].geometry, nullptr)};
            Answered();
            if (!attributes || !geometry)
                continue; // gone meanwhile
            const int border = 2 * geometry->border_width;
            facts.push_back({{geometry->x, geometry->y, geometry->x + geometry->width + border,
                              geometry->y + geometry->height + border},
                             attributes->map_state == XCB_MAP_STATE_VIEWABLE,
                             attributes->override_redirect ? OverlayLayer : NormalLayer,
                             false});
            windows.push_back(above[i]);
            if (facts.back().shown && !attributes->override_redirect)
                looked.push_back(above[i]);
        }
        // Under a manager, a window with no client inside is one of the manager's own.
        const std::vector<xcb_window_t> clients = desktop.managerRunning ? ManagedClients(x, looked, {}) : looked;

        struct Properties {
            std::size_t fact;
            xcb_window_t window;
            xcb_get_property_cookie_t type, state, transientFor, hints, onDesktop, frameExtents, shadowExtents;
        };
        std::vector<Properties> asked;
        for (std::size_t i = 0, k = 0; i < windows.size() && k < looked.size(); ++i) {
            if (windows[i] != looked[k])
                continue;
            const xcb_window_t other = clients[k++];
            if (other == XCB_NONE) {
                facts[i].layer = PanelLayer;
                continue;
            }
            asked.push_back({i, other, xcb_ewmh_get_wm_window_type(&x.ewmh, other),
                             xcb_ewmh_get_wm_state(&x.ewmh, other), AskTransientFor(x, other),
                             xcb_icccm_get_wm_hints(c, other), xcb_ewmh_get_wm_desktop(&x.ewmh, other),
                             xcb_ewmh_get_frame_extents(&x.ewmh, other),
                             xcb_get_property(c, 0, other, x.gtkFrameExtents, XCB_ATOM_CARDINAL, 0, 4)});
        }
        for (const Properties& look : asked) {
            const Owned<xcb_get_property_reply_t> type{xcb_get_property_reply(c, look.type, nullptr)};
            const Owned<xcb_get_property_reply_t> state{xcb_get_property_reply(c, look.state, nullptr)};
            const Owned<xcb_get_property_reply_t> transientFor{xcb_get_property_reply(c, look.transientFor, nullptr)};
            const Owned<xcb_get_property_reply_t> frameExtents{xcb_get_property_reply(c, look.frameExtents, nullptr)};
            const Owned<xcb_get_property_reply_t> shadowExtents{xcb_get_property_reply(c, look.shadowExtents, nullptr)};
            xcb_icccm_wm_hints_t hints{};
            const bool hinted = xcb_icccm_get_wm_hints_reply(c, look.hints, &hints, nullptr);
            std::uint32_t onDesktop = 0;
            const bool placed = xcb_ewmh_get_wm_desktop_reply(&x.ewmh, look.onDesktop, &onDesktop, nullptr);
            Answered();
            StackedWindow& fact = facts[look.fact];
            fact.layer = LayerOf(x, type.get(), state.get());
            // On another desktop, or minimised where the manager keeps it mapped.
            if (HasState(state.get(), x.ewmh._NET_WM_STATE_HIDDEN) ||
                (placed && onDesktop != 0xFFFFFFFF && desktop.currentDesktop && onDesktop != *desktop.currentDesktop))
                fact.shown = false;
            // A window drawing its own shadow is seen inside it.
            Extents decoration, shadow;
            if (!ReadExtents(frameExtents.get(), decoration) || !decoration.Any())
                if (ReadExtents(shadowExtents.get(), shadow))
                    fact.frame = {fact.frame.left + shadow.left, fact.frame.top + shadow.top,
                                  fact.frame.right - shadow.right, fact.frame.bottom - shadow.bottom};
            // Its dialogs, theirs, and the dialogs of its whole application (transient for the
            // root, or for none, in its group).
            if (const std::optional<xcb_window_t> owner = WindowIn(transientFor.get())) {
                owners.emplace_back(look.window, *owner);
                const bool ofGroup = (*owner == XCB_NONE || *owner == x.root) && desktop.group != XCB_NONE && hinted &&
                    (hints.flags & XCB_ICCCM_WM_HINT_WINDOW_GROUP) && hints.window_group == desktop.group;
                fact.family = ofGroup || DialogOf(x, *owner, client, owners);
            }
        }
        if (const std::size_t found = FirstCovering(moved.Frame(), desktop.layer, facts); found < facts.size())
            return windows[found];
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
    xcb_get_property_cookie_t type, state, currentDesktop;
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
            xcb_query_tree(c, x.root),
            xcb_ewmh_get_wm_window_type(&x.ewmh, client),
            xcb_ewmh_get_wm_state(&x.ewmh, client),
            xcb_ewmh_get_current_desktop(&x.ewmh, x.screenNumber)};
}

// Reads the desktop; the root's children, read for it, are handed on through `keepTree`.
Desktop ReadDesktop(Display& x, const DesktopAsked& asked, Owned<xcb_query_tree_reply_t>* keepTree = nullptr)
{
    xcb_connection_t* c = x.connection;
    const auto& [stamp, rootAttributes, check, supported, i3Socket, wmState, normalHints, hints, protocols, clientList,
                 rootTree, type, state, currentDesktop] = asked;
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
    const Owned<xcb_get_property_reply_t> managed{xcb_get_property_reply(c, wmState, nullptr)};
    if (managed && managed->format == 32 && xcb_get_property_value_length(managed.get()) >= 4) {
        desktop.managed = true;
        desktop.iconic =
            *static_cast<const std::uint32_t*>(xcb_get_property_value(managed.get())) == XCB_ICCCM_WM_STATE_ICONIC;
    }
    xcb_size_hints_t size;
    if (xcb_icccm_get_wm_normal_hints_reply(c, normalHints, &size, nullptr) &&
        (size.flags & XCB_ICCCM_SIZE_HINT_P_WIN_GRAVITY) && size.win_gravity != 0)
        desktop.gravity = static_cast<xcb_gravity_t>(size.win_gravity);
    // A window that takes no input and offers no WM_TAKE_FOCUS can never be the active one.
    xcb_icccm_wm_hints_t wmHints;
    const bool hinted = xcb_icccm_get_wm_hints_reply(c, hints, &wmHints, nullptr);
    const bool refusesInput = hinted && (wmHints.flags & XCB_ICCCM_WM_HINT_INPUT) && !wmHints.input;
    if (hinted && (wmHints.flags & XCB_ICCCM_WM_HINT_WINDOW_GROUP))
        desktop.group = wmHints.window_group;
    xcb_icccm_get_wm_protocols_reply_t offered;
    bool takesFocus = false;
    if (xcb_icccm_get_wm_protocols_reply(c, protocols, &offered, nullptr)) {
        takesFocus = Contains(offered.atoms, offered.atoms_len, x.takeFocus);
        xcb_icccm_get_wm_protocols_reply_wipe(&offered);
    }
    desktop.focusable = !refusesInput || takesFocus;
    Owned<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(c, rootTree, nullptr)};
    const Owned<xcb_get_property_reply_t> kind{xcb_get_property_reply(c, type, nullptr)};
    const Owned<xcb_get_property_reply_t> states{xcb_get_property_reply(c, state, nullptr)};
    desktop.layer = LayerOf(x, kind.get(), states.get());
    desktop.maximised = HasState(states.get(), x.ewmh._NET_WM_STATE_MAXIMIZED_VERT) &&
        HasState(states.get(), x.ewmh._NET_WM_STATE_MAXIMIZED_HORZ);
    if (std::uint32_t shown = 0; xcb_ewmh_get_current_desktop_reply(&x.ewmh, currentDesktop, &shown, nullptr))
        desktop.currentDesktop = shown;
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
        seen.coveredBy = CoveringWindow(x, stack, seen, client, desktop, *present, judge);
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
    if (frame.left > work.left || frame.top > work.top || frame.right < work.right || frame.bottom < work.bottom)
        return std::nullopt;
    return POINT{work.left, work.top};
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
    const POINT corner = MaximisedCorner(seen).value_or(POINT{seen.Left(), seen.Top()});
    *lpRect = {corner.x, corner.y, corner.x + seen.width, corner.y + seen.height};
    return TRUE;
}

} // namespace x11
