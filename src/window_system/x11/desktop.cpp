// The look at the desktop a move starts from: whether a manager runs and what it takes, what the
// window asks of it, and the windows present, in one batch of requests.
#include <xcb/xcb_icccm.h>

#include <cstdlib>

#include "window_system/x11/properties.h"

namespace x11 {

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

Desktop ReadDesktop(Display& x, const DesktopAsked& asked, Owned<xcb_query_tree_reply_t>* keepTree)
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

} // namespace x11
