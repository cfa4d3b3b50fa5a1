// The sway backend's monitors: its active outputs, where each lies in the layout, and the space
// its bars leave free there: the rectangle of the workspace it shows. All of it comes with the
// tree, so the look before a move reads it with the window.
#include "window_system/monitors.h"
#include "window_system/backends.h"
#include "window_system/sway/tree.h"

namespace sway {

namespace {

// A tree sway does not answer with has no monitors: the corner is then the layout's (0, 0).
const std::vector<Monitor>& Outputs()
{
    static const std::vector<Monitor> none;
    const Tree* tree = RecentTree();
    return tree ? tree->monitors : none;
}

} // namespace

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) { return ChooseMonitor(Outputs(), pt, dwFlags); }

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi) { return DescribeMonitor(Outputs(), hMonitor, lpmi); }

} // namespace sway
