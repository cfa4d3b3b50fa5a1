// An X11 test program for the end-to-end tests: opens windows with exactly the title properties
// a test asks for, and reports where windows are. Commands on standard input, one reply line each:
//   open X Y W H mapped|hidden|iconic [static] [csd L R T B] [panel top|left N] [#RRGGBB]
//        [nofocus] [above] [fullscreen] [maximised] [dialog ID] [leader] [group ID] [desktop N]
//                                       -> window id (managed by then, under a window manager);
//                                          static: the window asks for Static gravity; csd: it
//                                          asks not to be decorated and says it draws a shadow of
//                                          L, R, T, B pixels around its frame (_GTK_FRAME_EXTENTS);
//                                          panel: a dock reserving N pixels along the top or left
//                                          edge of the screen, over its own stretch of that edge;
//                                          #RRGGBB: its colour (otherwise one of its own, unlike
//                                          any other window's here), 24-bit screen;
//                                          nofocus: it takes no input and offers no WM_TAKE_FOCUS
//                                          (a clock); above, fullscreen, maximised: it asks for
//                                          that state as it is mapped; dialog: a dialog of window
//                                          ID; leader: it leads its application's group; group: a
//                                          dialog of the whole application whose group leader is
//                                          ID; desktop: on that desktop
//   desktop N                           -> ok       shows desktop N, as a pager asks
//   move ID X Y                         -> ok       asks the manager to move its frame there, as a pager
//                                                   does (fluxbox places a new window as it likes)
//   maximise ID                         -> ok       asks the manager to maximise it, as a pager does
//   title ID PROPERTY TYPE FORMAT HEX   -> ok       sets a property byte for byte ("-": empty)
//   many N PREFIX                       -> ok       N mapped windows titled PREFIX0, PREFIX1, ...,
//                                                   64x48 on a grid of 80 pixels
//   raise ID                            -> ok       raises it as a click does (through the
//                                                   manager where it keeps an active window)
//   destroy ID                          -> ok
//   where ID                            -> X Y W H TOP ACTIVE SHOWN: the corner the user sees (the
//                                          outer corner of the manager's frame, without what
//                                          _NET_FRAME_EXTENTS leaves out; for a window drawing its
//                                          own frame, inside its shadow), the window's own size,
//                                          TOP 1 if it is above every other viewable window opened
//                                          here (panels aside), ACTIVE 1 if it is the active window as the desktop
//                                          defines it: named in _NET_ACTIVE_WINDOW by a manager
//                                          that keeps it, or, where none is named, holding the
//                                          keyboard focus; SHOWN 1 if it is viewable;
//                                          "gone" once it has gone
//   seen ID                             -> 1 when the screen shows the window's own colour 10 pixels
//                                          inside its corner (read off the root: no compositor
//                                          stands between), else 0
//   spot ID                             -> X Y RRGGBB: that point, on the root, and the colour, for
//                                          a compositor's screen to be read there
//   wm                                  -> 1 when an EWMH window manager is running, else 0
//   redirect                            -> 1 when any window manager is running, else 0
//   probe                               -> 1 when a window mapped now is taken on by the window
//                                          manager within a quarter of a second, else 0: a
//                                          manager still starting may drop what it is sent
//   clients                             -> how many windows the window manager manages
//
// Run as `x_desktop manager`, it is instead a window manager that refuses every move: it maps
// the windows it is asked to, announces EWMH support for moves, activation and restacking, and
// ignores all of them, answering configure requests with the geometry windows already have. It
// prints "managing" once it holds the root and runs until its standard input closes.
//
// Run as `x_desktop churn`, it instead creates and destroys titled windows as fast as the server
// (and a window manager) take them, until its standard input closes, keeping at most 32 alive;
// between them it retitles one window, "Flicker", again and again (short, long, empty, invalid
// UTF-8). It prints the flicker window's id once started and the number of windows it made when
// it ends.
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <initializer_list>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hex_text.h"

