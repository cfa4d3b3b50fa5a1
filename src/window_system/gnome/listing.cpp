// The GNOME backend's listing: every window Mutter manages with a title, topmost first, and the
// monitors with the space GNOME leaves free of its top bar, as the extension lists them.
#include "window_system/backends.h"
#include "window_system/gnome/shell.h"
#include "window_system/last_error.h"
#include "window_system/title.h"

namespace gnome {

namespace {

constexpr std::chrono::milliseconds Fresh{100};

} // namespace

const Desk* Recent()
{
    if (Clock::now() - LastRead >= Fresh && !List())
        return nullptr;
    return &Last;
}

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    // Connect has just listed the windows.
    const Desk* desk = Recent();
    if (!desk)
        return FALSE;
    const std::vector<Window> windows = desk->windows;
    for (const Window& window : windows)
        if (!lpEnumFunc(HandleOf(window.id), lParam))
            break;
    return TRUE;
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    const Window* window = Last.Find(IdOf(hWnd));
    return WindowText(window ? &window->title : nullptr, lpString, nMaxCount);
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    const Desk* desk = Recent();
    if (!desk)
        return FALSE;
    const Window* window = desk->Find(IdOf(hWnd));
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    *lpRect = {window->x, window->y, window->x + window->width, window->y + window->height};
    return TRUE;
}

// Mutter has no window hidden but a minimised one: one on another workspace is brought into view
// by the move, which reads back that it has the focus.
BOOL IsWindowVisible(HWND hWnd)
{
    const Desk* desk = Recent();
    const Window* window = desk ? desk->Find(IdOf(hWnd)) : nullptr;
    return window && !window->minimised;
}

BOOL IsZoomed(HWND hWnd)
{
    const Desk* desk = Recent();
    const Window* window = desk ? desk->Find(IdOf(hWnd)) : nullptr;
    return window && window->maximised;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags)
{
    const Desk* desk = Recent();
    return desk ? ChooseMonitor(desk->monitors, pt, dwFlags) : nullptr;
}

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi) { return DescribeMonitor(Last.monitors, hMonitor, lpmi); }

} // namespace gnome
