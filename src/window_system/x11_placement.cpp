// The X11 move. A window manager decides where windows go, so the move asks it (or, with none
// running, moves the window itself), waits for what it does, reads back where the window really
// is and corrects what is off: the offset the manager added, the size it changed, the stacking.
// Every wait is driven by the server's events and bounded; what could not be put right is
// reported, never passed off as done.
#include <poll.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "window_system/i3_ipc.h"
#include "window_system/last_error.h"
#include "window_system/x11_display.h"

namespace x11 {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A window manager that stays silent is given this long, in all, before the move is given up;
// one whose events keep coming, up to the limit.
constexpr milliseconds Patience{500};
constexpr milliseconds Limit{3000};
// This long without an event after a request: the manager has done what it will do with it.
constexpr milliseconds Quiet{120};
constexpr int Rounds = 4;
constexpr int I3TimeoutMs = 1000;

struct Extents {
    int left = 0, right = 0, top = 0, bottom = 0;
    bool Any() const { return left || right || top || bottom; }
};

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

// Where a window is, as the user sees it.
struct Seen {
    bool exists = false;
    xcb_window_t frame = XCB_NONE; // the root's child that holds it
    int frameX = 0, frameY = 0; // the frame's outer corner
    int clientX = 0, clientY = 0; // the client's own origin, inside its border
    int width = 0, height = 0; // the client's size: what the program draws in
    int border = 0; // the client's own border width
    Extents decoration; // what the manager draws around the client
    Extents shadow; // what the client draws around itself, outside what one sees
    bool viewable = false;
    bool onTop = false;
    bool active = false;
    xcb_window_t activeWindow = XCB_NONE; // the manager's active window
    xcb_window_t coveredBy = XCB_NONE; // a normal window above it

