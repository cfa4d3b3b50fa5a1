// Sending one round's request for the move, in the way the desktop takes it.
#include "window_system/x11/request.h"

namespace x11 {

namespace {

constexpr int I3TimeoutMs = 1000;

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

// Asks for the window's place and size in the given way; the desktop's refusal in the words of
// the message, or the empty text.
std::string AskPlace(Display& x, Way way, xcb_window_t client, const Desktop& desktop, const Seen& seen,
                     const Target& target, const Correction& correct, i3ipc::Connection* i3)
{
    std::string refusal;
    const int askedWidth = target.width - correct.width, askedHeight = target.height - correct.height;
    const int size[2] = {askedWidth, askedHeight};
    const bool resize = askedWidth != seen.width || askedHeight != seen.height || way != Way::Direct;
    switch (way) {
    case Way::Direct:
        Configure(x, seen.frame, seen.frameX + target.left - seen.Left(), seen.frameY + target.top - seen.Top(),
                  seen.frame == client && resize ? size : nullptr, target.raise);
        break;
    case Way::Ewmh: {
        // North-west gravity: the position is the frame's outer corner.
        const int left = target.left - seen.ShadowLeft() - correct.x;
        const int top = target.top - seen.ShadowTop() - correct.y;
        xcb_ewmh_request_moveresize_window(
            &x.ewmh, x.screenNumber, client, XCB_GRAVITY_NORTH_WEST, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
            static_cast<xcb_ewmh_moveresize_window_opt_flags_t>(
                XCB_EWMH_MOVERESIZE_WINDOW_X | XCB_EWMH_MOVERESIZE_WINDOW_Y | XCB_EWMH_MOVERESIZE_WINDOW_WIDTH |
                XCB_EWMH_MOVERESIZE_WINDOW_HEIGHT),
            static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top), static_cast<std::uint32_t>(askedWidth),
            static_cast<std::uint32_t>(askedHeight));
        break;
    }
    case Way::Icccm: {
        const auto [left, top] = IcccmPosition(seen, target, desktop.gravity);
        Configure(x, client, left - correct.x, top - correct.y, size, target.raise);
        // An iconified window asks to be shown again by mapping itself.
        if (desktop.iconic)
            xcb_map_window(x.connection, client);
        break;
    }
    case Way::I3: {
        const auto reply =
            i3->Ask(i3ipc::RunCommand,
                    I3Command(client, seen, target, correct.x, correct.y, correct.width, correct.height), I3TimeoutMs);
        if (!reply)
            refusal = "i3 did not answer";
        else if (const std::string error = i3ipc::CommandError(*reply); !error.empty())
            refusal = "i3 refused: " + error;
        break;
    }
    }
    return refusal;
}

} // namespace

std::string Ask(Display& x, Way way, int round, xcb_window_t client, const Desktop& desktop, const Seen& seen,
                const Target& target, const Correction& correct, i3ipc::Connection* i3)
{
    // A window kept as it is (maximised) is asked to go nowhere, as a manager may take a request
    // for its own place as one to leave that state: it is raised as any other.
    std::string refusal;
    if (target.place)
        refusal = AskPlace(x, way, client, desktop, seen, target, correct, i3);
    else if (target.raise && way == Way::Icccm)
        Raise(x, client);
    if (target.raise && way != Way::I3) {
        if (desktop.activate && (round == 0 || !seen.active))
            xcb_ewmh_request_change_active_window(&x.ewmh, x.screenNumber, client, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                                  desktop.now, XCB_NONE);
        if (round > 0 && !seen.onTop && desktop.restack)
            xcb_ewmh_request_restack_window(&x.ewmh, x.screenNumber, client, XCB_NONE, XCB_STACK_MODE_ABOVE);
        else if (round > 0 && !seen.onTop && way == Way::Ewmh)
            Raise(x, client);
    }
    return refusal;
}

} // namespace x11
