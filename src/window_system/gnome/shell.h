// What the parts of the GNOME backend share: the session bus and topleft's GNOME Shell extension
// on it (extension/), which sees every window Mutter manages, native and XWayland alike.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "window_system/monitors.h"
#include "window_system/window_system.h"

namespace gnome {

using Clock = std::chrono::steady_clock;

struct Window {
    std::uint64_t id = 0; // Mutter's, which is also the handle
    std::string title;
    int x = 0, y = 0, width = 0, height = 0; // the frame
    bool minimised = false, focused = false, maximised = false; // maximised: both ways
    bool shown = false; // on the workspace in view, not minimised
    int layer = 0; // Mutter's
    std::uint64_t dialogOf = 0; // the window it is a dialog of, 0 for none
    int application = 0; // its program's process, 0 where unknown
    bool applicationDialog = false; // a dialog of its whole application
};

struct Desk {
    std::vector<Window> windows; // topmost first
    std::vector<Monitor> monitors;
    const Window* Find(std::uint64_t id) const;
    // The first window above this one that the user could see over it (stacking.h); nullptr for
    // none.
    const Window* Covering(const Window& window) const;
};

// The last listing, and when it was read: a question asked again at once is answered from it.
extern Desk Last;
extern Clock::time_point LastRead;

// Lists the windows and monitors into Last; FALSE when the extension did not answer, or answers
// in another form (an extension of another version, loaded until the next login).
BOOL List();
// The listing read a moment ago, or read anew; nullptr when the extension did not answer.
const Desk* Recent();

// Asks the extension to move the window's frame to (x, y), show, raise and focus it; what it
// became, or nothing with the reason in the last error (the window gone, no answer). The window
// and those above it, as the move left them, are the listing from then on.
std::optional<Window> Move(std::uint64_t id, int x, int y);

inline HWND HandleOf(std::uint64_t id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }
inline std::uint64_t IdOf(HWND handle) { return reinterpret_cast<std::uintptr_t>(handle); }

} // namespace gnome
