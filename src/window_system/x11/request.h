// How the move is asked for, in one of four ways: with no manager, a configure of the frame
// itself; under an EWMH manager, _NET_MOVERESIZE_WINDOW with the client's size; without EWMH, an
// ICCCM configure request whose position is computed from the window's gravity; under i3, its own
// commands. Then the activation and, from the second round, the restacking.
#pragma once

#include <optional>
#include <string>

#include "window_system/i3/ipc.h"
#include "window_system/x11/look.h"

namespace x11 {

// What the move must achieve.
struct Target {
    int left, top; // the corner the user sees
    int width, height; // the client's size
    bool raise;
    bool viewable; // a window the manager had taken on must be seen afterwards
    bool active;
    bool place = true; // false for a window that stays where it is, only raised
};

enum class Way {
    Direct, // no manager: configure the frame ourselves
    Ewmh, // _NET_MOVERESIZE_WINDOW and _NET_ACTIVE_WINDOW
    Icccm, // a configure request the manager reads with the window's gravity
    I3, // i3's own commands, through its IPC socket
};

// What the manager added to the last request, taken back from the next one.
struct Correction {
    int x = 0, y = 0, width = 0, height = 0;
};

// Asks for the move of the client to the target in the given way, as round `round` (0 the first):
// the place and size, then the activation and, once a round has left the window under others, a
// restack. Returns the desktop's refusal in the words of the message, or the empty text.
std::string Ask(Display& x, Way way, int round, xcb_window_t client, const Desktop& desktop, const Seen& seen,
                const Target& target, const Correction& correct, i3ipc::Connection* i3);

} // namespace x11
