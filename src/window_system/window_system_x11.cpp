// The window system over X11, with libxcb. A handle carries the X id of the client window that
// stands for a top-level window: the root's child itself, or the client a window manager framed.
// Every request about another program's window may fail because that window has gone; such
// errors are read as values (reply error out-parameters, checked requests) and never printed.
#include "window_system/window_system.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "window_system/x11_title.h"

namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename Reply> using Owned = std::unique_ptr<Reply, FreeDeleter>;

// Deeper than any window manager nests its client inside its frame.
constexpr int MaxFrameDepth = 4;

struct Display {
    xcb_connection_t* connection = nullptr;
    int screenNumber = 0;
    xcb_window_t root = XCB_NONE;
    xcb_ewmh_connection_t ewmh{};
    xcb_atom_t wmState = XCB_NONE;
    TitleAtoms titleAtoms{};

    ~Display()
    {
        if (!connection)
            return;
        xcb_ewmh_connection_wipe(&ewmh);
        xcb_disconnect(connection);
    }
};

xcb_atom_t InternReply(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie)
{
    const Owned<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(connection, cookie, nullptr)};
    return reply ? reply->atom : XCB_NONE;
}

// The one connection, opened on first use. Not reaching the display is the only fatal error.
Display& X()
{
    static Display display;
    if (display.connection)
        return display;

    xcb_connection_t* connection = xcb_connect(nullptr, &display.screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr, "topleft: cannot open display %s\n", name && *name ? name : "(DISPLAY is not set)");
        std::exit(1);
    }
    display.connection = connection;

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < display.screenNumber && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    display.root = screens.data->root;

    // All atoms in one round trip.
    xcb_intern_atom_cookie_t* ewmhCookies = xcb_ewmh_init_atoms(connection, &display.ewmh);
    const auto wmState = xcb_intern_atom(connection, 0, 8, "WM_STATE");
    const auto compoundText = xcb_intern_atom(connection, 0, 13, "COMPOUND_TEXT");
    xcb_ewmh_init_atoms_replies(&display.ewmh, ewmhCookies, nullptr);
    display.wmState = InternReply(connection, wmState);
    display.titleAtoms = {XCB_ATOM_STRING, display.ewmh.UTF8_STRING, InternReply(connection, compoundText)};
    return display;
}

HWND HandleOf(xcb_window_t window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }

xcb_window_t WindowOf(HWND handle) { return static_cast<xcb_window_t>(reinterpret_cast<std::uintptr_t>(handle)); }

// The two title properties of one window, asked for together.
struct TitleRequest {
    xcb_window_t window;
    xcb_get_property_cookie_t netName, name;
};

TitleRequest RequestTitle(Display& x, xcb_window_t window, std::uint32_t units)
{
    return {window, xcb_get_property(x.connection, 0, window, x.ewmh._NET_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, units),
            xcb_get_property(x.connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, units)};
}

TitleProperty PropertyOf(const xcb_get_property_reply_t* reply)
{
    if (!reply)
        return {XCB_NONE, 0, nullptr, 0, false};
    return {reply->type, reply->format, static_cast<const std::uint8_t*>(xcb_get_property_value(reply)),
            static_cast<std::size_t>(xcb_get_property_value_length(reply)), reply->bytes_after > 0};
}

int CollectTitle(Display& x, const TitleRequest& request, char* out, int limit)
{
    const Owned<xcb_get_property_reply_t> netName{xcb_get_property_reply(x.connection, request.netName, nullptr)};
    const Owned<xcb_get_property_reply_t> name{xcb_get_property_reply(x.connection, request.name, nullptr)};
    const std::size_t room = static_cast<std::size_t>(limit);

    // _NET_WM_NAME is UTF-8 by definition; anything else in it is ignored, as is an empty one.
    const TitleProperty preferred = PropertyOf(netName.get());
    if (preferred.type == x.titleAtoms.utf8String && preferred.length > 0) {
        const std::size_t written = DecodeTitle(preferred, x.titleAtoms, out, room);
        if (written > 0)
            return static_cast<int>(written);
    }
    return static_cast<int>(DecodeTitle(PropertyOf(name.get()), x.titleAtoms, out, room));
}

void Discard(xcb_connection_t* connection, const TitleRequest& request)
{
    xcb_discard_reply(connection, request.netName.sequence);
    xcb_discard_reply(connection, request.name.sequence);
}

