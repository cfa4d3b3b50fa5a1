// The sway backend's monitors: its active outputs (GET_OUTPUTS), where each lies in the layout,
// and the space its bars leave free: the rectangle of the workspace it shows (GET_WORKSPACES).
#include "window_system/monitors.h"
#include "window_system/backends.h"
#include "window_system/sway/tree.h"

namespace sway {

namespace {

std::optional<std::vector<Monitor>> Outputs;

// An output sway does not answer about is no monitor: the corner is then the layout's (0, 0).
const std::vector<Monitor>& ReadOutputs()
{
    if (Outputs)
        return *Outputs;
    Outputs.emplace();
    std::optional<std::string> reply = Ipc->Ask(i3ipc::GetOutputs, "", AnswerMs);
    if (!reply)
        return *Outputs;
    reply->reserve(reply->size() + simdjson::SIMDJSON_PADDING);
    simdjson::dom::parser parser;
    simdjson::dom::array outputs;
    if (parser.parse(*reply).get_array().get(outputs))
        return *Outputs;
    for (const simdjson::dom::element output : outputs) {
        bool active = false, primary = false;
        if (output["active"].get_bool().get(active) || !active || output["rect"].error())
            continue;
        if (output["primary"].get_bool().get(primary))
            primary = false; // sway names none
        std::string_view name;
        if (output["name"].get_string().get(name))
            name = "";
        const Box rect = BoxOf(output, "rect");
        const RECT area{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
        Outputs->push_back({std::string(name), area, area, primary});
    }
    // A workspace answer that cannot be read leaves each output whole.
    for (const i3ipc::ShownWorkspace& shown : i3ipc::ShownWorkspaces(*Ipc, AnswerMs))
        for (Monitor& monitor : *Outputs)
            if (monitor.name == shown.output)
                monitor.work = {shown.x, shown.y, shown.x + shown.width, shown.y + shown.height};
    return *Outputs;
}

} // namespace

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) { return ChooseMonitor(ReadOutputs(), pt, dwFlags); }

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi) { return DescribeMonitor(ReadOutputs(), hMonitor, lpmi); }

} // namespace sway
