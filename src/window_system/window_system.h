// The three window-system calls the program makes, behind one header.
// On Windows they are user32's own. Elsewhere this header declares the same names and shapes,
// and the build links exactly one backend that defines them (X11, or the tests' scripted desktop).
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else

#include <cstdint>

// An opaque handle, as on Windows: backends keep their own identifier in its bits.
struct OpaqueWindow;
typedef OpaqueWindow* HWND;
typedef int BOOL;
typedef std::intptr_t LPARAM;
typedef unsigned int UINT;

#define CALLBACK
#define TRUE 1
#define FALSE 0
#define HWND_TOP (static_cast<HWND>(nullptr))
#define SWP_NOSIZE 0x0001U

typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);

// Calls the callback once per top-level window, topmost first, until it returns FALSE.
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
// Leaves at most nMaxCount-1 bytes of the title in lpString, always zero-terminated
// (when nMaxCount > 0); a vanished or untitled window gives the empty string.
int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);

#endif