// WM_STATE marks a window a manager has taken on (or once did): its presence is all that counts.
xcb_get_property_cookie_t RequestWmState(Display& x, xcb_window_t window)
{
    return xcb_get_property(x.connection, 0, window, x.wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
}

bool CarriesWmState(Display& x, xcb_get_property_cookie_t cookie)
{
    const Owned<xcb_get_property_reply_t> state{xcb_get_property_reply(x.connection, cookie, nullptr)};
    return state && state->type != XCB_NONE;
}

constexpr int TitleLimit = 128; // what the listing asks for; a larger request fetches anew

// The walk in progress: titles for every window were requested before the first callback, and
// GetWindowTextA takes the reply of the window the walk is on.
struct Walk {
    std::vector<TitleRequest> titles;
    std::size_t current = 0;
    bool collected = true;
};
Walk* ActiveWalk = nullptr;

// The frame of every window the window manager lists as managed: each client's ancestors are
// walked up to a child of the root, one level of all clients per batch.
std::vector<std::pair<xcb_window_t, xcb_window_t>>
FramesOfManagedClients(Display& x, const std::vector<xcb_window_t>& managed, std::vector<xcb_window_t> topLevel)
{
    // A parent among the root's children ends the climb without asking the server once more.
    std::sort(topLevel.begin(), topLevel.end());
    std::vector<std::pair<xcb_window_t, xcb_window_t>> frameClient; // (frame, client), sorted by frame
    struct Climb {
        xcb_window_t client, current;
    };
    std::vector<Climb> climbing;
    climbing.reserve(managed.size());
    for (xcb_window_t client : managed)
        climbing.push_back({client, client});
    for (int depth = 0; depth <= MaxFrameDepth && !climbing.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> trees;
        trees.reserve(climbing.size());
        for (const Climb& c : climbing)
            trees.push_back(xcb_query_tree(x.connection, c.current));
        std::vector<Climb> still;
        for (std::size_t i = 0; i < climbing.size(); ++i) {
            const Owned<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(x.connection, trees[i], nullptr)};
            if (!tree)
                continue; // gone: the walk over the root's children will not meet it either
            if (tree->parent == x.root)
                frameClient.emplace_back(climbing[i].current, climbing[i].client);
            else if (std::binary_search(topLevel.begin(), topLevel.end(), tree->parent))
                frameClient.emplace_back(tree->parent, climbing[i].client);
            else if (tree->parent != XCB_NONE)
                still.push_back({climbing[i].client, tree->parent});
        }
        climbing = std::move(still);
    }
    std::sort(frameClient.begin(), frameClient.end());
    return frameClient;
}

// For each top-level window (root children, topmost first) the client window that stands for it:
// the client the window manager lists inside it; the window itself when it carries WM_STATE;
// otherwise the first descendant carrying WM_STATE, searched breadth first one level at a time,
// every level in one batch; the window itself where none does (no window manager, or a window
// it leaves alone). Asking the manager first spares a descent into every frame's decorations.
std::vector<xcb_window_t> ClientWindows(Display& x, const std::vector<xcb_window_t>& topLevel,
                                        const std::vector<xcb_window_t>& managed)
{
    std::vector<xcb_window_t> clients(topLevel.size(), XCB_NONE);
    struct Candidate {
        std::size_t owner;
        xcb_window_t window;
    };
    std::vector<Candidate> level;
    {
        const auto frameClient = FramesOfManagedClients(x, managed, topLevel);
        std::vector<Candidate> unknown;
        for (std::size_t i = 0; i < topLevel.size(); ++i) {
            const auto framed =
                std::lower_bound(frameClient.begin(), frameClient.end(), std::make_pair(topLevel[i], xcb_window_t{0}));
            if (framed != frameClient.end() && framed->first == topLevel[i])
                clients[i] = framed->second;
            else
                unknown.push_back({i, topLevel[i]});
        }
        std::vector<xcb_get_property_cookie_t> states;
        states.reserve(unknown.size());
        for (const Candidate& c : unknown)
            states.push_back(RequestWmState(x, c.window));
        for (std::size_t i = 0; i < unknown.size(); ++i) {
            if (CarriesWmState(x, states[i]))
                clients[unknown[i].owner] = unknown[i].window;
            else
                level.push_back(unknown[i]);
        }
    }

    // Each level asks for the children's WM_STATE and, should they carry none, their own
    // children, in one batch.
    std::vector<xcb_query_tree_cookie_t> trees;
    trees.reserve(level.size());
    for (const Candidate& c : level)
        trees.push_back(xcb_query_tree(x.connection, c.window));
    for (int depth = 1; depth <= MaxFrameDepth && !level.empty(); ++depth) {
        std::vector<Candidate> children;
        for (std::size_t i = 0; i < level.size(); ++i) {
            // A window that vanished mid-walk has no children to offer.
            const Owned<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(x.connection, trees[i], nullptr)};
            if (!tree)
                continue;
            const xcb_window_t* child = xcb_query_tree_children(tree.get());
            for (int k = 0, n = xcb_query_tree_children_length(tree.get()); k < n; ++k)
                children.push_back({level[i].owner, child[k]});
        }
        const bool descend = depth < MaxFrameDepth;
        std::vector<xcb_get_property_cookie_t> states;
        trees.clear();
        for (const Candidate& c : children) {
            states.push_back(RequestWmState(x, c.window));
            if (descend)
                trees.push_back(xcb_query_tree(x.connection, c.window));
        }
        level.clear();
        std::vector<xcb_query_tree_cookie_t> kept;
        for (std::size_t i = 0; i < children.size(); ++i) {
            const bool managed = CarriesWmState(x, states[i]);
            const std::size_t owner = children[i].owner;
            if (clients[owner] == XCB_NONE && managed)
                clients[owner] = children[i].window;
            if (!descend)
                continue;
            if (clients[owner] == XCB_NONE) {
                level.push_back(children[i]);
                kept.push_back(trees[i]);
            } else {
                xcb_discard_reply(x.connection, trees[i].sequence);
            }
        }
        trees = std::move(kept);
    }
    for (std::size_t i = 0; i < clients.size(); ++i)
        if (clients[i] == XCB_NONE)
            clients[i] = topLevel[i];
    return clients;
}