    // A window that asks not to be decorated and draws its own frame and shadow (client-side
    // decorations) is seen where its shadow ends; any other where the manager's frame begins.
    bool DrawsOwnFrame() const { return !decoration.Any() && shadow.Any(); }
    int Left() const { return DrawsOwnFrame() ? clientX + shadow.left : clientX - border - decoration.left; }
    int Top() const { return DrawsOwnFrame() ? clientY + shadow.top : clientY - border - decoration.top; }
    // How far the frame's outer corner lies up and left of the corner the user sees.
    int ShadowLeft() const { return DrawsOwnFrame() ? shadow.left + border : 0; }
    int ShadowTop() const { return DrawsOwnFrame() ? shadow.top + border : 0; }
    // The frame's outer size beyond the client's.
    int ExtraWidth() const { return 2 * border + decoration.left + decoration.right; }
    int ExtraHeight() const { return 2 * border + decoration.top + decoration.bottom; }
};

// What the desktop offers for the move of one window.
struct Desktop {
    bool managerRunning = false;
    bool moveResize = false, activate = false, restack = false; // EWMH messages the manager takes
    std::string i3Socket;
    bool managed = false; // the manager has taken the window on (it carries WM_STATE)
    bool iconic = false;
    xcb_gravity_t gravity = XCB_GRAVITY_NORTH_WEST;
    bool focusable = true;
    // The windows present as the move begins, sorted: the root's children and the clients the
    // manager lists.
    std::vector<xcb_window_t> present;
    // The server's time as the move begins: managers judge an activation by its time, and one
    // that comes without a time may be ordered behind focus changes it follows.
    xcb_timestamp_t now = XCB_CURRENT_TIME;
};

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

Desktop LookAtDesktop(Display& x, xcb_window_t client)
{
    xcb_connection_t* c = x.connection;
    // A window of our own, never mapped, whose property change the server stamps with its time.
    const xcb_window_t stamp = xcb_generate_id(c);
    const std::uint32_t stampOptions[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c, 0, stamp, x.root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, stampOptions);
    xcb_change_property(c, XCB_PROP_MODE_APPEND, stamp, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    const auto rootAttributes = xcb_get_window_attributes(c, x.root);
    const auto check = xcb_ewmh_get_supporting_wm_check(&x.ewmh, x.root);
    const auto supported = xcb_ewmh_get_supported(&x.ewmh, x.screenNumber);
    const auto i3Socket = xcb_get_property(c, 0, x.root, x.i3SocketPath, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    const auto wmState = xcb_get_property(c, 0, client, x.wmState, x.wmState, 0, 1);
    const auto normalHints = xcb_icccm_get_wm_normal_hints(c, client);
    const auto hints = xcb_icccm_get_wm_hints(c, client);
    const auto protocols = xcb_icccm_get_wm_protocols(c, client, x.ewmh.WM_PROTOCOLS);
    const auto rootTree = xcb_query_tree(c, x.root);
    const auto clientList = xcb_ewmh_get_client_list(&x.ewmh, x.screenNumber);

    Desktop desktop;
    desktop.managerRunning = ManagerRunning(x, rootAttributes);
    xcb_window_t checkWindow = XCB_NONE;
    const bool announced = xcb_ewmh_get_supporting_wm_check_reply(&x.ewmh, check, &checkWindow, nullptr);
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
    const Owned<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(c, rootTree, nullptr)};
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        desktop.present.assign(children, children + xcb_query_tree_children_length(tree.get()));
    }
    xcb_ewmh_get_windows_reply_t list;
    if (xcb_ewmh_get_client_list_reply(&x.ewmh, clientList, &list, nullptr)) {
        desktop.present.insert(desktop.present.end(), list.windows, list.windows + list.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    std::sort(desktop.present.begin(), desktop.present.end());
    // The stamp's event came before the replies read above.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(c)) {
        const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY && change->window == stamp)
            desktop.now = change->time;
        std::free(event);
    }
    xcb_destroy_window(c, stamp);

    // A check window that does not point at itself is left over from a manager that has gone.
    xcb_window_t self = XCB_NONE;
    const bool live = announced &&
        xcb_ewmh_get_supporting_wm_check_reply(&x.ewmh, xcb_ewmh_get_supporting_wm_check(&x.ewmh, checkWindow), &self,
                                               nullptr) &&
        self == checkWindow;
    if (!live || !desktop.managerRunning)
        desktop.moveResize = desktop.activate = desktop.restack = false;
    if (desktop.i3Socket.empty() && desktop.managerRunning)
        if (const char* socketPath = std::getenv("I3SOCK"))
            desktop.i3Socket = socketPath;
    return desktop;
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
// began (not among `present`) may be above it.
xcb_window_t NormalWindowAbove(Display& x, const xcb_query_tree_reply_t* tree, xcb_window_t frame, xcb_window_t client,
                               bool managerRunning, const std::vector<xcb_window_t>& present)
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
};
Memory Last;
constexpr milliseconds Fresh{100};

// Reads where the window is; given the windows present when the move began, also whether it is
// on top of them and active.
Seen Observe(Display& x, xcb_window_t client, bool managerRunning, const std::vector<xcb_window_t>* present)
{
    const bool stacking = present != nullptr;
    xcb_connection_t* c = x.connection;
    const auto geometry = xcb_get_geometry(c, client);
    const auto origin = xcb_translate_coordinates(c, client, x.root, 0, 0);
    const auto frameExtents = xcb_ewmh_get_frame_extents(&x.ewmh, client);
    const auto shadowExtents = xcb_get_property(c, 0, client, x.gtkFrameExtents, XCB_ATOM_CARDINAL, 0, 4);
    const auto attributes = xcb_get_window_attributes(c, client);
    const auto parent = xcb_query_tree(c, client);
    // The frame it was in last time, asked for at once: it is most likely where it still is.
    const bool knownFrame = Last.client == client && Last.frame != XCB_NONE && Last.frame != client;
    const auto lastFrame = knownFrame ? xcb_get_geometry(c, Last.frame) : xcb_get_geometry_cookie_t{};
    xcb_query_tree_cookie_t rootTree{};
    xcb_get_property_cookie_t active{};
    xcb_get_input_focus_cookie_t focus{};
    if (stacking) {
        rootTree = xcb_query_tree(c, x.root);
        active = xcb_ewmh_get_active_window(&x.ewmh, x.screenNumber);
        focus = xcb_get_input_focus(c);
    }

    Seen seen;
    const Owned<xcb_get_geometry_reply_t> own{xcb_get_geometry_reply(c, geometry, nullptr)};
    const Owned<xcb_translate_coordinates_reply_t> place{xcb_translate_coordinates_reply(c, origin, nullptr)};
    const Owned<xcb_get_property_reply_t> frameReply{xcb_get_property_reply(c, frameExtents, nullptr)};
    const Owned<xcb_get_property_reply_t> shadowReply{xcb_get_property_reply(c, shadowExtents, nullptr)};
    const Owned<xcb_get_window_attributes_reply_t> mapped{xcb_get_window_attributes_reply(c, attributes, nullptr)};
    const Owned<xcb_query_tree_reply_t> up{xcb_query_tree_reply(c, parent, nullptr)};
    Owned<xcb_get_geometry_reply_t> lastFrameGeometry{knownFrame ? xcb_get_geometry_reply(c, lastFrame, nullptr)
                                                                 : nullptr};
    const Owned<xcb_query_tree_reply_t> stack{stacking ? xcb_query_tree_reply(c, rootTree, nullptr) : nullptr};
    xcb_window_t activeWindow = XCB_NONE;
    if (stacking && !xcb_ewmh_get_active_window_reply(&x.ewmh, active, &activeWindow, nullptr))
        activeWindow = XCB_NONE;
    const Owned<xcb_get_input_focus_reply_t> focused{stacking ? xcb_get_input_focus_reply(c, focus, nullptr) : nullptr};
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
    if (stacking && stack) {
        seen.coveredBy = NormalWindowAbove(x, stack.get(), seen.frame, client, managerRunning, *present);
        seen.onTop = seen.coveredBy == XCB_NONE;
        seen.activeWindow = activeWindow;
        // The manager's word, or, where it names no window, the keyboard's focus: openbox under
        // load has been seen to give the focus and never name the window.
        seen.active = activeWindow == client || (activeWindow == XCB_NONE && focused && focused->focus == client);
    }
    Last = {client, up->parent, seen.frame, seen, Clock::now()};
    return seen;
}

// What was seen of the window a moment ago, or a new look at it.
Seen Recall(Display& x, xcb_window_t client)
{
    if (Last.client == client && Last.seen.exists && Clock::now() - Last.at < Fresh)
        return Last.seen;
    return Observe(x, client, false, nullptr);
}

// What the move must achieve.
struct Target {
    int left, top; // the corner the user sees
    int width, height; // the client's size
    bool raise;
    bool viewable; // a window the manager had taken on must be seen afterwards
    bool active;
};

bool Reached(const Seen& seen, const Target& target)
{
    return seen.exists && seen.Left() == target.left && seen.Top() == target.top && seen.width == target.width &&
        seen.height == target.height && (!target.raise || seen.onTop) && (!target.viewable || seen.viewable) &&
        (!target.active || seen.active);
}

// Waits for any event until `until`; false when none came. Events that arrived while replies
// were read are already queued, so those count at once. Notes when the client gets the focus.
bool AwaitActivity(Display& x, Clock::time_point until, xcb_window_t client, bool& focused)
{
    xcb_flush(x.connection);
    for (;;) {
        bool any = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(x.connection)) {
            any = true;
            const auto* focus = reinterpret_cast<const xcb_focus_in_event_t*>(event);
            if ((event->response_type & 0x7F) == XCB_FOCUS_IN && focus->event == client &&
                focus->detail != XCB_NOTIFY_DETAIL_POINTER)
                focused = true;
            std::free(event);
        }
        if (any)
            return true;
        const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
        if (left <= 0 || xcb_connection_has_error(x.connection))
            return false;
        pollfd ready{xcb_get_file_descriptor(x.connection), POLLIN, 0};
        poll(&ready, 1, static_cast<int>(left));
    }
}

