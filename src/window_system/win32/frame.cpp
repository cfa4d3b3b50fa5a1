// The visible frame behind the core's SetWindowPos and GetWindowRect on Windows (see frame.h).
// Built into the Windows program, and into the unit tests against the scripted desktop, which
// answers the same user32 and DWM calls.
#include "window_system/win32/frame.h"

#include <algorithm>
#include <string>
#include <vector>

#include "window_system/last_error.h"
#include "window_system/stacking.h"
#include "window_system/title.h"

// Here the names are user32's own: window_system.h points the core's at the calls below.
#undef SetWindowPos
#undef GetWindowRect

namespace {

// Windows above this many in the Z-order are not looked at: the walk is bounded even while the
// order changes under it.
constexpr std::size_t MaxWindowsAbove = 100000;

// How far the visible frame lies inside the window's rectangle, as the DWM reports it; none where
// it reports nothing (composition off, or Wine) or bounds that are no frame of this rectangle.
RECT FrameInset(HWND window, const RECT& rect)
{
    RECT frame{};
    if (DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &frame, sizeof frame) != S_OK ||
        frame.left < rect.left || frame.top < rect.top || frame.right > rect.right || frame.bottom > rect.bottom ||
        frame.left >= frame.right || frame.top >= frame.bottom)
        return {0, 0, 0, 0};
    return {frame.left - rect.left, frame.top - rect.top, rect.right - frame.right, rect.bottom - frame.bottom};
}

bool Cloaked(HWND window)
{
    DWORD cloaked = 0;
    return DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof cloaked) == S_OK && cloaked != 0;
}

// What the user sees of a window: the DWM's visible frame, or the rectangle where it tells none.
RECT VisibleFrame(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    const RECT inset = FrameInset(window, rect);
    return {rect.left + inset.left, rect.top + inset.top, rect.right - inset.right, rect.bottom - inset.bottom};
}

int LayerOf(HWND window) { return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? AboveLayer : NormalLayer; }

// The first window above this one that the user sees over it (stacking.h): shown (not hidden,
// minimised or cloaked, on another virtual desktop), in its band (topmost windows stay above every
// other), not owned by it or by a window it owns (its dialogs and theirs), over its frame.
HWND CoveringWindow(HWND window)
{
    constexpr int DeepestOwner = 32;
    std::vector<HWND> handles;
    std::vector<StackedWindow> above;
    for (HWND other = GetWindow(window, GW_HWNDPREV); other && handles.size() < MaxWindowsAbove;
         other = GetWindow(other, GW_HWNDPREV)) {
        bool family = false;
        HWND owner = GetWindow(other, GW_OWNER);
        for (int depth = 0; owner && !family && depth < DeepestOwner; ++depth, owner = GetWindow(owner, GW_OWNER))
            family = owner == window;
        handles.push_back(other);
        above.push_back({VisibleFrame(other), IsWindowVisible(other) && !IsIconic(other) && !Cloaked(other),
                         LayerOf(other), family});
    }
    const std::size_t found = FirstCovering(VisibleFrame(window), LayerOf(window), above);
    return found < handles.size() ? handles[found] : nullptr;
}

// A window maximised on another monitor than the one at the corner is maximised on that one
// instead, as Windows moves a maximised window between monitors: its restored place goes to the
// corner, in the workspace coordinates a placement is given in (those of the primary monitor's
// work area), and it is maximised from there.
BOOL MaximiseAtCorner(HWND hWnd, int X, int Y)
{
    if (MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST) == MonitorFromPoint(POINT{X, Y}, MONITOR_DEFAULTTONEAREST))
        return TRUE;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    MONITORINFO primary{};
    primary.cbSize = sizeof primary;
    if (!GetWindowPlacement(hWnd, &placement) ||
        !GetMonitorInfoA(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &primary))
        return FALSE;
    RECT& normal = placement.rcNormalPosition;
    const LONG left = X - primary.rcWork.left, top = Y - primary.rcWork.top;
    normal = {left, top, left + (normal.right - normal.left), top + (normal.bottom - normal.top)};
    placement.flags = 0;
    placement.showCmd = SW_SHOWMAXIMIZED;
    return SetWindowPlacement(hWnd, &placement);
}

} // namespace

BOOL VisibleFrameSetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    if (!IsWindow(hWnd))
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    // Shown again first, at the place and size it is restored to, and placed from there.
    if (IsIconic(hWnd))
        ShowWindow(hWnd, SW_RESTORE);
    RECT rect;
    if (!GetWindowRect(hWnd, &rect))
        return FALSE;
    // A maximised window already fills its monitor's work area: it is only raised, once it is
    // maximised on the corner's monitor.
    const bool maximised = IsZoomed(hWnd);
    if (maximised && !MaximiseAtCorner(hWnd, X, Y))
        return FALSE;
    if (maximised)
        uFlags |= SWP_NOMOVE | SWP_NOSIZE;
    const RECT inset = FrameInset(hWnd, rect);
    if (!SetWindowPos(hWnd, hWndInsertAfter, X - static_cast<int>(inset.left), Y - static_cast<int>(inset.top), cx, cy,
                      uFlags))
        return FALSE;
    // The invisible border is as wide as the scale of the monitor the window is on makes it: one
    // that came from a monitor of another scale is placed again by the border it has now.
    if (!maximised && !(uFlags & SWP_NOMOVE) && GetWindowRect(hWnd, &rect))
        if (const RECT now = FrameInset(hWnd, rect); now.left != inset.left || now.top != inset.top)
            if (!SetWindowPos(hWnd, nullptr, X - static_cast<int>(now.left), Y - static_cast<int>(now.top), 0, 0,
                              SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
                return FALSE;
    if (hWndInsertAfter == HWND_TOP && !(uFlags & SWP_NOZORDER))
        if (const HWND above = CoveringWindow(hWnd)) {
            char title[128] = "";
            GetWindowTextA(above, title, sizeof title);
            return Fail(ERROR_ACCESS_DENIED, QuotedTitle(title, CharsetOf(GetConsoleOutputCP())) + " stayed above it");
        }
    return TRUE;
}

BOOL VisibleFrameGetWindowRect(HWND hWnd, RECT* lpRect)
{
    RECT rect;
    if (!GetWindowRect(hWnd, &rect))
        return FALSE;
    if (IsIconic(hWnd)) {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        if (!GetWindowPlacement(hWnd, &placement))
            return FALSE;
        const RECT& normal = placement.rcNormalPosition;
        if (normal.left != rect.left || normal.top != rect.top || normal.right != rect.right ||
            normal.bottom != rect.bottom) {
            *lpRect = normal;
            return TRUE;
        }
        // The system keeps the place it restores the window to from us (Wine does, for another
        // program's window, and answers with the minimised rectangle): the window is shown
        // again, unactivated, to learn it. The move that follows would restore it anyway.
        ShowWindow(hWnd, SW_SHOWNOACTIVATE);
        if (!GetWindowRect(hWnd, &rect))
            return FALSE;
    }
    const RECT inset = FrameInset(hWnd, rect);
    LONG left = rect.left + inset.left, top = rect.top + inset.top;
    if (IsZoomed(hWnd)) {
        // What lies beyond the work area of a maximised window's monitor is not seen.
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (GetMonitorInfoA(MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
            left = std::max(left, monitor.rcWork.left);
            top = std::max(top, monitor.rcWork.top);
        }
    }
    *lpRect = {left, top, left + (rect.right - rect.left), top + (rect.bottom - rect.top)};
    return TRUE;
}
