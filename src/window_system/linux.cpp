// The Linux window system: the desktop is only known at run time, so the backend that answers
// the calls is chosen once, on the first call, from the session: sway's IPC where SWAYSOCK names
// a socket that answers; KWin's scripting on a Wayland session whose bus has KWin; else X11.
// With none to reach, the program ends with one line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "window_system/backends.h"

namespace {

enum class Backend { X11, Sway, KWin };

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

Backend Choose()
{
    const std::string swaySocket = Variable("SWAYSOCK");
    if (!swaySocket.empty() && sway::Connect(swaySocket))
        return Backend::Sway;
    const bool wayland = !Variable("WAYLAND_DISPLAY").empty() || Variable("XDG_SESSION_TYPE") == "wayland";
    if (wayland && kwin::Connect())
        return Backend::KWin;
    if (x11::Connect()) {
        // Under another Wayland compositor the X display is XWayland's, which shows only the
        // windows of X11 programs.
        if (wayland)
            std::fputs("topleft: this Wayland desktop shows other programs only their X11 windows; "
                       "its native windows are not listed.\n",
                       stderr);
        return Backend::X11;
    }
    const std::string display = Variable("DISPLAY");
    std::fprintf(stderr, "topleft: cannot open display %s%s%s\n",
                 display.empty() ? "(DISPLAY is not set)" : display.c_str(),
                 swaySocket.empty() ? "" : ", and sway does not answer at ", swaySocket.c_str());
    std::exit(1);
}

Backend Chosen()
{
    static const Backend chosen = Choose();
    return chosen;
}

// One line for a desktop that was reached but did not list its windows: what it lacks, or what
// it answered that cannot be read, where the backend says so; else that it did not answer.
[[noreturn]] void Unlisted(const char* desktop)
{
    const DWORD error = GetLastError();
    char text[256] = "";
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_DATA)
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0, text, sizeof text, nullptr);
    if (text[0])
        std::fprintf(stderr, "topleft: %s.\n", text);
    else
        std::fprintf(stderr, "topleft: %s did not answer.\n", desktop);
    std::exit(1);
}

} // namespace

// A desktop that was reached but does not list its windows is as good as none.
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    switch (Chosen()) {
    case Backend::Sway:
        if (!sway::EnumWindows(lpEnumFunc, lParam))
            Unlisted("sway");
        break;
    case Backend::KWin:
        if (!kwin::EnumWindows(lpEnumFunc, lParam))
            Unlisted("KWin");
        break;
    case Backend::X11:
        if (!x11::EnumWindows(lpEnumFunc, lParam))
            Unlisted("the X server");
        break;
    }
    return TRUE;
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    switch (Chosen()) {
    case Backend::Sway:
        return sway::GetWindowTextA(hWnd, lpString, nMaxCount);
    case Backend::KWin:
        return kwin::GetWindowTextA(hWnd, lpString, nMaxCount);
    case Backend::X11:
        break;
    }
    return x11::GetWindowTextA(hWnd, lpString, nMaxCount);
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    switch (Chosen()) {
    case Backend::Sway:
        return sway::SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
    case Backend::KWin:
        return kwin::SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
    case Backend::X11:
        break;
    }
    return x11::SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    switch (Chosen()) {
    case Backend::Sway:
        return sway::GetWindowRect(hWnd, lpRect);
    case Backend::KWin:
        return kwin::GetWindowRect(hWnd, lpRect);
    case Backend::X11:
        break;
    }
    return x11::GetWindowRect(hWnd, lpRect);
}

// KWin's monitors are not read: its corner is the desktop's (0, 0).
HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags)
{
    switch (Chosen()) {
    case Backend::Sway:
        return sway::MonitorFromPoint(pt, dwFlags);
    case Backend::KWin:
        return nullptr;
    case Backend::X11:
        break;
    }
    return x11::MonitorFromPoint(pt, dwFlags);
}

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi)
{
    switch (Chosen()) {
    case Backend::Sway:
        return sway::GetMonitorInfoA(hMonitor, lpmi);
    case Backend::KWin:
        return FALSE;
    case Backend::X11:
        break;
    }
    return x11::GetMonitorInfoA(hMonitor, lpmi);
}

// No message reaches the window's program here, so there is nothing to wait for; whether the
// window is still there, the move itself finds out.
LRESULT SendMessageTimeoutA(HWND /*hWnd*/, UINT /*Msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, UINT /*fuFlags*/,
                            UINT /*uTimeout*/, DWORD_PTR* lpdwResult)
{
    if (lpdwResult)
        *lpdwResult = 0;
    return 1;
}
