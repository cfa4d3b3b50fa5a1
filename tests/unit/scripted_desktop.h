// A scripted desktop linked in place of the window system: a working model of windows with
// titles, positions, sizes and a stacking order, which records every SetWindowPos call and
// applies it, so a test can check both what was asked and where the window ended up. It also
// answers the user32 and DWM calls the Windows frame makes (win32/frame.h): the visible frame
// inside a window's rectangle, minimised, maximised and topmost windows, the Z-order.
#pragma once

#include <string>
#include <vector>

#include "window_system/monitors.h"
#include "window_system/win32/frame.h"

// What a window does when it is asked to move: what real programs and window managers do.
enum class Response {
    Obeys,
    Refuses, // SetWindowPos fails with the reason ERROR_ACCESS_DENIED
    Shifts, // SetWindowPos succeeds, but the window lands 12 pixels right and 40 down
    Grows, // SetWindowPos succeeds, but the window grows 20 pixels taller
    StopsAnswering, // the program takes no messages: SendMessageTimeoutA times out
    StaysUnder, // SetWindowPos succeeds, but the window that was on top goes back above it
};

struct ScriptedWindow {
    HWND handle;
    std::string title; // bytes as the window system would deliver them
    int x, y, width, height;
    Response response = Response::Obeys;
    RECT frameInset{0, 0, 0, 0}; // how far inside the rectangle the visible frame lies, at 100%
    bool visible = true, minimised = false, maximised = false, topmost = false;
    bool cloaked = false; // on another virtual desktop, or a suspended app's frame
    HWND owner = nullptr;
    RECT restored{}; // while minimised or maximised: the rectangle it is restored to
};

struct SetWindowPosCall {
    HWND window, insertAfter;
    int x, y, cx, cy;
    UINT flags;
};

namespace ScriptedDesktop {

void Reset();
// Opens a window below every other one, so windows enumerate in the order they were opened.
HWND Open(std::string title, int x = 100, int y = 50, int width = 300, int height = 200);
// Closes a window: its handle stays a valid value that names nothing.
void Close(HWND window);
void SetResponse(HWND window, Response response);
// Closes the window when it is next asked to move, as a window may close at any moment.
void CloseOnMove(HWND window);
// Calls this function from inside the next enumeration, after the callback has seen `index`
// windows, to change the desktop while it is being walked.
void DuringEnumeration(int index, void (*change)());

// Whether the DWM reports frames; the monitors (one of 1280x1024 at (0, 0) to begin with), and
// the first one's work area.
void SetFrameBounds(bool reported);
void SetMonitors(std::vector<Monitor> monitors);
void SetWorkArea(RECT workArea);
// How far inside its rectangle a window's visible frame lies at 100%: on a monitor of another
// scale, as far again as that scale makes it.
void SetFrameInset(HWND window, RECT inset);
void SetMonitorScale(std::size_t monitor, int percent);
// GetWindowPlacement answers with the current rectangle, as Wine does for another program's window.
void KeepPlacements();
void Minimise(HWND window); // as Windows does: the rectangle goes to (-32000, -32000), 160x28
void Maximise(HWND window); // its visible frame fills the work area
void Hide(HWND window);
void Cloak(HWND window);
void SetTopmost(HWND window); // above every other window from now on
void SetTerminal(bool terminal); // whether standard output is a terminal (not to begin with)
void SetOwner(HWND window, HWND owner);

const ScriptedWindow* Find(HWND window);
std::vector<HWND> StackingOrder(); // topmost first
const std::vector<SetWindowPosCall>& Calls();

} // namespace ScriptedDesktop
