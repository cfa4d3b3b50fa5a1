// What the parts of the X11 backend share: the one connection with its atoms, the handle
// conversion and the search for the client window inside a frame.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "window_system/backends.h"
#include "window_system/monitors.h"
#include "window_system/title.h"

namespace x11 {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename Reply> using Owned = std::unique_ptr<Reply, FreeDeleter>;

struct Display {
    xcb_connection_t* connection = nullptr;
    int screenNumber = 0;
    xcb_screen_t* screen = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_ewmh_connection_t ewmh{};
    xcb_atom_t wmState = XCB_NONE;
    xcb_atom_t gtkFrameExtents = XCB_NONE;
    xcb_atom_t i3SocketPath = XCB_NONE;
    xcb_atom_t staysOnTop = XCB_NONE;
    xcb_atom_t takeFocus = XCB_NONE;
    TitleAtoms titleAtoms{};
    // The window through which the manager announced itself when the listing was made
    // (_NET_SUPPORTING_WM_CHECK): the move asks it, with the rest, whether it is still there.
    xcb_window_t wmCheck = XCB_NONE;

    ~Display();
};

// The connection Connect opened.
Display& X();

// A stretch of waiting for the X server, which the watchdog bounds (watchdog.cpp): a server that
// gives no answer for a few seconds has its connection shut, and every wait on it ends at once.
struct Waiting {
    Waiting();
    ~Waiting();
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;
};
// An answer was read: the server is alive. Called as each reply of a batch is read, where a
// batch of thousands may take longer than the bound over a slow link.
void Answered();
// The connection the watchdog shuts when the server stops answering.
void Watched(xcb_connection_t* connection);
// Whether the server stopped answering (or the connection broke): nothing more will come of it.
bool Silent(Display& x);

inline HWND HandleOf(xcb_window_t window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }
inline xcb_window_t WindowOf(HWND handle)
{
    return static_cast<xcb_window_t>(reinterpret_cast<std::uintptr_t>(handle));
}

// Whether a window manager runs: it holds SubstructureRedirect on the root, as the reply to
// xcb_get_window_attributes of the root tells.
bool ManagerRunning(Display& x, xcb_get_window_attributes_cookie_t rootAttributes);

// Whether the window manager that announced itself on the root is running: the check window the
// root names (_NET_SUPPORTING_WM_CHECK) names itself, where one that has gone leaves a name that
// no longer does. Asked in a batch: the check window the listing met at once, another only once
// the root has named it.
struct ManagerCheck {
    xcb_get_property_cookie_t root, known;
};
ManagerCheck AskManagerCheck(Display& x);
bool ManagerAlive(Display& x, const ManagerCheck& asked);

// For each top-level window (a child of the root) the client window a window manager took on in
// it: one it lists as managed, or the first window carrying WM_STATE, the top-level window itself
// first; XCB_NONE where there is none (the manager's own windows, or windows nobody manages).
std::vector<xcb_window_t> ManagedClients(Display& x, const std::vector<xcb_window_t>& topLevel,
                                         const std::vector<xcb_window_t>& managed);

// Sends the request for the monitors' layout, to be read when a move asks for it; again where the
// replies already there are more than a moment old.
void AskForMonitors(Display& x);

// The root's child that contains the window: its frame under a reparenting window manager;
// XCB_NONE once the window has gone.
xcb_window_t TopLevelOf(Display& x, xcb_window_t window);

} // namespace x11