namespace {

xcb_connection_t* Connection;
xcb_screen_t* Screen;

template <typename Reply> struct Freed {
    Reply* reply;
    ~Freed() { std::free(reply); }
    Reply* operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

xcb_atom_t Atom(const std::string& name)
{
    static std::map<std::string, xcb_atom_t> known;
    if (const auto found = known.find(name); found != known.end())
        return found->second;
    Freed<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(
        Connection, xcb_intern_atom(Connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr)};
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    known[name] = atom;
    return atom;
}

// One round trip: once it returns, the server has carried out every request sent before it.
void Sync()
{
    Freed<xcb_get_input_focus_reply_t> reply{
        xcb_get_input_focus_reply(Connection, xcb_get_input_focus(Connection), nullptr)};
}

// Any window manager holds the root's SubstructureRedirect: a window mapped before it took it
// would escape it for good.
bool RedirectHeld()
{
    Freed<xcb_get_window_attributes_reply_t> root{
        xcb_get_window_attributes_reply(Connection, xcb_get_window_attributes(Connection, Screen->root), nullptr)};
    return root && (root->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
}

// An EWMH manager is running once it announces itself as well.
bool ManagerRunning()
{
    const xcb_atom_t check = Atom("_NET_SUPPORTING_WM_CHECK");
    Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, Screen->root, check, XCB_ATOM_WINDOW, 0, 1), nullptr)};
    return reply && xcb_get_property_value_length(reply.reply) == 4 && RedirectHeld();
}

// An EWMH manager that says it keeps _NET_ACTIVE_WINDOW, and so defines which window is active.
bool KeepsActiveWindow()
{
    Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, Screen->root, Atom("_NET_SUPPORTED"), XCB_ATOM_ATOM, 0, 1 << 16),
        nullptr)};
    if (!reply || !ManagerRunning())
        return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.reply));
    const int count = xcb_get_property_value_length(reply.reply) / 4;
    return std::find(atoms, atoms + count, Atom("_NET_ACTIVE_WINDOW")) != atoms + count;
}

std::uint32_t WmState(xcb_window_t window)
{
    Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, window, Atom("WM_STATE"), XCB_GET_PROPERTY_TYPE_ANY, 0, 1),
        nullptr)};
    if (!reply || xcb_get_property_value_length(reply.reply) < 4)
        return 0xFFFFFFFF;
    return *static_cast<std::uint32_t*>(xcb_get_property_value(reply.reply));
}

// Waits until the window manager has taken the window into the state asked for, polling every
// `step` milliseconds for at most `patience` milliseconds.
void AwaitState(xcb_window_t window, std::uint32_t wanted, int step = 10, int patience = 5000)
{
    for (int i = 0; i < patience / step && WmState(window) != wanted; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(step));
}

// Whether the manager names the window in its client list; true where it keeps none. Waited for:
// fluxbox names it a moment after taking it on, and a listing meanwhile takes its frame for its own.
bool Listed(xcb_window_t window)
{
    Freed<xcb_get_property_reply_t> list{xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, Screen->root, Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1 << 20),
        nullptr)};
    if (!list || list.reply->type == XCB_NONE)
        return true;
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.reply));
    const int count = xcb_get_property_value_length(list.reply) / 4;
    return std::find(windows, windows + count, window) != windows + count;
}


void SetAtoms(xcb_window_t window, const std::string& property, xcb_atom_t type, const std::vector<xcb_atom_t>& values)
{
    xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, Atom(property), type, 32,
                        static_cast<std::uint32_t>(values.size()), values.data());
}

struct Shadow {
    bool drawn = false;
    std::uint32_t extents[4] = {0, 0, 0, 0}; // left, right, top, bottom
};

// A panel: a dock window that reserves a strip along one edge of the screen.
struct Panel {
    std::string edge; // "top" or "left"; empty for no panel
    std::uint32_t width = 0;
};

std::vector<xcb_window_t> Opened; // every window opened on command, for the stacking report
std::vector<xcb_window_t> Panels; // those of them that are panels, which may stay above the rest

