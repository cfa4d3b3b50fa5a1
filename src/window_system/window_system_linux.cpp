// The Linux window system: the desktop is only known at run time, so the backend that answers
// the calls is chosen once, on the first call, from the session.
#include "window_system/x11_display.h"

namespace {

enum class Backend { X11 };

Backend Chosen()
{
    static const Backend chosen = Backend::X11;
    return chosen;
}

} // namespace

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    switch (Chosen()) {
    case Backend::X11:
        break;
    }
    return x11::EnumWindows(lpEnumFunc, lParam);
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount) { return x11::GetWindowTextA(hWnd, lpString, nMaxCount); }

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    return x11::SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect) { return x11::GetWindowRect(hWnd, lpRect); }

// No message reaches the window's program here, so there is nothing to wait for; whether the
// window is still there, the move itself finds out.
LRESULT SendMessageTimeoutA(HWND /*hWnd*/, UINT /*Msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, UINT /*fuFlags*/,
                            UINT /*uTimeout*/, DWORD_PTR* lpdwResult)
{
    if (lpdwResult)
        *lpdwResult = 0;
    return 1;
}
