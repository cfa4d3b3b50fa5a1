// The X11 move. A window manager decides where windows go, so the move asks it (or, with none
// running, moves the window itself), waits for what it does, reads back where the window really
// is and corrects what is off: the offset the manager added, the size it changed, the stacking.
// Every wait is driven by the server's events and bounded; what could not be put right is
// reported, never passed off as done.
//
// The parts: look.cpp reads the desktop and the window, request.cpp asks in the way the desktop
// takes, and this file runs the rounds: ask, wait for the manager's events until it is quiet,
// read back, and take back what it added in the next round.
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "window_system/last_error.h"
#include "window_system/x11/properties.h"
#include "window_system/x11/request.h"

namespace x11 {

namespace {

using std::chrono::milliseconds;

// A window manager that stays silent is given this long, in all, before the move is given up;
// one whose events keep coming, up to the limit.
constexpr milliseconds Patience{500};
constexpr milliseconds Limit{3000};
// This long without an event after a request: the manager has done what it will do with it.
constexpr milliseconds Quiet{120};
constexpr int Rounds = 4;

// A deadline of the move begun at `start`, never past the limit of the whole move.
Clock::time_point Bounded(Clock::time_point deadline, Clock::time_point start)
{
    return std::min(deadline, start + Limit);
}

// Whether the window is where the move wants it. Once the manager has been quiet a while, a
// window with the keyboard's focus while the manager names no window active is active all the same
// (openbox has been seen to leave it so); sooner, that may be a manager on its way to naming
// another window (fluxbox passes through it).
bool Reached(const Seen& seen, const Target& target, bool quiet = false)
{
    const bool active = seen.active || (quiet && seen.activeWindow == XCB_NONE && seen.focused);
    return seen.exists && seen.Left() == target.left && seen.Top() == target.top && seen.width == target.width &&
        seen.height == target.height && (!target.raise || seen.onTop) && (!target.viewable || seen.viewable) &&
        (!target.active || active);
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
        const auto left = std::chrono::ceil<milliseconds>(until - Clock::now()).count();
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

std::string WindowTitle(xcb_window_t window)
{
    char title[128];
    x11::GetWindowTextA(HandleOf(window), title, sizeof title);
    return QuotedTitle(title, CharsetOf(GetConsoleOutputCP()));
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

// Whether the manager keeps the window maximised both ways; empty once it has gone.
std::optional<bool> Maximised(Display& x, xcb_window_t client)
{
    const Owned<xcb_get_property_reply_t> state{
        xcb_get_property_reply(x.connection, xcb_ewmh_get_wm_state(&x.ewmh, client), nullptr)};
    if (!state)
        return std::nullopt;
    return HasState(state.get(), x.ewmh._NET_WM_STATE_MAXIMIZED_VERT) &&
        HasState(state.get(), x.ewmh._NET_WM_STATE_MAXIMIZED_HORZ);
}

// Asks the manager, as a pager does, to maximise the window both ways or to stop, and waits until
// it has and has gone quiet: it names the state before it has given the window its new frame.
// False where it has not by `until`.
bool Maximise(Display& x, xcb_window_t client, bool maximised, Clock::time_point until)
{
    xcb_ewmh_request_change_wm_state(
        &x.ewmh, x.screenNumber, client, maximised ? XCB_EWMH_WM_STATE_ADD : XCB_EWMH_WM_STATE_REMOVE,
        x.ewmh._NET_WM_STATE_MAXIMIZED_VERT, x.ewmh._NET_WM_STATE_MAXIMIZED_HORZ, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
    for (;;) {
        const Waiting wait;
        const std::optional<bool> now = Maximised(x, client);
        if (!now)
            return false;
        bool focused = false;
        if (*now == maximised) {
            while (AwaitActivity(x, std::min(Clock::now() + Quiet, until), client, focused))
                ;
            return Maximised(x, client) == maximised;
        }
        if (!AwaitActivity(x, until, client, focused))
            return false;
    }
}

// Set while a maximised window is moved to the corner's monitor, whose own moves go as any other.
bool MovingMaximised = false;

// A window maximised on another monitor than the corner's goes there as managers move one between
// monitors: it stops being maximised, is placed at the corner at the size it then has (a window
// maximised from the start may have no other, and not fit there: the manager keeps it on that
// monitor all the same), and is maximised again there. The last move raises it and judges what
// came of it all.
BOOL MaximiseAtCorner(HWND hWnd, HWND hWndInsertAfter, int X_, int Y, UINT uFlags)
{
    Display& x = X();
    const xcb_window_t client = WindowOf(hWnd);
    Watch(x, client, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    if (!Maximise(x, client, false, Clock::now() + Limit))
        return Maximised(x, client) ? Fail(ERROR_ACCESS_DENIED, "the window manager kept it maximised elsewhere")
                                    : Vanished(x);
    MovingMaximised = true;
    ForgetLook();
    const BOOL placed = x11::SetWindowPos(hWnd, hWndInsertAfter, X_, Y, 0, 0, uFlags | SWP_NOSIZE);
    const DWORD error = placed ? 0 : GetLastError();
    BOOL done = FALSE;
    if (error == ERROR_INVALID_WINDOW_HANDLE || error == ERROR_TIMEOUT) {
        done = FALSE; // the window gone, or the server silent: nothing more to ask
    } else if (!Maximise(x, client, true, Clock::now() + Limit)) {
        done = Maximised(x, client) ? Fail(ERROR_ACCESS_DENIED, "the window manager did not maximise it again")
                                    : Vanished(x);
    } else {
        ForgetLook();
        done = x11::SetWindowPos(hWnd, hWndInsertAfter, X_, Y, 0, 0, uFlags);
    }
    MovingMaximised = false;
    return done;
}

} // namespace

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X_, int Y, int cx, int cy, UINT uFlags)
{
    Display& x = X();
    const Waiting wait;
    const xcb_window_t client = WindowOf(hWnd);
    const Clock::time_point start = Clock::now();
    const Look look = LookAtMove(x, client);
    const Desktop& desktop = look.desktop;
    Seen seen = look.seen;
    if (!seen.exists)
        return Vanished(x);
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
    // A window its manager keeps maximised over the free space of its monitor is at that
    // space's corner already: it stays as it is, and is only raised. Maximised on another
    // monitor, it is maximised on the corner's instead.
    if (const std::optional<POINT> corner = desktop.managerRunning ? MaximisedCorner(seen) : std::nullopt) {
        if ((corner->x != X_ || corner->y != Y) && !MovingMaximised)
            return MaximiseAtCorner(hWnd, hWndInsertAfter, X_, Y, uFlags);
        target.left = seen.Left();
        target.top = seen.Top();
        target.place = false;
    }
    // A window already where it must be needs nothing of the manager; whether what lies above it
    // may stay there is looked into only then.
    Target placed = target;
    placed.raise = false;
    if (target.raise && !seen.onTop && Reached(seen, placed))
        seen = Observe(x, client, desktop, &present);
    if (Reached(seen, target))
        return TRUE;

    // Every change to the window, its frame and the active window wakes the wait below; asked for
    // before anything is requested, so nothing the manager does is missed.
    const std::uint32_t changes = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    Watch(x, client, changes | XCB_EVENT_MASK_FOCUS_CHANGE);
    if (seen.frame != client)
        Watch(x, seen.frame, changes);
    // The root's children as well: a window the manager stacks over this one again says so only
    // to its own frame's watchers and to the root's.
    Watch(x, x.root, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);

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
    Correction correct;
    std::string refusal;
    bool focused = false; // the client had the focus at some moment of the move
    bool overshot = false; // a correction put the window above or left of the corner
    for (int round = 0; round < Rounds && refusal.empty(); ++round) {
        const Way way = round < 2 ? first : fallback;
        if (round == 2 && way != first)
            correct = {}; // offsets learnt from another way
        refusal = Ask(x, way, round, client, desktop, seen, target, correct, i3 ? &*i3 : nullptr);

        // Watch what the manager does until it has been quiet for a while. A manager may undo at
        // once what it did (Window Maker raises a window over a full-screen one, then the
        // full-screen one again), and a look can come between: what the first round reached is
        // looked at once more; from the second, once the manager has kept the window elsewhere,
        // it must hold for a while (the other windows may change all along).
        const Seen before = seen;
        std::optional<Clock::time_point> holding; // since when what was reached has held
        for (bool confirming = false;;) {
            seen = Observe(x, client, desktop, &present);
            if (!seen.exists)
                return Vanished(x);
            // A window that opened since the move began may have taken the focus from it. Its
            // frame was not there either: a manager may name a window it took on a moment ago
            // in its client list only later (fluxbox does).
            focused = focused || seen.active;
            seen.active = seen.active ||
                (focused && seen.activeWindow != XCB_NONE &&
                 !std::binary_search(present.begin(), present.end(), seen.activeWindow) &&
                 !std::binary_search(present.begin(), present.end(), TopLevelOf(x, seen.activeWindow)));
            const bool reached = Reached(seen, target);
            holding = reached ? holding.value_or(Clock::now()) : std::optional<Clock::time_point>{};
            if (reached && (confirming || Clock::now() - *holding >= Quiet))
                return TRUE;
            confirming = reached && round == 0;
            if (confirming)
                continue;
            const Clock::time_point quiet = Clock::now() + Quiet;
            if (!AwaitActivity(x, std::min(quiet, deadline), client, focused)) {
                if (Clock::now() >= quiet && Reached(seen, target, true))
                    return TRUE;
                break;
            }
            deadline = Bounded(std::max(Clock::now() + Quiet, deadline), start);
        }
        // A correction that put the window above or left of the corner is taken back in one
        // more round, whatever the time.
        if ((seen.Left() < target.left && correct.x > 0) || (seen.Top() < target.top && correct.y > 0)) {
            overshot = true;
            deadline = Bounded(std::max(deadline, Clock::now() + Patience), start);
        }
        if (Clock::now() >= deadline)
            break;
        // What the manager did with the request, taken back from the next one: a constant offset
        // (Window Maker puts a window of Static gravity a pixel off) even where that asks for a
        // place above or left of the corner, but only with a round left to take it back, and
        // never again once a manager did as it was told there: that is where a panel may lie,
        // and a manager that keeps windows below its panels may then put a title bar under it
        // (xfwm4 has put one above the screen). A manager that did nothing with the request
        // taught nothing.
        if (seen.Left() != before.Left() || seen.Top() != before.Top()) {
            correct.x += seen.Left() - target.left;
            correct.y += seen.Top() - target.top;
        }
        if (overshot || round + 2 >= Rounds) {
            correct.x = std::min(correct.x, 0);
            correct.y = std::min(correct.y, 0);
        }
        if (seen.width != before.width || seen.height != before.height) {
            correct.width += seen.width - target.width;
            correct.height += seen.height - target.height;
        }
    }
    return Fail(ERROR_ACCESS_DENIED, Account(seen, target, refusal));
}

} // namespace x11