// What a window asks for besides its place and size.
struct Options {
    std::string state = "mapped";
    bool staticGravity = false;
    std::uint32_t colour = 0;
    Shadow shadow;
    Panel panel;
    bool noFocus = false;
    std::vector<xcb_atom_t> netStates; // _NET_WM_STATE as it is mapped
    xcb_window_t dialogOf = XCB_NONE, groupLeader = XCB_NONE;
    bool leader = false;
    std::uint32_t desktop = 0xFFFFFFFF; // none asked for
};

xcb_window_t Open(int x, int y, int width, int height, const Options& options)
{
    const std::string& state = options.state;
    const bool staticGravity = options.staticGravity;
    const std::uint32_t colour = options.colour;
    const Shadow& shadow = options.shadow;
    const Panel& panel = options.panel;
    const xcb_window_t window = xcb_generate_id(Connection);
    const std::uint32_t values[] = {colour};
    xcb_create_window(Connection, XCB_COPY_FROM_PARENT, window, Screen->root, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), 1, XCB_WINDOW_CLASS_INPUT_OUTPUT, Screen->root_visual,
                      XCB_CW_BACK_PIXEL, values);
    // Ask to be placed where we said, so positions before a move are known.
    xcb_size_hints_t size{};
    xcb_icccm_size_hints_set_position(&size, 1, x, y);
    xcb_icccm_size_hints_set_size(&size, 1, width, height);
    if (staticGravity)
        xcb_icccm_size_hints_set_win_gravity(&size, XCB_GRAVITY_STATIC);
    xcb_icccm_set_wm_normal_hints(Connection, window, &size);
    if (shadow.drawn) {
        // Motif hints with only the decorations field set, and no decorations.
        const std::uint32_t motif[5] = {2, 0, 0, 0, 0};
        xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, Atom("_MOTIF_WM_HINTS"), Atom("_MOTIF_WM_HINTS"),
                            32, 5, motif);
        xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, Atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL,
                            32, 4, shadow.extents);
    }
    if (!panel.edge.empty()) {
        Panels.push_back(window);
        SetAtoms(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {Atom("_NET_WM_WINDOW_TYPE_DOCK")});
        std::uint32_t strut[12] = {};
        if (panel.edge == "top") {
            strut[2] = panel.width;
            strut[8] = static_cast<std::uint32_t>(x);
            strut[9] = static_cast<std::uint32_t>(x + width - 1);
        } else {
            strut[0] = panel.width;
            strut[4] = static_cast<std::uint32_t>(y);
            strut[5] = static_cast<std::uint32_t>(y + height - 1);
        }
        xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL,
                            32, 12, strut);
        xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_STRUT"), XCB_ATOM_CARDINAL, 32, 4,
                            strut);
    }
    const bool managed = RedirectHeld();
    xcb_icccm_wm_hints_t hints{};
    if (state == "iconic" && !managed)
        xcb_icccm_wm_hints_set_iconic(&hints);
    if (options.noFocus)
        xcb_icccm_wm_hints_set_input(&hints, 0);
    if (options.groupLeader != XCB_NONE || options.leader)
        xcb_icccm_wm_hints_set_window_group(&hints, options.leader ? window : options.groupLeader);
    if (hints.flags)
        xcb_icccm_set_wm_hints(Connection, window, &hints);
    // A dialog of one window names it; one of the whole application names the root.
    if (options.dialogOf != XCB_NONE || (options.groupLeader != XCB_NONE && !options.leader)) {
        const xcb_window_t owner = options.dialogOf != XCB_NONE ? options.dialogOf : Screen->root;
        xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32,
                            1, &owner);
        SetAtoms(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {Atom("_NET_WM_WINDOW_TYPE_DIALOG")});
    }
    if (!options.netStates.empty())
        SetAtoms(window, "_NET_WM_STATE", XCB_ATOM_ATOM, options.netStates);
    if (options.desktop != 0xFFFFFFFF)
        xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32,
                            1, &options.desktop);
    if (state != "hidden")
        xcb_map_window(Connection, window);
    xcb_flush(Connection);
    if (state != "hidden" && managed) {
        AwaitState(window, XCB_ICCCM_WM_STATE_NORMAL);
        for (int i = 0; i < 200 && !Listed(window); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (state == "iconic" && managed) {
        // Minimised the way programs minimise themselves; a manager that does not (i3) leaves it.
        xcb_client_message_event_t change{};
        change.response_type = XCB_CLIENT_MESSAGE;
        change.format = 32;
        change.window = window;
        change.type = Atom("WM_CHANGE_STATE");
        change.data.data32[0] = XCB_ICCCM_WM_STATE_ICONIC;
        xcb_send_event(Connection, 0, Screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&change));
        xcb_flush(Connection);
        AwaitState(window, XCB_ICCCM_WM_STATE_ICONIC, 10, 1000);
    }
    Opened.push_back(window);
    return window;
}

