// The X11 backend's connection and listing, with libxcb. A handle carries the X id of the client
// window that stands for a top-level window: the root's child itself, or the client a window
// manager framed. Every request about another program's window may fail because that window has
// gone; such errors are read as values (reply error out-parameters, checked requests), never printed.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include <xcb/randr.h>
#include <xcb/xcb_icccm.h>
#include <xcb/xinerama.h>

#include "window_system/last_error.h"
#include "window_system/x11/display.h"

namespace x11 {

Display::~Display()
{
    if (!connection)
        return;
    xcb_ewmh_connection_wipe(&ewmh);
    xcb_disconnect(connection);
}

namespace {

// Deeper than any window manager nests its client inside its frame.
constexpr int MaxFrameDepth = 4;

xcb_atom_t InternReply(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie)
{
    const Owned<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(connection, cookie, nullptr)};
    return reply ? reply->atom : XCB_NONE;
}

} // namespace

Display& X()
{
    static Display display;
    return display;
}

bool Connect()
{
    Display& display = X();
    const Waiting wait;
    xcb_connection_t* connection = xcb_connect(nullptr, &display.screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    display.connection = connection;
    Watched(connection);

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < display.screenNumber && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    display.screen = screens.data;
    display.root = screens.data->root;

    // The atoms used, in one round trip, and with them what the server says of the extensions
    // used. Only those: libxcb-ewmh's own initialisation asks for all 80 of EWMH, which costs the
    // server more than the rest of a short run's start. The EWMH calls made read theirs from the
    // connection structure filled here, and its screens as it keeps them.
    xcb_prefetch_extension_data(connection, &xcb_randr_id);
    xcb_prefetch_extension_data(connection, &xcb_xinerama_id);
    xcb_ewmh_connection_t& e = display.ewmh;
    e.connection = connection;
    e.nb_screens = xcb_setup_roots_length(xcb_get_setup(connection));
    e.screens = static_cast<xcb_screen_t**>(std::calloc(static_cast<std::size_t>(e.nb_screens), sizeof(xcb_screen_t*)));
    if (!e.screens)
        return false;
    xcb_screen_iterator_t each = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; each.rem > 0; xcb_screen_next(&each))
        e.screens[i++] = each.data;
    const std::pair<const char*, xcb_atom_t*> atoms[] = {
        {"_NET_SUPPORTED", &e._NET_SUPPORTED},
        {"_NET_CLIENT_LIST", &e._NET_CLIENT_LIST},
        {"_NET_CURRENT_DESKTOP", &e._NET_CURRENT_DESKTOP},
        {"_NET_ACTIVE_WINDOW", &e._NET_ACTIVE_WINDOW},
        {"_NET_WORKAREA", &e._NET_WORKAREA},
        {"_NET_SUPPORTING_WM_CHECK", &e._NET_SUPPORTING_WM_CHECK},
        {"_NET_MOVERESIZE_WINDOW", &e._NET_MOVERESIZE_WINDOW},
        {"_NET_RESTACK_WINDOW", &e._NET_RESTACK_WINDOW},
        {"_NET_WM_NAME", &e._NET_WM_NAME},
        {"_NET_WM_DESKTOP", &e._NET_WM_DESKTOP},
        {"_NET_WM_WINDOW_TYPE", &e._NET_WM_WINDOW_TYPE},
        {"_NET_WM_STATE", &e._NET_WM_STATE},
        {"_NET_WM_STRUT", &e._NET_WM_STRUT},
        {"_NET_WM_STRUT_PARTIAL", &e._NET_WM_STRUT_PARTIAL},
        {"_NET_FRAME_EXTENTS", &e._NET_FRAME_EXTENTS},
        {"_NET_WM_WINDOW_TYPE_DESKTOP", &e._NET_WM_WINDOW_TYPE_DESKTOP},
        {"_NET_WM_WINDOW_TYPE_DOCK", &e._NET_WM_WINDOW_TYPE_DOCK},
        {"_NET_WM_WINDOW_TYPE_MENU", &e._NET_WM_WINDOW_TYPE_MENU},
        {"_NET_WM_WINDOW_TYPE_SPLASH", &e._NET_WM_WINDOW_TYPE_SPLASH},
        {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", &e._NET_WM_WINDOW_TYPE_DROPDOWN_MENU},
        {"_NET_WM_WINDOW_TYPE_POPUP_MENU", &e._NET_WM_WINDOW_TYPE_POPUP_MENU},
        {"_NET_WM_WINDOW_TYPE_TOOLTIP", &e._NET_WM_WINDOW_TYPE_TOOLTIP},
        {"_NET_WM_WINDOW_TYPE_NOTIFICATION", &e._NET_WM_WINDOW_TYPE_NOTIFICATION},
        {"_NET_WM_WINDOW_TYPE_COMBO", &e._NET_WM_WINDOW_TYPE_COMBO},
        {"_NET_WM_WINDOW_TYPE_DND", &e._NET_WM_WINDOW_TYPE_DND},
        {"_NET_WM_STATE_MAXIMIZED_VERT", &e._NET_WM_STATE_MAXIMIZED_VERT},
        {"_NET_WM_STATE_MAXIMIZED_HORZ", &e._NET_WM_STATE_MAXIMIZED_HORZ},
        {"_NET_WM_STATE_HIDDEN", &e._NET_WM_STATE_HIDDEN},
        {"_NET_WM_STATE_FULLSCREEN", &e._NET_WM_STATE_FULLSCREEN},
        {"_NET_WM_STATE_ABOVE", &e._NET_WM_STATE_ABOVE},
        {"_NET_WM_STATE_BELOW", &e._NET_WM_STATE_BELOW},
        {"UTF8_STRING", &e.UTF8_STRING},
        {"WM_PROTOCOLS", &e.WM_PROTOCOLS},
        {"WM_STATE", &display.wmState},
        {"COMPOUND_TEXT", &display.titleAtoms.compoundText},
        {"_GTK_FRAME_EXTENTS", &display.gtkFrameExtents},
        {"I3_SOCKET_PATH", &display.i3SocketPath},
        {"_NET_WM_STATE_STAYS_ON_TOP", &display.staysOnTop},
        {"WM_TAKE_FOCUS", &display.takeFocus},
    };
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const auto& [name, atom] : atoms)
        cookies.push_back(xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    for (std::size_t i = 0; i < cookies.size(); ++i)
        *atoms[i].second = InternReply(connection, cookies[i]);
    display.titleAtoms.string = XCB_ATOM_STRING;
    display.titleAtoms.utf8String = e.UTF8_STRING;
    return true;
}

bool ManagerRunning(Display& x, xcb_get_window_attributes_cookie_t rootAttributes)
{
    const Owned<xcb_get_window_attributes_reply_t> root{
        xcb_get_window_attributes_reply(x.connection, rootAttributes, nullptr)};
    return root && (root->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
}

ManagerCheck AskManagerCheck(Display& x)
{
    return {xcb_ewmh_get_supporting_wm_check(&x.ewmh, x.root),
            x.wmCheck != XCB_NONE ? xcb_ewmh_get_supporting_wm_check(&x.ewmh, x.wmCheck) : xcb_get_property_cookie_t{}};
}

bool ManagerAlive(Display& x, const ManagerCheck& asked)
{
    xcb_window_t named = XCB_NONE, self = XCB_NONE;
    const bool announced = xcb_ewmh_get_supporting_wm_check_reply(&x.ewmh, asked.root, &named, nullptr);
    const bool known = asked.known.sequence && announced && named == x.wmCheck;
    if (asked.known.sequence && !known)
        xcb_discard_reply(x.connection, asked.known.sequence);
    return announced &&
        xcb_ewmh_get_supporting_wm_check_reply(
               &x.ewmh, known ? asked.known : xcb_ewmh_get_supporting_wm_check(&x.ewmh, named), &self, nullptr) &&
        self == named;
}

namespace {

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
    Answered();
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
    // A client among the root's children is its own frame (a manager that frames none, such as
    // XWayland's): nothing to climb.
    for (xcb_window_t client : managed)
        if (std::binary_search(topLevel.begin(), topLevel.end(), client))
            frameClient.emplace_back(client, client);
        else
            climbing.push_back({client, client});
    for (int depth = 0; depth <= MaxFrameDepth && !climbing.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> trees;
        trees.reserve(climbing.size());
        for (const Climb& c : climbing)
            trees.push_back(xcb_query_tree(x.connection, c.current));
        std::vector<Climb> still;
        for (std::size_t i = 0; i < climbing.size(); ++i) {
            const Owned<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(x.connection, trees[i], nullptr)};
            Answered();
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

} // namespace

// The client the manager lists inside each window comes first. A manager that lists its clients
// frames no others: any other window is its own or one it leaves alone. Without such a list, the
// window itself when it carries WM_STATE; then the first descendant carrying WM_STATE, searched
// breadth first one level at a time, every level in one batch. Asking the manager first spares a
// descent into every frame's decorations.
std::vector<xcb_window_t> ManagedClients(Display& x, const std::vector<xcb_window_t>& topLevel,
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
            else if (managed.empty())
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
            Answered();
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
    return clients;
}

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

namespace {

// The root's children, topmost first, the client inside each, and a title request for each, sent
// together; false when the server did not answer.
bool RequestListing(Display& x, Walk& walk)
{
    const Waiting wait;
    const xcb_query_tree_cookie_t rootTree = xcb_query_tree(x.connection, x.root);
    const xcb_get_property_cookie_t clientList = xcb_ewmh_get_client_list(&x.ewmh, x.screenNumber);
    const xcb_get_window_attributes_cookie_t rootAttributes = xcb_get_window_attributes(x.connection, x.root);
    const xcb_get_property_cookie_t check = xcb_ewmh_get_supporting_wm_check(&x.ewmh, x.root);
    const Owned<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(x.connection, rootTree, nullptr)};
    if (!xcb_ewmh_get_supporting_wm_check_reply(&x.ewmh, check, &x.wmCheck, nullptr))
        x.wmCheck = XCB_NONE;
    std::vector<xcb_window_t> managed;
    xcb_ewmh_get_windows_reply_t list;
    if (xcb_ewmh_get_client_list_reply(&x.ewmh, clientList, &list, nullptr)) {
        managed.assign(list.windows, list.windows + list.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    if (!tree) {
        xcb_discard_reply(x.connection, rootAttributes.sequence);
        return false;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    // The server lists the root's children bottom to top; the walk goes top to bottom.
    const std::vector<xcb_window_t> topLevel(std::make_reverse_iterator(children + count),
                                             std::make_reverse_iterator(children));
    // With no window manager running there are no frames: every child of the root is a window.
    std::vector<xcb_window_t> clients = topLevel;
    if (ManagerRunning(x, rootAttributes)) {
        clients = ManagedClients(x, topLevel, managed);
        for (std::size_t i = 0; i < clients.size(); ++i)
            if (clients[i] == XCB_NONE)
                clients[i] = topLevel[i];
    }

    walk.titles.reserve(clients.size());
    for (xcb_window_t client : clients)
        walk.titles.push_back(RequestTitle(x, client, TitleFetchUnits(TitleLimit)));
    // Behind the titles, so that the listing waits for nothing more, and before a move needs it.
    AskForMonitors(x);
    xcb_flush(x.connection);
    return !Silent(x);
}

} // namespace

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    Display& x = X();
    Walk walk;
    if (!RequestListing(x, walk))
        return Fail(ERROR_TIMEOUT, "the X server did not answer");
    // The callback prints, which may take as long as the reader wants: not a wait for the server.
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
    // A listing the server stopped answering halfway through is no listing.
    if (Silent(x))
        return Fail(ERROR_TIMEOUT, "the X server did not answer");
    return TRUE;
}

std::vector<Named> NamedWindows()
{
    Display& x = X();
    std::vector<Named> named;
    Walk walk;
    if (!RequestListing(x, walk))
        return named;
    const Waiting wait;
    xcb_connection_t* c = x.connection;
    struct Asked {
        xcb_get_property_cookie_t state, names;
    };
    std::vector<Asked> asked;
    asked.reserve(walk.titles.size());
    for (const TitleRequest& request : walk.titles)
        asked.push_back({xcb_get_property(c, 0, request.window, x.wmState, x.wmState, 0, 1),
                         xcb_get_property(c, 0, request.window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64)});
    for (std::size_t i = 0; i < walk.titles.size(); ++i) {
        char text[TitleLimit];
        CollectTitle(x, walk.titles[i], text, TitleLimit);
        const Owned<xcb_get_property_reply_t> state{xcb_get_property_reply(c, asked[i].state, nullptr)};
        const Owned<xcb_get_property_reply_t> names{xcb_get_property_reply(c, asked[i].names, nullptr)};
        Answered();
        // Shown or minimised: a withdrawn window is kept by no manager.
        const bool kept = state && state->format == 32 && xcb_get_property_value_length(state.get()) >= 4 &&
            *static_cast<const std::uint32_t*>(xcb_get_property_value(state.get())) != XCB_ICCCM_WM_STATE_WITHDRAWN;
        // WM_CLASS: the instance, then the class, each ended by a zero byte.
        const std::string_view classes = names && names->format == 8
            ? std::string_view{static_cast<const char*>(xcb_get_property_value(names.get())),
                               static_cast<std::size_t>(xcb_get_property_value_length(names.get()))}
            : std::string_view{};
        const std::size_t split = std::min(classes.find('\0'), classes.size());
        std::string_view kind = classes.substr(std::min(split + 1, classes.size()));
        kind = kind.substr(0, std::min(kind.find('\0'), kind.size()));
        named.push_back(
            {HandleOf(walk.titles[i].window), text, std::string(classes.substr(0, split)), std::string(kind), kept});
    }
    return named;
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = '\0';
    Display& x = X();
    const xcb_window_t window = WindowOf(hWnd);

    const Waiting wait;
    Walk* walk = ActiveWalk;
    if (walk && !walk->collected && walk->titles[walk->current].window == window && nMaxCount <= TitleLimit) {
        walk->collected = true;
        return CollectTitle(x, walk->titles[walk->current], lpString, nMaxCount);
    }
    return CollectTitle(x, RequestTitle(x, window, TitleFetchUnits(static_cast<std::size_t>(nMaxCount))), lpString,
                        nMaxCount);
}

} // namespace x11
