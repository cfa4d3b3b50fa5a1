// The look at a window before and during its move: what the desktop offers for it (a manager,
// the EWMH messages it takes, i3, the window's own hints) and where the window is as the user sees
// it (the outer corner of its frame, its size, whether it is on top and active). Each look is one
// batch of requests whose replies are read together.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "window_system/x11/display.h"

namespace x11 {

using Clock = std::chrono::steady_clock;

struct Extents {
    int left = 0, right = 0, top = 0, bottom = 0;
    bool Any() const { return left || right || top || bottom; }
};

// Where a window is, as the user sees it.
struct Seen {
    bool exists = false;
    xcb_window_t frame = XCB_NONE; // the root's child that holds it
    int frameX = 0, frameY = 0; // the frame's outer corner
    int frameWidth = 0, frameHeight = 0; // and its outer size
    int clientX = 0, clientY = 0; // the client's own origin, inside its border
    int width = 0, height = 0; // the client's size: what the program draws in
    int border = 0; // the client's own border width
    Extents decoration; // what the manager draws around the client
    Extents shadow; // what the client draws around itself, outside what one sees
    bool viewable = false;
    bool onTop = false;
    bool active = false;
    bool focused = false; // it has the keyboard's focus
    bool maximised = false; // both ways, as the move began
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
    // What the user sees of the window: its frame, inside any shadow it draws.
    RECT Frame() const
    {
        const int right = DrawsOwnFrame() ? clientX + width - shadow.right : frameX + frameWidth;
        const int bottom = DrawsOwnFrame() ? clientY + height - shadow.bottom : frameY + frameHeight;
        return {Left(), Top(), right, bottom};
    }
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
    int layer = 0; // the layer the manager keeps it in, by its type and state (stacking.h)
    bool maximised = false; // both ways
    xcb_window_t group = XCB_NONE; // its application's group leader, where it names one
    std::optional<std::uint32_t> currentDesktop; // the desktop shown, where the manager numbers them
    // The windows present as the move begins, sorted: the root's children and the clients the
    // manager lists.
    std::vector<xcb_window_t> present;
    // The server's time as the move begins: managers judge an activation by its time, and one
    // that comes without a time may be ordered behind focus changes it follows.
    xcb_timestamp_t now = XCB_CURRENT_TIME;
};

// Reads where the window is; given the windows present when the move began, also whether it is
// on top of them and active.
Seen Observe(Display& x, xcb_window_t client, const Desktop& desktop, const std::vector<xcb_window_t>* present);

// What a move starts from: the desktop and the window, read in one batch with the monitors'
// layout. Whether a window above it may stay there is not judged: any window above counts. A
// look a moment old serves again.
struct Look {
    Desktop desktop;
    Seen seen;
};
Look LookAtMove(Display& x, xcb_window_t client);

// What was seen of the window a moment ago, or the look a move starts from.
Seen Recall(Display& x, xcb_window_t client);
// Forgets what was seen: the next look is a new one, however soon it comes.
void ForgetLook();

// The corner the user sees of a window its manager keeps maximised from the corner of the free
// space of its monitor: what lies beyond that space is not seen (icewm keeps a maximised window's
// border past the screen's edge), so its corner is the free space's. Empty for any other window.
std::optional<POINT> MaximisedCorner(const Seen& seen);

// FALSE for a window no look found, with the reason: it has gone, or its server stopped answering.
BOOL Vanished(Display& x);

// The parts of a look. The desktop (desktop.cpp): its requests sent, then read; the root's
// children, read for it, are handed on through `keepTree`.
struct DesktopAsked {
    xcb_window_t stamp;
    xcb_get_window_attributes_cookie_t rootAttributes;
    ManagerCheck check;
    xcb_get_property_cookie_t supported, i3Socket, wmState, normalHints, hints, protocols, clientList;
    xcb_query_tree_cookie_t rootTree;
    xcb_get_property_cookie_t type, state, currentDesktop;
};
DesktopAsked AskDesktop(Display& x, xcb_window_t client);
Desktop ReadDesktop(Display& x, const DesktopAsked& asked, Owned<xcb_query_tree_reply_t>* keepTree = nullptr);

// The windows above the moved one (above.cpp): the first stacked above its frame in the root's
// children `tree` that the user could see over it, or XCB_NONE where there is none (stacking.h);
// windows that appeared since the move began (not among `present`) are not looked at. Unless asked
// to judge, any window above counts. `shownDesktop` is the desktop in view as this look found it.
xcb_window_t CoveringWindow(Display& x, const xcb_query_tree_reply_t* tree, const Seen& moved, xcb_window_t client,
                            const Desktop& desktop, std::optional<std::uint32_t> shownDesktop,
                            const std::vector<xcb_window_t>& present, bool judge);
// The layer a manager keeps a window in by its EWMH type and state (stacking.h).
int LayerOf(Display& x, const xcb_get_property_reply_t* type, const xcb_get_property_reply_t* state);

} // namespace x11
