// The window-system calls the program makes, behind one header.
// On Windows they are user32's own, but for the move and its reading back (win32/). Elsewhere this
// header declares the same names and shapes, and the build links exactly one definition of them
// (the Linux backends behind their run-time selector, or the tests' scripted desktop).
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <dwmapi.h>

// The core moves and reads back the frame the user sees, and gives its own words for a move that
// did not end as asked: these calls of ours (win32/) stand in for user32's of the same names.
BOOL VisibleFrameSetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL VisibleFrameGetWindowRect(HWND hWnd, RECT* lpRect);
DWORD OwnFormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                        DWORD nSize, va_list* Arguments);
#define SetWindowPos VisibleFrameSetWindowPos
#define GetWindowRect VisibleFrameGetWindowRect
#define FormatMessageA OwnFormatMessageA

// The listing shows titles whole and right in the console (win32/console.cpp): the console's
// output code page is the program's while it runs, and a title is cut between characters.
BOOL ConsoleEnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
int WholeCharacterGetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
#define EnumWindows ConsoleEnumWindows
#define GetWindowTextA WholeCharacterGetWindowTextA

#else

#include <cstdarg>
#include <cstdint>

// An opaque handle, as on Windows: backends keep their own identifier in its bits.
struct OpaqueWindow;
typedef OpaqueWindow* HWND;
typedef int BOOL;
typedef long LONG;
typedef std::uint32_t DWORD;
typedef std::intptr_t LPARAM;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LRESULT;
typedef std::uintptr_t DWORD_PTR;
typedef unsigned int UINT;

struct RECT {
    LONG left, top, right, bottom;
};

#define CALLBACK
#define TRUE 1
#define FALSE 0
#define HWND_TOP (static_cast<HWND>(nullptr))
#define SWP_NOSIZE 0x0001U
#define WM_NULL 0x0000U
#define SMTO_ABORTIFHUNG 0x0002U
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200U
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000U

// The reasons a call fails, as GetLastError gives them.
#define ERROR_ACCESS_DENIED 5U // the window manager or compositor did not do what was asked
#define ERROR_INVALID_DATA 13U // its answer could not be read
#define ERROR_BROKEN_PIPE 109U // it closed the connection
#define ERROR_NOT_SUPPORTED 50U // it does not offer what the backend needs, or what the move asks
#define ERROR_INVALID_WINDOW_HANDLE 1400U // the window has gone
#define ERROR_TIMEOUT 1460U // the window manager or compositor did not answer in time

struct POINT {
    LONG x, y;
};

// A monitor, as the desktop lays them out: backends keep their own identifier in its bits.
struct OpaqueMonitor;
typedef OpaqueMonitor* HMONITOR;
#define CCHDEVICENAME 32
struct MONITORINFO {
    DWORD cbSize;
    RECT rcMonitor, rcWork; // the monitor's area of the desktop, and what the desktop leaves free
    DWORD dwFlags;
};
struct MONITORINFOEXA : MONITORINFO {
    char szDevice[CCHDEVICENAME]; // the monitor's name, such as "DP-1"
};
#define MONITOR_DEFAULTTONULL 0x00000000U
#define MONITOR_DEFAULTTOPRIMARY 0x00000001U
#define MONITOR_DEFAULTTONEAREST 0x00000002U
#define MONITORINFOF_PRIMARY 0x00000001U

typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);

// Standard output, and whether it is a terminal (a console, on Windows): titles written there are
// shown, never obeyed.
typedef void* HANDLE;
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define CP_UTF8 65001U
HANDLE GetStdHandle(DWORD nStdHandle);
// TRUE when the handle is a terminal.
BOOL GetConsoleMode(HANDLE hConsoleHandle, DWORD* lpMode);
// The code page titles come in: UTF-8 here, as every backend gives them.
UINT GetACP();
// The code page the terminal shows text in: the locale's, CP_UTF8 for UTF-8, else 28591 (ISO
// 8859-1), standing for every single-byte charset, whose bytes 0x80 to 0x9F are controls.
UINT GetConsoleOutputCP();

// Calls the callback once per top-level window, topmost first, until it returns FALSE.
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
// Leaves at most nMaxCount-1 bytes of the title in lpString, always zero-terminated
// (when nMaxCount > 0); a vanished or untitled window gives the empty string.
int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount);
// Moves the window and reports whether it is now where it was asked to be: FALSE, with the reason
// in GetLastError, when it is not.
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
// Where the window is as the user sees it: left and top are the outer corner of the frame the
// window manager draws around it (or of the window itself, undecorated); the width and height are
// those of the window's content, what its program draws in, which a frame does not change (the
// manager may frame a window, or frame it anew, at any time).
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
// The monitor that shows the point; where none does, with MONITOR_DEFAULTTOPRIMARY the primary
// monitor (where the desktop names none, the one whose top-left corner is nearest the point).
// nullptr where the desktop tells nothing of its monitors.
HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags);
// The monitor's area and work area, in desktop coordinates; with cbSize that of MONITORINFOEXA,
// its name as well.
BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi);
// Whether the window is shown: not hidden by its program (on X11, viewable), as the last look at
// it found.
BOOL IsWindowVisible(HWND hWnd);
// Whether the desktop keeps the window maximised (both ways), as the last look at it found.
BOOL IsZoomed(HWND hWnd);
// The Desktop Window Manager's attributes; on Linux no desktop cloaks a window (one on another
// workspace is brought into view by the move, or the move says it was not), so E_NOTIMPL.
typedef long HRESULT;
#define S_OK 0L
#define E_NOTIMPL static_cast<HRESULT>(0x80004001L)
#define DWMWA_CLOAKED 14U
HRESULT DwmGetWindowAttribute(HWND hwnd, DWORD dwAttribute, void* pvAttribute, DWORD cbAttribute);
// Moves go through the window manager or compositor, never through the window's own program, so
// a program that does not respond cannot hold one up: the call answers at once.
LRESULT SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            DWORD_PTR* lpdwResult);
DWORD GetLastError();
// With FORMAT_MESSAGE_FROM_SYSTEM, the text of an error: for the last one that was set, the
// backend's own account of what happened; it is cut to fit nSize bytes. Returns its length.
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId, char* lpBuffer,
                     DWORD nSize, va_list* Arguments);

#endif