// The root's child that contains the window: its frame under a reparenting window manager.
xcb_window_t TopLevelOf(Display& x, xcb_window_t window)
{
    for (int depth = 0; depth <= MaxFrameDepth + 1; ++depth) {
        const Owned<xcb_query_tree_reply_t> tree{
            xcb_query_tree_reply(x.connection, xcb_query_tree(x.connection, window), nullptr)};
        if (!tree)
            return XCB_NONE;
        if (tree->parent == x.root || tree->parent == XCB_NONE)
            return window;
        window = tree->parent;
    }
    return XCB_NONE;
}

// Whether a running window manager supports the EWMH messages a move needs: its check window
// must point at itself (a stale property from a manager that has exited does not).
bool ManagerSupportsMoves(Display& x)
{
    xcb_window_t check = XCB_NONE;
    if (!xcb_ewmh_get_supporting_wm_check_reply(&x.ewmh, xcb_ewmh_get_supporting_wm_check(&x.ewmh, x.root), &check,
                                                nullptr))
        return false;
    xcb_window_t self = XCB_NONE;
    if (!xcb_ewmh_get_supporting_wm_check_reply(&x.ewmh, xcb_ewmh_get_supporting_wm_check(&x.ewmh, check), &self,
                                                nullptr) ||
        self != check)
        return false;

    xcb_ewmh_get_atoms_reply_t supported;
    if (!xcb_ewmh_get_supported_reply(&x.ewmh, xcb_ewmh_get_supported(&x.ewmh, x.screenNumber), &supported, nullptr))
        return false;
    bool moveResize = false;
    for (std::uint32_t i = 0; i < supported.atoms_len; ++i)
        moveResize = moveResize || supported.atoms[i] == x.ewmh._NET_MOVERESIZE_WINDOW;
    xcb_ewmh_get_atoms_reply_wipe(&supported);
    return moveResize;
}

