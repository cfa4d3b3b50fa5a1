// The foreign-toplevel backend's move. No program may place another program's native window
// there: the protocol lets one restore it and activate it (raise and focus), which is read back
// from the compositor's own account of its states. A window of an X11 program, matched to the one
// X11 window of XWayland it stands for, is placed at the corner through X11 as well.
#include "window_system/backends.h"
#include "window_system/foreign_toplevel/toplevels.h"
#include "window_system/last_error.h"
#include "window_system/title.h"

namespace foreign_toplevel {

namespace {

std::string Quoted(const std::string& text) { return QuotedTitle(text.c_str(), CharsetOf(GetConsoleOutputCP())); }

void Ask(Toplevel& toplevel, HandleRequest request)
{
    auto* handle = reinterpret_cast<wl_proxy*>(toplevel.handle);
    if (request == Activate)
        wl_proxy_marshal_flags(handle, request, nullptr, wl_proxy_get_version(handle), 0, Desk.seat);
    else
        wl_proxy_marshal_flags(handle, request, nullptr, wl_proxy_get_version(handle), 0);
}

// Shown again if minimised, then activated; FALSE with the reason unless the compositor says so.
BOOL BringToTop(Toplevel& toplevel)
{
    if (!Desk.seat)
        return Fail(ERROR_NOT_SUPPORTED, Desk.compositor + " has no seat to activate a window with");
    if (toplevel.minimised)
        Ask(toplevel, UnsetMinimized);
    Ask(toplevel, Activate);
    const Clock::time_point until = Clock::now() + Patience;
    if (!Await([&] { return toplevel.closed || (toplevel.activated && !toplevel.minimised); }, until)) {
        if (GetLastError() != ERROR_TIMEOUT)
            return FALSE;
        if (!Roundtrip())
            return FALSE;
    }
    if (toplevel.closed)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if (toplevel.minimised)
        return Fail(ERROR_ACCESS_DENIED, Desk.compositor + " kept it minimised");
    if (!toplevel.activated)
        return Fail(ERROR_ACCESS_DENIED, Desk.compositor + " did not make it the active window");
    return TRUE;
}

} // namespace

Match MatchOf(const Toplevel& toplevel)
{
    Match match;
    if (!Desk.x11)
        return match;
    std::vector<HWND> windows;
    for (const x11::Named& window : x11::NamedWindows())
        if (Names(window, toplevel))
            windows.push_back(window.window);
    if (windows.empty())
        return match;
    // Another toplevel of the same title and program could be the same X11 window just as well.
    const auto same = std::count_if(Desk.toplevels.begin(), Desk.toplevels.end(), [&](const auto& other) {
        return !other->closed && other->appId == toplevel.appId && other->title == toplevel.title;
    });
    match.kind = windows.size() == 1 && same == 1 ? Match::X11 : Match::Ambiguous;
    match.window = windows.front();
    return match;
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    // An X11 window that stands for no toplevel: nothing to ask the compositor.
    if (const HWND window = X11WindowOf(hWnd))
        return x11::SetWindowPos(window, hWndInsertAfter, X, Y, cx, cy, uFlags);
    Toplevel* toplevel = Find(hWnd);
    if (!toplevel)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    // What happened while the number was typed.
    if (!Roundtrip())
        return FALSE;
    if (toplevel->closed)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const Match match = MatchOf(*toplevel);
    if (match.kind == Match::Ambiguous)
        return Fail(ERROR_ACCESS_DENIED,
                    "another window has the same title and program, and which X11 window it is "
                    "cannot be told: it was left as it was");
    if (!BringToTop(*toplevel))
        return FALSE;
    if (match.kind == Match::Native)
        return Fail(ERROR_NOT_SUPPORTED,
                    Desk.compositor + " lets no program place another program's window; " + Quoted(toplevel->title) +
                        " was brought to the top");
    if (!x11::SetWindowPos(match.window, hWndInsertAfter, X, Y, cx, cy, uFlags))
        return FALSE;
    // The compositor's word that it is the active window still, once placed.
    if (!Roundtrip())
        return FALSE;
    if (toplevel->closed)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if (!toplevel->activated || toplevel->minimised)
        return Fail(ERROR_ACCESS_DENIED, Desk.compositor + " did not keep it the active window");
    return TRUE;
}

} // namespace foreign_toplevel