// Asks the manager, as a pager does, for a message about a window (or the root) of up to five
// values.
void SendToManager(xcb_window_t window, const std::string& type, std::initializer_list<std::uint32_t> values)
{
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = Atom(type);
    std::copy(values.begin(), values.end(), message.data.data32);
    xcb_send_event(Connection, 0, Screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
}

// Raises the window as a click on it does: through a manager that keeps an active window, by
// asking for its activation as the user's pager would; otherwise by asking to stack it above.
void Raise(xcb_window_t window)
{
    if (KeepsActiveWindow()) {
        SendToManager(window, "_NET_ACTIVE_WINDOW", {2}); // from a pager: the user's own choice
        return;
    }
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(Connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
}

void SetProperty(xcb_window_t window, const std::string& property, const std::string& type, int format,
                 const std::string& bytes)
{
    const std::uint32_t units = static_cast<std::uint32_t>(bytes.size() / static_cast<std::size_t>(format / 8));
    xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, Atom(property), Atom(type),
                        static_cast<std::uint8_t>(format), units, bytes.data());
}

xcb_window_t TopLevelOf(xcb_window_t window)
{
    for (;;) {
        Freed<xcb_query_tree_reply_t> tree{
            xcb_query_tree_reply(Connection, xcb_query_tree(Connection, window), nullptr)};
        if (!tree || tree->parent == Screen->root || tree->parent == XCB_NONE)
            return tree ? window : XCB_NONE;
        window = tree->parent;
    }
}

// Four CARDINALs of a window's property, if it has them.
bool Extents(xcb_window_t window, const std::string& property, int (&extents)[4])
{
    Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, window, Atom(property), XCB_ATOM_CARDINAL, 0, 4), nullptr)};
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.reply) != 16)
        return false;
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.reply));
    for (int i = 0; i < 4; ++i)
        extents[i] = static_cast<int>(values[i]);
    return true;
}