void Watch(Display& x, xcb_window_t window, std::uint32_t events)
{
    xcb_change_window_attributes(x.connection, window, XCB_CW_EVENT_MASK, &events);
}

void Configure(Display& x, xcb_window_t window, int left, int top, const int* size, bool raise)
{
    std::uint16_t mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
    std::uint32_t values[5];
    int n = 0;
    values[n++] = static_cast<std::uint32_t>(left);
    values[n++] = static_cast<std::uint32_t>(top);
    if (size) {
        mask |= XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
        values[n++] = static_cast<std::uint32_t>(size[0]);
        values[n++] = static_cast<std::uint32_t>(size[1]);
    }
    if (raise) {
        mask |= XCB_CONFIG_WINDOW_STACK_MODE;
        values[n++] = XCB_STACK_MODE_ABOVE;
    }
    xcb_configure_window(x.connection, window, mask, values);
}

void Raise(Display& x, xcb_window_t window)
{
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(x.connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
}

// The position to ask of an ICCCM configure request so that the frame lands with its visible
// corner at the target: the manager keeps in place the point of the frame that the window's
// gravity names, where Static names the client's own corner.
std::pair<int, int> IcccmPosition(const Seen& seen, const Target& target, xcb_gravity_t gravity)
{
    // The frame's outer box, and the client's box (border included) as the request describes it.
    const int frameLeft = target.left - seen.ShadowLeft(), frameTop = target.top - seen.ShadowTop();
    if (gravity == XCB_GRAVITY_STATIC)
        return {frameLeft + seen.decoration.left, frameTop + seen.decoration.top};
    const int frameWidth = target.width + seen.ExtraWidth(), frameHeight = target.height + seen.ExtraHeight();
    const int boxWidth = target.width + 2 * seen.border, boxHeight = target.height + 2 * seen.border;
    int across = 0, down = 0; // 0 the left (top) edge, 1 the middle, 2 the right (bottom) edge
    switch (gravity) {
    case XCB_GRAVITY_NORTH:
        across = 1;
        break;
    case XCB_GRAVITY_NORTH_EAST:
        across = 2;
        break;
    case XCB_GRAVITY_WEST:
        down = 1;
        break;
    case XCB_GRAVITY_CENTER:
        across = down = 1;
        break;
    case XCB_GRAVITY_EAST:
        across = 2;
        down = 1;
        break;
    case XCB_GRAVITY_SOUTH_WEST:
        down = 2;
        break;
    case XCB_GRAVITY_SOUTH:
        across = 1;
        down = 2;
        break;
    case XCB_GRAVITY_SOUTH_EAST:
        across = down = 2;
        break;
    default:
        break;
    }
    return {frameLeft + (across * frameWidth) / 2 - (across * boxWidth) / 2,
            frameTop + (down * frameHeight) / 2 - (down * boxHeight) / 2};
}

enum class Way {
    Direct, // no manager: configure the frame ourselves
    Ewmh, // _NET_MOVERESIZE_WINDOW and _NET_ACTIVE_WINDOW
    Icccm, // a configure request the manager reads with the window's gravity
    I3, // i3's own commands, through its IPC socket
};

// The i3 commands that float the window at the target, at the client size asked for.
std::string I3Command(xcb_window_t client, const Seen& seen, const Target& target, int correctX, int correctY,
                      int correctWidth, int correctHeight)
{
    // i3 sizes and places a floating window by its frame, title bar and borders included.
    const int frameWidth = target.width - correctWidth + seen.ExtraWidth();
    const int frameHeight = target.height - correctHeight + seen.ExtraHeight();
    return "[id=" + std::to_string(client) + "] floating enable, resize set " + std::to_string(frameWidth) + " px " +
        std::to_string(frameHeight) + " px, move position " +
        std::to_string(target.left - seen.ShadowLeft() - correctX) + " px " +
        std::to_string(target.top - seen.ShadowTop() - correctY) + " px" + (target.raise ? ", focus" : "");
}

std::string WindowTitle(xcb_window_t window)
{
    char title[128];
    x11::GetWindowTextA(HandleOf(window), title, sizeof title);
    return QuotedTitle(title);
}

// What is off, in the words of the message: the first thing that is.
std::string Account(const Seen& seen, const Target& target, const std::string& refusal)
{
    if (!refusal.empty())
        return refusal;
    if (target.viewable && !seen.viewable)
        return "the window manager left it hidden";
    if (seen.Left() != target.left || seen.Top() != target.top)
        return "the window manager kept it at (" + std::to_string(seen.Left()) + ", " + std::to_string(seen.Top()) +
            ")";
    if (seen.width != target.width || seen.height != target.height)
        return "the window manager made it " + std::to_string(seen.width) + "x" + std::to_string(seen.height) +
            " instead of " + std::to_string(target.width) + "x" + std::to_string(target.height);
    if (target.raise && !seen.onTop)
        return "the window manager kept " + WindowTitle(seen.coveredBy) + " above it";
    return "the window manager did not make it the active window";
}

} // namespace

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X_, int Y, int cx, int cy, UINT uFlags)
{
    Display& x = X();
    const xcb_window_t client = WindowOf(hWnd);
    const Clock::time_point start = Clock::now();
    const Desktop desktop = LookAtDesktop(x, client);

    Seen seen = Observe(x, client, desktop.managerRunning, &desktop.present);
    if (!seen.exists)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const std::vector<xcb_window_t>& present = desktop.present;
    const bool keepSize = uFlags & SWP_NOSIZE;
    Target target{X_,
                  Y,
                  keepSize ? seen.width : cx,
                  keepSize ? seen.height : cy,
                  hWndInsertAfter == HWND_TOP,
                  desktop.managerRunning && desktop.managed,
                  false};
    target.active = target.raise && target.viewable && desktop.activate && desktop.focusable;
    // A window already where it must be needs nothing of the manager.
    if (Reached(seen, target))
        return TRUE;

    // Every change to the window, its frame and the active window wakes the wait below; asked for
    // before anything is requested, so nothing the manager does is missed.
    const std::uint32_t changes = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    Watch(x, client, changes | XCB_EVENT_MASK_FOCUS_CHANGE);
    if (seen.frame != client)
        Watch(x, seen.frame, changes);
    Watch(x, x.root, XCB_EVENT_MASK_PROPERTY_CHANGE);

    Way first = Way::Direct;
    if (desktop.managerRunning && !desktop.managed)
        first = Way::Icccm; // a window nobody manages: the manager passes the request on as it is
    else if (desktop.managerRunning)
        first = desktop.moveResize ? Way::Ewmh : Way::Icccm;
    // i3 tiles windows, and only its own commands float one.
    std::optional<i3ipc::Connection> i3 = desktop.managerRunning && desktop.managed && !desktop.i3Socket.empty()
        ? i3ipc::Connection::Open(desktop.i3Socket)
        : std::nullopt;
    if (i3)
        first = Way::I3;
    const Way fallback = first == Way::Ewmh ? Way::Icccm : first;

    Clock::time_point deadline = start + Patience;
    int correctX = 0, correctY = 0, correctWidth = 0, correctHeight = 0;
    std::string refusal;
    bool focused = false; // the client had the focus at some moment of the move
    for (int round = 0; round < Rounds && refusal.empty(); ++round) {
        const Way way = round < 2 ? first : fallback;
        if (round == 2 && way != first)
            correctX = correctY = correctWidth = correctHeight = 0; // offsets learnt from another way
        const int askedWidth = target.width - correctWidth, askedHeight = target.height - correctHeight;
        const int size[2] = {askedWidth, askedHeight};
        const bool resize = askedWidth != seen.width || askedHeight != seen.height || way != Way::Direct;
        switch (way) {
        case Way::Direct:
            Configure(x, seen.frame, seen.frameX + target.left - seen.Left(), seen.frameY + target.top - seen.Top(),
                      seen.frame == client && resize ? size : nullptr, target.raise);
            break;
        case Way::Ewmh: {
            // North-west gravity: the position is the frame's outer corner.
            const int left = target.left - seen.ShadowLeft() - correctX;
            const int top = target.top - seen.ShadowTop() - correctY;
            xcb_ewmh_request_moveresize_window(
                &x.ewmh, x.screenNumber, client, XCB_GRAVITY_NORTH_WEST, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                static_cast<xcb_ewmh_moveresize_window_opt_flags_t>(
                    XCB_EWMH_MOVERESIZE_WINDOW_X | XCB_EWMH_MOVERESIZE_WINDOW_Y | XCB_EWMH_MOVERESIZE_WINDOW_WIDTH |
                    XCB_EWMH_MOVERESIZE_WINDOW_HEIGHT),
                static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top),
                static_cast<std::uint32_t>(askedWidth), static_cast<std::uint32_t>(askedHeight));
            break;
        }
        case Way::Icccm: {
            const auto [left, top] = IcccmPosition(seen, target, desktop.gravity);
            Configure(x, client, left - correctX, top - correctY, size, target.raise);
            // An iconified window asks to be shown again by mapping itself.
            if (desktop.iconic)
                xcb_map_window(x.connection, client);
            break;
        }
        case Way::I3: {
            const auto reply =
                i3->Ask(i3ipc::RunCommand,
                        I3Command(client, seen, target, correctX, correctY, correctWidth, correctHeight), I3TimeoutMs);
            if (!reply)
                refusal = "i3 did not answer";
            else if (const std::string error = i3ipc::CommandError(*reply); !error.empty())
                refusal = "i3 refused: " + error;
            break;
        }
        }
        if (target.raise && way != Way::I3) {
            if (desktop.activate && (round == 0 || !seen.active))
                xcb_ewmh_request_change_active_window(&x.ewmh, x.screenNumber, client,
                                                      XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, desktop.now, XCB_NONE);
            if (round > 0 && !seen.onTop && desktop.restack)
                xcb_ewmh_request_restack_window(&x.ewmh, x.screenNumber, client, XCB_NONE, XCB_STACK_MODE_ABOVE);
            else if (round > 0 && !seen.onTop && way == Way::Ewmh)
                Raise(x, client);
        }

        // Watch what the manager does until it has been quiet for a while.
        const Seen before = seen;
        for (;;) {
            seen = Observe(x, client, desktop.managerRunning, &present);
            if (!seen.exists)
                return Fail(ERROR_INVALID_WINDOW_HANDLE);
            // A window that opened since the move began may have taken the focus from it.
            focused = focused || seen.active;
            seen.active = seen.active ||
                (focused && seen.activeWindow != XCB_NONE &&
                 !std::binary_search(present.begin(), present.end(), seen.activeWindow));
            if (Reached(seen, target))
                return TRUE;
            if (!AwaitActivity(x, std::min(Clock::now() + Quiet, deadline), client, focused))
                break;
            deadline = std::clamp(Clock::now() + Quiet, deadline, start + Limit);
        }
        if (Clock::now() >= deadline)
            break;
        // What the manager did with the request, taken back from the next one. A manager that did
        // nothing with it taught nothing.
        if (seen.Left() != before.Left() || seen.Top() != before.Top()) {
            correctX += seen.Left() - target.left;
            correctY += seen.Top() - target.top;
        }
        if (seen.width != before.width || seen.height != before.height) {
            correctWidth += seen.width - target.width;
            correctHeight += seen.height - target.height;
        }
    }
    return Fail(ERROR_ACCESS_DENIED, Account(seen, target, refusal));
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    Display& x = X();
    // Right after a move this is the look that verified it.
    const Seen seen = Recall(x, WindowOf(hWnd));
    if (!seen.exists)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    *lpRect = {seen.Left(), seen.Top(), seen.Left() + seen.width, seen.Top() + seen.height};
    return TRUE;
}

} // namespace x11
