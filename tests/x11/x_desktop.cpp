// An X11 test program for the end-to-end tests: opens windows with exactly the title properties
// a test asks for, and reports where windows are. Commands on standard input, one reply line each:
//   open X Y W H mapped|hidden|iconic [static] [#RRGGBB]
//                                       -> window id (managed by then, under a window manager);
//                                          static: the window asks for Static gravity; #RRGGBB:
//                                          its colour (white otherwise), on a 24-bit screen
//   title ID PROPERTY TYPE FORMAT HEX   -> ok       sets a property byte for byte ("-": empty)
//   many N PREFIX                       -> ok       N mapped windows titled PREFIX0, PREFIX1, ...,
//                                                   64x48 on a grid of 80 pixels
//   destroy ID                          -> ok
//   where ID                            -> X Y W H TOP: the outer corner of its frame (or of the
//                                          window), the window's size, 1 if topmost of the windows
//                                          one can see (viewable and on the screen)
//   wm                                  -> 1 when an EWMH window manager is running, else 0
//   clients                             -> how many windows the window manager manages
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
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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
        Connection, xcb_intern_atom(Connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr)};
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

std::string Bytes(const std::string& hex)
{
    std::string bytes;
    if (hex == "-")
        return bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// A manager is running once it announces itself and has taken the root's SubstructureRedirect:
// a window mapped before that would escape it for good.
bool ManagerRunning()
{
    const xcb_atom_t check = Atom("_NET_SUPPORTING_WM_CHECK");
    Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, Screen->root, check, XCB_ATOM_WINDOW, 0, 1), nullptr)};
    Freed<xcb_get_window_attributes_reply_t> root{
        xcb_get_window_attributes_reply(Connection, xcb_get_window_attributes(Connection, Screen->root), nullptr)};
    return reply && xcb_get_property_value_length(reply.reply) == 4 && root &&
           (root->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
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
// `step` milliseconds for at most five seconds.
void AwaitState(xcb_window_t window, std::uint32_t wanted, int step = 10)
{
    for (int i = 0; i < 5000 / step && WmState(window) != wanted; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(step));
}

xcb_window_t Open(int x, int y, int width, int height, const std::string& state, bool staticGravity,
                  std::uint32_t colour)
{
    const xcb_window_t window = xcb_generate_id(Connection);
    const std::uint32_t values[] = {colour};
    xcb_create_window(Connection, XCB_COPY_FROM_PARENT, window, Screen->root, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), 1, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      Screen->root_visual, XCB_CW_BACK_PIXEL, values);
    // Ask to be placed where we said, so positions before a move are known.
    xcb_size_hints_t size{};
    xcb_icccm_size_hints_set_position(&size, 1, x, y);
    xcb_icccm_size_hints_set_size(&size, 1, width, height);
    if (staticGravity)
        xcb_icccm_size_hints_set_win_gravity(&size, XCB_GRAVITY_STATIC);
    xcb_icccm_set_wm_normal_hints(Connection, window, &size);
    if (state == "iconic") {
        xcb_icccm_wm_hints_t hints{};
        xcb_icccm_wm_hints_set_iconic(&hints);
        xcb_icccm_set_wm_hints(Connection, window, &hints);
    }
    if (state != "hidden")
        xcb_map_window(Connection, window);
    xcb_flush(Connection);
    if (state != "hidden" && ManagerRunning())
        AwaitState(window, state == "iconic" ? XCB_ICCCM_WM_STATE_ICONIC : XCB_ICCCM_WM_STATE_NORMAL);
    return window;
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

std::string Where(xcb_window_t window)
{
    const xcb_window_t outer = TopLevelOf(window);
    Freed<xcb_get_geometry_reply_t> frame{
        xcb_get_geometry_reply(Connection, xcb_get_geometry(Connection, outer), nullptr)};
    Freed<xcb_get_geometry_reply_t> own{
        xcb_get_geometry_reply(Connection, xcb_get_geometry(Connection, window), nullptr)};
    if (!frame || !own)
        return "gone";

    // The topmost child of the root that one can see: window managers keep helper windows of
    // their own mapped off the screen, above everything.
    Freed<xcb_query_tree_reply_t> tree{
        xcb_query_tree_reply(Connection, xcb_query_tree(Connection, Screen->root), nullptr)};
    const xcb_window_t* children = xcb_query_tree_children(tree.reply);
    xcb_window_t topmost = XCB_NONE;
    for (int i = xcb_query_tree_children_length(tree.reply) - 1; i >= 0 && topmost == XCB_NONE; --i) {
        Freed<xcb_get_window_attributes_reply_t> attributes{xcb_get_window_attributes_reply(
            Connection, xcb_get_window_attributes(Connection, children[i]), nullptr)};
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        Freed<xcb_get_geometry_reply_t> geometry{
            xcb_get_geometry_reply(Connection, xcb_get_geometry(Connection, children[i]), nullptr)};
        if (geometry && geometry->x + geometry->width + 2 * geometry->border_width > 0 &&
            geometry->y + geometry->height + 2 * geometry->border_width > 0 &&
            geometry->x < Screen->width_in_pixels && geometry->y < Screen->height_in_pixels)
            topmost = children[i];
    }
    std::ostringstream out;
    out << frame->x << ' ' << frame->y << ' ' << own->width << ' ' << own->height << ' '
        << (topmost == outer ? 1 : 0);
    return out.str();
}

bool InputClosed()
{
    pollfd input{0, POLLIN, 0};
    return poll(&input, 1, 0) != 0;
}

int Churn()
{
    const std::string flickerTitles[] = {"Flicker", "Flicker " + std::string(300, 'F'), "",
                                         "Flicker \xff\xfe\xc3"};
    const xcb_window_t flicker = Open(700, 500, 120, 80, "mapped", false, Screen->white_pixel);
    SetProperty(flicker, "_NET_WM_NAME", "UTF8_STRING", 8, flickerTitles[0]);
    Sync();
    std::cout << flicker << std::endl;

    const bool managed = ManagerRunning();
    std::deque<xcb_window_t> alive;
    long made = 0;
    while (!InputClosed() && !xcb_connection_has_error(Connection)) {
        const xcb_window_t window = xcb_generate_id(Connection);
        xcb_create_window(Connection, XCB_COPY_FROM_PARENT, window, Screen->root,
                          static_cast<std::int16_t>(600 + made % 200), 300, 100, 60, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, Screen->root_visual, 0, nullptr);
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
            bool staticGravity = false;
            std::uint32_t colour = Screen->white_pixel;
            while (words >> option) {
                if (option == "static")
                    staticGravity = true;
                else if (option.size() == 7 && option[0] == '#')
                    colour = static_cast<std::uint32_t>(std::stoul(option.substr(1), nullptr, 16));
            }
            reply = std::to_string(Open(x, y, width, height, state, staticGravity, colour));
        } else if (command == "title") {
            xcb_window_t window;
            std::string property, type, hex;
            int format;
            words >> window >> property >> type >> format >> hex;
            SetProperty(window, property, type, format, Bytes(hex));
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
        } else if (command == "destroy") {
            xcb_window_t window;
            words >> window;
            xcb_destroy_window(Connection, window);
        } else if (command == "where") {
            xcb_window_t window;
            words >> window;
            reply = Where(window);
        } else if (command == "clients") {
            Freed<xcb_get_property_reply_t> list{xcb_get_property_reply(
                Connection,
                xcb_get_property(Connection, 0, Screen->root, Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1 << 20),
                nullptr)};
            reply = std::to_string(list ? xcb_get_property_value_length(list.reply) / 4 : 0);
        } else if (command == "wm") {
            reply = ManagerRunning() ? "1" : "0";
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