bool Succeeded(xcb_connection_t* connection, xcb_void_cookie_t cookie)
{
    const Owned<xcb_generic_error_t> error{xcb_request_check(connection, cookie)};
    return !error;
}

} // namespace

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    Display& x = X();
    const xcb_query_tree_cookie_t rootTree = xcb_query_tree(x.connection, x.root);
    const xcb_get_property_cookie_t clientList = xcb_ewmh_get_client_list(&x.ewmh, x.screenNumber);
    const Owned<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(x.connection, rootTree, nullptr)};
    std::vector<xcb_window_t> managed;
    xcb_ewmh_get_windows_reply_t list;
    if (xcb_ewmh_get_client_list_reply(&x.ewmh, clientList, &list, nullptr)) {
        managed.assign(list.windows, list.windows + list.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    if (!tree)
        return FALSE;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    // The server lists the root's children bottom to top; the walk goes top to bottom.
    const std::vector<xcb_window_t> topLevel(std::make_reverse_iterator(children + count),
                                             std::make_reverse_iterator(children));
    const std::vector<xcb_window_t> clients = ClientWindows(x, topLevel, managed);

    Walk walk;
    walk.titles.reserve(clients.size());
    for (xcb_window_t client : clients)
        walk.titles.push_back(RequestTitle(x, client, TitleFetchUnits(TitleLimit)));
    xcb_flush(x.connection);

    ActiveWalk = &walk;
    std::size_t next = 0;
    for (; next < walk.titles.size(); ++next) {
        walk.current = next;
        walk.collected = false;
        const BOOL goOn = lpEnumFunc(HandleOf(walk.titles[next].window), lParam);
        if (!walk.collected)
            Discard(x.connection, walk.titles[next]);
        if (!goOn) {
            ++next;
            break;
        }
    }
    for (; next < walk.titles.size(); ++next)
        Discard(x.connection, walk.titles[next]);
    ActiveWalk = nullptr;
    return TRUE;
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = '\0';
    Display& x = X();
    const xcb_window_t window = WindowOf(hWnd);

    Walk* walk = ActiveWalk;
    if (walk && !walk->collected && walk->titles[walk->current].window == window && nMaxCount <= TitleLimit) {
        walk->collected = true;
        return CollectTitle(x, walk->titles[walk->current], lpString, nMaxCount);
    }
    return CollectTitle(x, RequestTitle(x, window, TitleFetchUnits(static_cast<std::size_t>(nMaxCount))), lpString,
                        nMaxCount);
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X_, int Y, int cx, int cy, UINT uFlags)
{
    Display& x = X();
    const xcb_window_t window = WindowOf(hWnd);
    const bool resize = !(uFlags & SWP_NOSIZE);
    const bool raise = hWndInsertAfter == HWND_TOP;

    // A window manager places its managed windows itself: ask it, with the frame's corner as the
    // reference (north-west gravity, never the window's own, which may be Static).
    if (CarriesWmState(x, RequestWmState(x, window)) && ManagerSupportsMoves(x)) {
        auto flags = static_cast<xcb_ewmh_moveresize_window_opt_flags_t>(XCB_EWMH_MOVERESIZE_WINDOW_X |
                                                                         XCB_EWMH_MOVERESIZE_WINDOW_Y);
        if (resize)
            flags = static_cast<xcb_ewmh_moveresize_window_opt_flags_t>(flags | XCB_EWMH_MOVERESIZE_WINDOW_WIDTH |
                                                                        XCB_EWMH_MOVERESIZE_WINDOW_HEIGHT);
        bool sent =
            Succeeded(x.connection,
                      xcb_ewmh_request_moveresize_window(
                          &x.ewmh, x.screenNumber, window, XCB_GRAVITY_NORTH_WEST, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                          flags, static_cast<std::uint32_t>(X_), static_cast<std::uint32_t>(Y),
                          static_cast<std::uint32_t>(cx), static_cast<std::uint32_t>(cy)));
        if (raise)
            sent = Succeeded(x.connection,
                             xcb_ewmh_request_change_active_window(&x.ewmh, x.screenNumber, window,
                                                                   XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME,
                                                                   XCB_NONE)) &&
                sent;
        return sent ? TRUE : FALSE;
    }

    // No manager to ask: move the outermost window ourselves (the frame, where one remains).
    const xcb_window_t outer = TopLevelOf(x, window);
    if (outer == XCB_NONE)
        return FALSE; // gone since it was listed
    std::uint16_t mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
    std::uint32_t values[5];
    int n = 0;
    values[n++] = static_cast<std::uint32_t>(X_);
    values[n++] = static_cast<std::uint32_t>(Y);
    if (resize && outer == window) {
        mask |= XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
        values[n++] = static_cast<std::uint32_t>(cx);
        values[n++] = static_cast<std::uint32_t>(cy);
    }
    if (raise) {
        mask |= XCB_CONFIG_WINDOW_STACK_MODE;
        values[n++] = XCB_STACK_MODE_ABOVE;
    }
    return Succeeded(x.connection, xcb_configure_window_checked(x.connection, outer, mask, values)) ? TRUE : FALSE;
}
