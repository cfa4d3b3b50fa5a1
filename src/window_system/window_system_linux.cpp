// The Linux window system: the desktop is only known at run time, so the backend that answers
// the calls is chosen once, on the first call, from the session: sway's IPC where SWAYSOCK names
// a socket that answers, else X11. With none to reach, the program ends with one line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "window_system/backends.h"

namespace {

enum class Backend { X11, Sway };

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
    if (x11::Connect()) {
        // Under another Wayland compositor the X display is XWayland's, which shows only the
        // windows of X11 programs.
        if (!Variable("WAYLAND_DISPLAY").empty() || Variable("XDG_SESSION_TYPE") == "wayland")
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

} // namespace

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    return Chosen() == Backend::Sway ? sway::EnumWindows(lpEnumFunc, lParam) : x11::EnumWindows(lpEnumFunc, lParam);
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    return Chosen() == Backend::Sway ? sway::GetWindowTextA(hWnd, lpString, nMaxCount)
                                     : x11::GetWindowTextA(hWnd, lpString, nMaxCount);
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    return Chosen() == Backend::Sway ? sway::SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags)
                                     : x11::SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    return Chosen() == Backend::Sway ? sway::GetWindowRect(hWnd, lpRect) : x11::GetWindowRect(hWnd, lpRect);
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
