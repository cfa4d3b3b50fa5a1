// The monitors of a Linux desktop, as each backend reads them, behind MonitorFromPoint and
// GetMonitorInfoA: one rule for choosing a monitor, whichever desktop told us about them.
#pragma once

#include <string>
#include <vector>

#include "window_system/window_system.h"

struct Monitor {
    std::string name;
    RECT area; // in desktop coordinates
    RECT work; // what the desktop leaves free of its panels; the area where it tells nothing
    bool primary = false;
};

// MonitorFromPoint's rule over these monitors: the one that shows the point; else, with
// MONITOR_DEFAULTTOPRIMARY, the primary one, or where none is named the one whose top-left corner
// is nearest the point; with MONITOR_DEFAULTTONEAREST, the nearest. nullptr for none.
HMONITOR ChooseMonitor(const std::vector<Monitor>& monitors, POINT point, DWORD flags);

// GetMonitorInfoA's answer for a handle ChooseMonitor gave over the same monitors.
BOOL DescribeMonitor(const std::vector<Monitor>& monitors, HMONITOR handle, MONITORINFO* info);
