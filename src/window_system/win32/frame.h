// The window as the user sees it on Windows, behind the core's SetWindowPos and GetWindowRect.
// user32 places a window's own rectangle, which on Windows 10 and later includes an invisible
// resizing border (about 7 pixels left, right and bottom at 100%), and moves a minimised window
// without showing it. These calls place and report the frame the Desktop Window Manager shows,
// restore a minimised window first, and read the raise back.
#pragma once

#include "window_system/window_system.h"

#ifdef _WIN32
#include <dwmapi.h>
#else
// Elsewhere the unit tests' scripted desktop answers the user32 and DWM calls used here, in
// their platform's shapes.
struct WINDOWPLACEMENT {
    UINT length, flags, showCmd;
    POINT ptMinPosition, ptMaxPosition;
    RECT rcNormalPosition;
};
#define SWP_NOMOVE 0x0002U
#define SWP_NOZORDER 0x0004U
#define SWP_NOACTIVATE 0x0010U
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_RESTORE 9
#define GW_HWNDPREV 3U
#define GW_OWNER 4U
#define GWL_EXSTYLE (-20)
#define WS_EX_TOPMOST 0x00000008L
#define DWMWA_EXTENDED_FRAME_BOUNDS 9U

BOOL IsWindow(HWND hWnd);
BOOL IsIconic(HWND hWnd);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
HWND GetWindow(HWND hWnd, UINT uCmd);
LONG GetWindowLongA(HWND hWnd, int nIndex);
BOOL GetWindowPlacement(HWND hWnd, WINDOWPLACEMENT* lpwndpl);
BOOL SetWindowPlacement(HWND hWnd, const WINDOWPLACEMENT* lpwndpl);
HMONITOR MonitorFromWindow(HWND hwnd, DWORD dwFlags);
#endif

// SetWindowPos for the frame the user sees: X and Y are where its visible corner goes. A
// minimised window is restored first; a maximised one stays maximised and is only raised, on the
// monitor of X and Y. With HWND_TOP, FALSE where a window above it covers it (stacking.h).
BOOL VisibleFrameSetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
// Left and top: the corner the user sees (of a maximised window, within its monitor's work area;
// of a minimised one, where it is restored to). Width and height: the window rectangle's, which
// a move keeps.
BOOL VisibleFrameGetWindowRect(HWND hWnd, RECT* lpRect);