bool Viewable(xcb_window_t window)
{
    Freed<xcb_get_window_attributes_reply_t> attributes{
        xcb_get_window_attributes_reply(Connection, xcb_get_window_attributes(Connection, window), nullptr)};
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::string Where(xcb_window_t window)
{
    const xcb_window_t outer = TopLevelOf(window);
    if (outer == XCB_NONE)
        return "gone";
    Freed<xcb_get_geometry_reply_t> frame{
        xcb_get_geometry_reply(Connection, xcb_get_geometry(Connection, outer), nullptr)};
    Freed<xcb_get_geometry_reply_t> own{
        xcb_get_geometry_reply(Connection, xcb_get_geometry(Connection, window), nullptr)};
    Freed<xcb_translate_coordinates_reply_t> origin{xcb_translate_coordinates_reply(
        Connection, xcb_translate_coordinates(Connection, window, Screen->root, 0, 0), nullptr)};
    if (!frame || !own || !origin)
        return "gone";

    // The corner one sees: where the manager says its frame begins, else the root's child.
    int x = frame->x, y = frame->y;
    int decoration[4], shadow[4];
    const bool framed = Extents(window, "_NET_FRAME_EXTENTS", decoration);
    const bool undecorated = framed ? decoration[0] + decoration[1] + decoration[2] + decoration[3] == 0
                                    : outer == window ||
            (frame->x == origin->dst_x - own->border_width && frame->y == origin->dst_y - own->border_width &&
             frame->width == own->width + 2 * own->border_width &&
             frame->height == own->height + 2 * own->border_width);
    if (undecorated && Extents(window, "_GTK_FRAME_EXTENTS", shadow)) {
        x = origin->dst_x + shadow[0];
        y = origin->dst_y + shadow[2];
    } else if (framed) {
        x = origin->dst_x - own->border_width - decoration[0];
        y = origin->dst_y - own->border_width - decoration[2];
    }

    // Above every other window of ours that one can see.
    Freed<xcb_query_tree_reply_t> tree{
        xcb_query_tree_reply(Connection, xcb_query_tree(Connection, Screen->root), nullptr)};
    const xcb_window_t* children = xcb_query_tree_children(tree.reply);
    const int count = xcb_query_tree_children_length(tree.reply);
    const auto level = [&](xcb_window_t top) {
        return static_cast<int>(std::find(children, children + count, top) - children);
    };
    bool top = true;
    for (const xcb_window_t other : Opened)
        if (other != window && std::find(Panels.begin(), Panels.end(), other) == Panels.end() && Viewable(other) &&
            level(TopLevelOf(other)) > level(outer))
            top = false;

    Freed<xcb_get_property_reply_t> active{xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, Screen->root, Atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
        nullptr)};
    // Active as the desktop defines it: the window a manager that keeps _NET_ACTIVE_WINDOW names
    // there, or, where it names none or keeps none, the one with the keyboard focus.
    xcb_window_t named = XCB_NONE;
    if (active && xcb_get_property_value_length(active.reply) == 4 && KeepsActiveWindow())
        named = *static_cast<const xcb_window_t*>(xcb_get_property_value(active.reply));
    Freed<xcb_get_input_focus_reply_t> focus{
        xcb_get_input_focus_reply(Connection, xcb_get_input_focus(Connection), nullptr)};
    const bool isActive = named == window || (named == XCB_NONE && focus && focus->focus == window);

    std::ostringstream out;
    out << x << ' ' << y << ' ' << own->width << ' ' << own->height << ' ' << (top ? 1 : 0) << ' ' << (isActive ? 1 : 0)
        << ' ' << (Viewable(window) ? 1 : 0);
    return out.str();
}

// A colour no other window opened here has: successive multiples of an odd number, which differ
// in their low 24 bits up to 2^24 windows.
std::uint32_t OwnColour()
{
    static std::uint32_t opened = 0;
    return (++opened * 0x2F1B07U) & 0xFFFFFFU;
}

std::map<xcb_window_t, std::uint32_t> Colours; // of the windows opened on command

// The point just inside the window's corner, on the root.
Freed<xcb_translate_coordinates_reply_t> Spot(xcb_window_t window)
{
    return {xcb_translate_coordinates_reply(Connection, xcb_translate_coordinates(Connection, window, Screen->root, 10, 10),
                                            nullptr)};
}

// Whether the screen shows the window's colour just inside its corner.
bool Seen(xcb_window_t window)
{
    const auto colour = Colours.find(window);
    const Freed<xcb_translate_coordinates_reply_t> origin = Spot(window);
    if (colour == Colours.end() || !origin || origin->dst_x < 0 || origin->dst_y < 0 ||
        origin->dst_x >= Screen->width_in_pixels || origin->dst_y >= Screen->height_in_pixels)
        return false;
    Freed<xcb_get_image_reply_t> image{xcb_get_image_reply(
        Connection,
        xcb_get_image(Connection, XCB_IMAGE_FORMAT_Z_PIXMAP, Screen->root, origin->dst_x, origin->dst_y, 1, 1,
                      0xFFFFFFFFU),
        nullptr)};
    if (!image || xcb_get_image_data_length(image.reply) < 3)
        return false;
    const std::uint8_t* pixel = xcb_get_image_data(image.reply); // 24-bit depth: blue, green, red
    const std::uint32_t shown = pixel[0] | (pixel[1] << 8) | (static_cast<std::uint32_t>(pixel[2]) << 16);
    return shown == (colour->second & 0xFFFFFFU);
}

