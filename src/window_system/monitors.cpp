// Choosing a monitor the way MonitorFromPoint does, over the monitors a backend read.
#include "window_system/monitors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

bool Shows(const RECT& area, POINT point)
{
    return point.x >= area.left && point.x < area.right && point.y >= area.top && point.y < area.bottom;
}

// How far a point is from a rectangle's top-left corner, squared.
std::int64_t CornerDistance(const RECT& area, POINT point)
{
    const std::int64_t dx = area.left - point.x, dy = area.top - point.y;
    return dx * dx + dy * dy;
}

// How far a point is from the nearest point of a rectangle, squared.
std::int64_t AreaDistance(const RECT& area, POINT point)
{
    const std::int64_t dx = point.x < area.left ? area.left - point.x
        : point.x >= area.right                 ? point.x - area.right + 1
                                                : 0;
    const std::int64_t dy = point.y < area.top ? area.top - point.y
        : point.y >= area.bottom               ? point.y - area.bottom + 1
                                               : 0;
    return dx * dx + dy * dy;
}

HMONITOR HandleOf(std::size_t index) { return reinterpret_cast<HMONITOR>(static_cast<std::uintptr_t>(index + 1)); }

template <typename Distance> HMONITOR Nearest(const std::vector<Monitor>& monitors, POINT point, Distance distance)
{
    std::size_t best = monitors.size();
    std::int64_t bestDistance = std::numeric_limits<std::int64_t>::max();
    for (std::size_t i = 0; i < monitors.size(); ++i)
        if (const std::int64_t d = distance(monitors[i].area, point); d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    return best < monitors.size() ? HandleOf(best) : nullptr;
}

} // namespace

HMONITOR ChooseMonitor(const std::vector<Monitor>& monitors, POINT point, DWORD flags)
{
    for (std::size_t i = 0; i < monitors.size(); ++i)
        if (Shows(monitors[i].area, point))
            return HandleOf(i);
    if (flags == MONITOR_DEFAULTTOPRIMARY) {
        for (std::size_t i = 0; i < monitors.size(); ++i)
            if (monitors[i].primary)
                return HandleOf(i);
        return Nearest(monitors, point, CornerDistance);
    }
    if (flags == MONITOR_DEFAULTTONEAREST)
        return Nearest(monitors, point, AreaDistance);
    return nullptr;
}

BOOL DescribeMonitor(const std::vector<Monitor>& monitors, HMONITOR handle, MONITORINFO* info)
{
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    if (index < 1 || index > monitors.size() || !info || info->cbSize < sizeof(MONITORINFO))
        return FALSE;
    const Monitor& monitor = monitors[index - 1];
    info->rcMonitor = monitor.area;
    info->rcWork = monitor.work;
    info->dwFlags = monitor.primary ? MONITORINFOF_PRIMARY : 0;
    if (info->cbSize >= sizeof(MONITORINFOEXA)) {
        char* name = static_cast<MONITORINFOEXA*>(info)->szDevice;
        const std::size_t length = std::min(monitor.name.size(), static_cast<std::size_t>(CCHDEVICENAME - 1));
        std::memcpy(name, monitor.name.data(), length);
        name[length] = '\0';
    }
    return TRUE;
}
