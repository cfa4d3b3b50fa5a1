// The windows stacked above the moved one, and which of them the user could see over it: their
// facts read in batches from the top down and judged by the shared rule (stacking.h).
#include <xcb/xcb_icccm.h>

#include "window_system/stacking.h"
#include "window_system/x11/properties.h"

namespace x11 {

namespace {

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

} // namespace

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
    // A full-screen window is above the others only while it has the focus, which the stacking
    // order already shows: it is judged where it stands, as any normal window, even where the
    // manager marks it keep-above for that while (fluxbox does). Over the moved window it hides
    // the whole of it.
    if (HasState(state, e._NET_WM_STATE_FULLSCREEN))
        return NormalLayer;
    if (HasState(state, e._NET_WM_STATE_ABOVE) || HasState(state, x.staysOnTop))
        return AboveLayer;
    if (HasState(state, e._NET_WM_STATE_BELOW))
        return BelowLayer;
    return NormalLayer;
}

xcb_window_t CoveringWindow(Display& x, const xcb_query_tree_reply_t* tree, const Seen& moved, xcb_window_t client,
                            const Desktop& desktop, std::optional<std::uint32_t> shownDesktop,
                            const std::vector<xcb_window_t>& present, bool judge)
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
        std::vector<xcb_window_t> windows, looked; // looked: the viewable ones
        std::vector<bool> unmanaged; // of the looked ones: override-redirect, which no manager frames
        for (std::size_t i = first; i < end; ++i) {
            const Owned<xcb_get_window_attributes_reply_t> attributes{
                xcb_get_window_attributes_reply(c, outer[i - first].attributes, nullptr)};
            const Owned<xcb_get_geometry_reply_t> geometry{
                xcb_get_geometry_reply(c, outer[i - first].geometry, nullptr)};
            Answered();
            if (!attributes || !geometry)
                continue; // gone meanwhile
            const int border = 2 * geometry->border_width;
            // A window for input alone shows nothing (icewm keeps one over the screen's edge).
            facts.push_back(
                {{geometry->x, geometry->y, geometry->x + geometry->width + border,
                  geometry->y + geometry->height + border},
                 attributes->map_state == XCB_MAP_STATE_VIEWABLE && attributes->_class != XCB_WINDOW_CLASS_INPUT_ONLY,
                 NormalLayer,
                 false});
            windows.push_back(above[i]);
            if (facts.back().shown) {
                looked.push_back(above[i]);
                unmanaged.push_back(attributes->override_redirect != 0);
            }
        }
        // Under a manager, a window with a client inside is judged by its client, whatever the
        // frame's override-redirect flag (Window Maker sets it on its frames). Without one, an
        // override-redirect window is judged by its own type (a menu, a tooltip, a notification
        // stay above; any other is seen where it lies), and any other is one of the manager's own,
        // as is the window it announced itself through (openbox keeps that one at the corner,
        // a pixel large, override-redirect).
        std::vector<xcb_window_t> clients = desktop.managerRunning ? ManagedClients(x, looked, {}) : looked;
        for (std::size_t k = 0; k < looked.size(); ++k)
            if (clients[k] == XCB_NONE && unmanaged[k] && !(desktop.managerRunning && looked[k] == x.wmCheck))
                clients[k] = looked[k];

        struct Properties {
            std::size_t fact;
            xcb_window_t window;
            xcb_get_property_cookie_t type, state, transientFor, hints, onDesktop, frameExtents, shadowExtents, strut,
                strutPartial;
        };
        std::vector<Properties> asked;
        for (std::size_t i = 0, k = 0; i < windows.size() && k < looked.size(); ++i) {
            if (windows[i] != looked[k])
                continue;
            const xcb_window_t other = clients[k++];
            windows[i] = other == XCB_NONE ? windows[i] : other; // named by its client from here on
            if (other == XCB_NONE) {
                facts[i].layer = PanelLayer;
                continue;
            }
            asked.push_back({i, other, xcb_ewmh_get_wm_window_type(&x.ewmh, other),
                             xcb_ewmh_get_wm_state(&x.ewmh, other), AskTransientFor(x, other),
                             xcb_icccm_get_wm_hints(c, other), xcb_ewmh_get_wm_desktop(&x.ewmh, other),
                             xcb_ewmh_get_frame_extents(&x.ewmh, other),
                             xcb_get_property(c, 0, other, x.gtkFrameExtents, XCB_ATOM_CARDINAL, 0, 4),
                             xcb_get_property(c, 0, other, x.ewmh._NET_WM_STRUT, XCB_ATOM_CARDINAL, 0, 0),
                             xcb_get_property(c, 0, other, x.ewmh._NET_WM_STRUT_PARTIAL, XCB_ATOM_CARDINAL, 0, 0)});
        }
        for (const Properties& look : asked) {
            const Owned<xcb_get_property_reply_t> type{xcb_get_property_reply(c, look.type, nullptr)};
            const Owned<xcb_get_property_reply_t> state{xcb_get_property_reply(c, look.state, nullptr)};
            const Owned<xcb_get_property_reply_t> transientFor{xcb_get_property_reply(c, look.transientFor, nullptr)};
            const Owned<xcb_get_property_reply_t> frameExtents{xcb_get_property_reply(c, look.frameExtents, nullptr)};
            const Owned<xcb_get_property_reply_t> shadowExtents{xcb_get_property_reply(c, look.shadowExtents, nullptr)};
            const Owned<xcb_get_property_reply_t> strut{xcb_get_property_reply(c, look.strut, nullptr)};
            const Owned<xcb_get_property_reply_t> strutPartial{xcb_get_property_reply(c, look.strutPartial, nullptr)};
            xcb_icccm_wm_hints_t hints{};
            const bool hinted = xcb_icccm_get_wm_hints_reply(c, look.hints, &hints, nullptr);
            std::uint32_t onDesktop = 0;
            const bool placed = xcb_ewmh_get_wm_desktop_reply(&x.ewmh, look.onDesktop, &onDesktop, nullptr);
            Answered();
            StackedWindow& fact = facts[look.fact];
            // A window that reserves an edge of the screen is a panel, whatever its type (icewm's
            // task bar names none).
            const bool reserves =
                (strut && strut->type != XCB_NONE) || (strutPartial && strutPartial->type != XCB_NONE);
            fact.layer = std::max(LayerOf(x, type.get(), state.get()), reserves ? int{PanelLayer} : int{NormalLayer});
            // Minimised where the manager keeps it mapped, or on a desktop not in view. i3 shows a
            // workspace on every monitor but names only the focused one's in view, and unmaps the
            // windows of those it hides: what it keeps mapped is shown.
            const bool elsewhere = placed && onDesktop != 0xFFFFFFFF && shownDesktop && onDesktop != *shownDesktop &&
                desktop.i3Socket.empty();
            if (HasState(state.get(), x.ewmh._NET_WM_STATE_HIDDEN) || elsewhere)
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

} // namespace x11