bool InputClosed()
{
    pollfd input{0, POLLIN, 0};
    return poll(&input, 1, 0) != 0;
}

int Churn()
{
    const std::string flickerTitles[] = {"Flicker", "Flicker " + std::string(300, 'F'), "", "Flicker \xff\xfe\xc3"};
    Options plain;
    plain.colour = Screen->white_pixel;
    const xcb_window_t flicker = Open(700, 500, 120, 80, plain);
    SetProperty(flicker, "_NET_WM_NAME", "UTF8_STRING", 8, flickerTitles[0]);
    Sync();
    std::cout << flicker << std::endl;

    const bool managed = RedirectHeld();
    std::deque<xcb_window_t> alive;
    long made = 0;
    while (!InputClosed() && !xcb_connection_has_error(Connection)) {
        const xcb_window_t window = xcb_generate_id(Connection);
        xcb_create_window(Connection, XCB_COPY_FROM_PARENT, window, Screen->root,
                          static_cast<std::int16_t>(600 + made % 200), 300, 100, 60, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          Screen->root_visual, 0, nullptr);
        // Titles alternate between the two properties, so both ways of naming a window churn.
        if (made % 2 == 0)
            SetProperty(window, "WM_NAME", "STRING", 8, "Churn " + std::to_string(made));
        else
            SetProperty(window, "_NET_WM_NAME", "UTF8_STRING", 8, "Churn " + std::to_string(made));
        xcb_map_window(Connection, window);
        alive.push_back(window);
        ++made;
        if (alive.size() > 32) {
            xcb_destroy_window(Connection, alive.front());
            alive.pop_front();
        }
        SetProperty(flicker, "_NET_WM_NAME", "UTF8_STRING", 8, flickerTitles[made % 4]);
        // A round trip each time round: a flood of requests queued ahead of them would keep
        // the server from everyone else, instead of changing the desktop under them. A window
        // manager is given each window before the next comes: flooded, openbox drops the
        // requests of other programs, ours among them.
        if (managed)
            AwaitState(window, XCB_ICCCM_WM_STATE_NORMAL, 1);
        Sync();
    }
    std::cout << made << std::endl;
    xcb_disconnect(Connection);
    return 0;
}

