// The Linux backends, each its own set of the window-system calls, and what the selector needs
// to choose between them. Only the selector (linux.cpp) calls these directly, and the
// foreign-toplevel backend, which places an X11 program's window through the X11 one.
#pragma once

#include <string>
#include <vector>

#include "window_system/window_system.h"

namespace x11 {
// Opens the connection to the X display; false when it cannot be reached.
bool Connect();
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsZoomed(HWND hWnd);
HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags);
BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi);
// Every window of the listing, topmost first, with what a compositor's toplevel may name it by:
// its title, as the listing gives it, its program (WM_CLASS: instance and class) and whether the
// manager keeps it, shown or minimised.
struct Named {
    HWND window;
    std::string title, instance, kind;
    bool kept;
};
std::vector<Named> NamedWindows();
} // namespace x11

namespace sway {
// Opens the connection to sway's IPC socket at path; false when nothing answers there.
bool Connect(const std::string& path);
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsZoomed(HWND hWnd);
HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags);
BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi);
} // namespace sway

namespace kwin {
// Connects to the session bus; false unless KWin is on it.
bool Connect();
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsZoomed(HWND hWnd);
HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags);
BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi);
} // namespace kwin

namespace gnome {
// The extension's uuid, as `gnome-extensions enable` takes it.
constexpr const char* ExtensionUuid = "topleft@example.org";
enum class Reach {
    NoShell, // no GNOME Shell on the session bus
    NoExtension, // GNOME Shell, but topleft's extension does not answer there
    Extension,
};
// Connects to the session bus and lists through the extension, when GNOME Shell has it.
Reach Connect();
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsZoomed(HWND hWnd);
HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags);
BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi);
} // namespace gnome

namespace foreign_toplevel {
enum class Reach {
    None, // no compositor, or one that does not offer the protocol
    Toplevel, // a compositor that offers it
    Silent, // one that did not answer, or closed the connection: the reason is the last error
};
// Connects to the Wayland compositor of WAYLAND_DISPLAY, and to XWayland where it runs one.
Reach Connect();
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
BOOL IsWindowVisible(HWND hWnd);
BOOL IsZoomed(HWND hWnd);
HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags);
BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi);
} // namespace foreign_toplevel
