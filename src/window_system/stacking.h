// Whether a window stacked above the moved one keeps the user from seeing it there: one rule for
// every desktop, fed with the facts each backend reads from its own. A window counts only where
// the user could see it over the moved one: the desktop shows it now, keeps it in the moved
// window's layer or below by its own rules, it is not of the moved window's own family, and its
// frame overlaps the moved window's.
#pragma once

#include <cstddef>
#include <vector>

#include "window_system/window_system.h"

// Layers for desktops that number none of their own (X11's window types and states, Windows),
// lowest first. KWin and Mutter give their own numbers, which order the same way.
enum : int {
    BelowLayer = 1, // asked to stay below the others
    NormalLayer = 2,
    AboveLayer = 4, // keep-above, always on top
    PanelLayer = 5, // docks and panels, the manager's own windows
    OverlayLayer = 7, // notifications, on-screen displays, menus, tooltips
};

// A window stacked above the moved one, as its desktop tells.
struct StackedWindow {
    RECT frame; // its outer frame, as the user sees it
    bool shown; // the desktop shows it now: mapped, not minimised, on the workspace shown
    int layer; // the layer the desktop keeps it in
    bool family; // a dialog of the moved window, a dialog of such a dialog, or its application's
};

// The first of the windows above the moved one (topmost first) that the user could see over it,
// given the moved window's frame and layer: its index, or above.size() where there is none.
std::size_t FirstCovering(const RECT& frame, int layer, const std::vector<StackedWindow>& above);