// A window manager that refuses every move (see the top of this file).
int RefusingManager()
{
    const std::uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    Freed<xcb_generic_error_t> taken{xcb_request_check(
        Connection, xcb_change_window_attributes_checked(Connection, Screen->root, XCB_CW_EVENT_MASK, &redirect))};
    if (taken.reply) {
        std::fprintf(stderr, "x_desktop: another window manager is running\n");
        return 1;
    }
    const xcb_window_t check = xcb_generate_id(Connection);
    xcb_create_window(Connection, XCB_COPY_FROM_PARENT, check, Screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    SetAtoms(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    SetProperty(check, "_NET_WM_NAME", "UTF8_STRING", 8, "refuses every move");
    SetAtoms(Screen->root, "_NET_SUPPORTED", XCB_ATOM_ATOM,
             {Atom("_NET_MOVERESIZE_WINDOW"), Atom("_NET_ACTIVE_WINDOW"), Atom("_NET_RESTACK_WINDOW")});
    SetAtoms(Screen->root, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    Sync();
    std::cout << "managing" << std::endl;

    std::vector<xcb_window_t> managed;
    pollfd watched[2] = {{0, POLLIN, 0}, {xcb_get_file_descriptor(Connection), POLLIN, 0}};
    while (!xcb_connection_has_error(Connection)) {
        xcb_flush(Connection);
        poll(watched, 2, -1);
        if (watched[0].revents)
            break;
        while (xcb_generic_event_t* event = xcb_poll_for_event(Connection)) {
            const int type = event->response_type & 0x7F;
            if (type == XCB_MAP_REQUEST) {
                const xcb_window_t window = reinterpret_cast<xcb_map_request_event_t*>(event)->window;
                const std::uint32_t state[2] = {XCB_ICCCM_WM_STATE_NORMAL, XCB_NONE};
                xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, Atom("WM_STATE"), Atom("WM_STATE"), 32,
                                    2, state);
                xcb_map_window(Connection, window);
                managed.push_back(window);
                SetAtoms(Screen->root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, managed);
            } else if (type == XCB_CONFIGURE_REQUEST) {
                // Refused: the window is told the geometry it keeps, as ICCCM asks.
                const auto* request = reinterpret_cast<xcb_configure_request_event_t*>(event);
                Freed<xcb_get_geometry_reply_t> geometry{
                    xcb_get_geometry_reply(Connection, xcb_get_geometry(Connection, request->window), nullptr)};
                if (geometry) {
                    xcb_configure_notify_event_t notify{};
                    notify.response_type = XCB_CONFIGURE_NOTIFY;
                    notify.event = notify.window = request->window;
                    notify.x = geometry->x;
                    notify.y = geometry->y;
                    notify.width = geometry->width;
                    notify.height = geometry->height;
                    notify.border_width = geometry->border_width;
                    xcb_send_event(Connection, 0, request->window, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                                   reinterpret_cast<const char*>(&notify));
                }
            }
            std::free(event);
        }
    }
    xcb_disconnect(Connection);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int screenNumber = 0;
    Connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(Connection)) {
        std::fprintf(stderr, "x_desktop: no display\n");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(Connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    Screen = screens.data;
    if (argc > 1 && std::string(argv[1]) == "churn")
        return Churn();
    if (argc > 1 && std::string(argv[1]) == "manager")
        return RefusingManager();

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        std::string reply = "ok";
        if (command == "open") {
            int x, y, width, height;
            std::string state, option;
            words >> x >> y >> width >> height >> state;
            Options options;
            options.state = state;
            options.colour = OwnColour();
            while (words >> option) {
                if (option == "static") {
                    options.staticGravity = true;
                } else if (option == "panel") {
                    words >> options.panel.edge >> options.panel.width;
                } else if (option == "csd") {
                    options.shadow.drawn = true;
                    for (std::uint32_t& extent : options.shadow.extents)
                        words >> extent;
                } else if (option.size() == 7 && option[0] == '#') {
                    options.colour = static_cast<std::uint32_t>(std::stoul(option.substr(1), nullptr, 16));
                } else if (option == "nofocus") {
                    options.noFocus = true;
                } else if (option == "above" || option == "fullscreen") {
                    options.netStates.push_back(Atom(option == "above" ? "_NET_WM_STATE_ABOVE"
                                                                       : "_NET_WM_STATE_FULLSCREEN"));
                } else if (option == "maximised") {
                    options.netStates.push_back(Atom("_NET_WM_STATE_MAXIMIZED_VERT"));
                    options.netStates.push_back(Atom("_NET_WM_STATE_MAXIMIZED_HORZ"));
                } else if (option == "dialog") {
                    words >> options.dialogOf;
                } else if (option == "leader") {
                    options.leader = true;
                } else if (option == "group") {
                    words >> options.groupLeader;
                } else if (option == "desktop") {
                    words >> options.desktop;
                }
            }
            const xcb_window_t window = Open(x, y, width, height, options);
            Colours[window] = options.colour;
            reply = std::to_string(window);
        } else if (command == "title") {
            xcb_window_t window;
            std::string property, type, hex;
            int format;
            words >> window >> property >> type >> format >> hex;
            SetProperty(window, property, type, format, BytesOfHex(hex));
        } else if (command == "many") {
            int count;
            std::string prefix;
            words >> count >> prefix;
            for (int i = 0; i < count; ++i) {
                const xcb_window_t window = xcb_generate_id(Connection);
                xcb_create_window(Connection, XCB_COPY_FROM_PARENT, window, Screen->root, 0, 0, 64, 48, 0,
                                  XCB_WINDOW_CLASS_INPUT_OUTPUT, Screen->root_visual, 0, nullptr);
                const std::string title = prefix + std::to_string(i);
                SetProperty(window, "WM_NAME", "STRING", 8, title);
                // Side by side on a grid: a position of our own spares the window manager a
                // search for free space, and windows that do not overlap spare the server.
                const int columns = std::max(1, Screen->width_in_pixels / 80);
                xcb_size_hints_t size{};
                xcb_icccm_size_hints_set_position(&size, 1, (i % columns) * 80, (i / columns) * 80);
                xcb_icccm_size_hints_set_size(&size, 1, 64, 48);
                xcb_icccm_set_wm_normal_hints(Connection, window, &size);
                xcb_map_window(Connection, window);
            }
        } else if (command == "raise") {
            xcb_window_t window;
            words >> window;
            Raise(window);
        } else if (command == "desktop") {
            std::uint32_t desktop;
            words >> desktop;
            SendToManager(Screen->root, "_NET_CURRENT_DESKTOP", {desktop, XCB_CURRENT_TIME});
        } else if (command == "move") {
            xcb_window_t window;
            std::uint32_t x, y;
            words >> window >> x >> y;
            // North-west gravity, x and y given, from a pager.
            SendToManager(window, "_NET_MOVERESIZE_WINDOW", {XCB_GRAVITY_NORTH_WEST | 0x300U | (2U << 12), x, y});
        } else if (command == "maximise") {
            xcb_window_t window;
            words >> window;
            SendToManager(window, "_NET_WM_STATE",
                          {1, Atom("_NET_WM_STATE_MAXIMIZED_VERT"), Atom("_NET_WM_STATE_MAXIMIZED_HORZ"), 2});
        } else if (command == "destroy") {
            xcb_window_t window;
            words >> window;
            xcb_destroy_window(Connection, window);
        } else if (command == "where") {
            xcb_window_t window;
            words >> window;
            reply = Where(window);
        } else if (command == "seen") {
            xcb_window_t window;
            words >> window;
            reply = Seen(window) ? "1" : "0";
        } else if (command == "spot") {
            xcb_window_t window;
            words >> window;
            const Freed<xcb_translate_coordinates_reply_t> origin = Spot(window);
            char colour[8];
            std::snprintf(colour, sizeof colour, "%06x", Colours.count(window) ? Colours[window] : 0U);
            reply = origin ? std::to_string(origin->dst_x) + " " + std::to_string(origin->dst_y) + " " + colour : "gone";
        } else if (command == "clients") {
            Freed<xcb_get_property_reply_t> list{xcb_get_property_reply(
                Connection,
                xcb_get_property(Connection, 0, Screen->root, Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1 << 20),
                nullptr)};
            reply = std::to_string(list ? xcb_get_property_value_length(list.reply) / 4 : 0);
        } else if (command == "wm") {
            reply = ManagerRunning() ? "1" : "0";
        } else if (command == "redirect") {
            reply = RedirectHeld() ? "1" : "0";
        } else if (command == "probe") {
            const xcb_window_t probe = xcb_generate_id(Connection);
            xcb_create_window(Connection, XCB_COPY_FROM_PARENT, probe, Screen->root, 0, 0, 10, 10, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, Screen->root_visual, 0, nullptr);
            // A place of its own: twm would otherwise wait for the user to place it.
            xcb_size_hints_t size{};
            xcb_icccm_size_hints_set_position(&size, 1, 0, 0);
            xcb_icccm_set_wm_normal_hints(Connection, probe, &size);
            xcb_map_window(Connection, probe);
            xcb_flush(Connection);
            AwaitState(probe, XCB_ICCCM_WM_STATE_NORMAL, 10, 250);
            reply = WmState(probe) == XCB_ICCCM_WM_STATE_NORMAL ? "1" : "0";
            xcb_destroy_window(Connection, probe);
        } else {
            reply = "unknown command";
        }
        // Every reply follows a round trip, so the server has seen all that came before it.
        Sync();
        std::cout << reply << std::endl;
    }
    xcb_disconnect(Connection);
    return 0;
}
