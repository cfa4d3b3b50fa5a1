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
    std::optional<std::string> shown = Ipc->Ask(i3ipc::GetWorkspaces, "", AnswerMs);
    if (!shown)
        return *Outputs;
    shown->reserve(shown->size() + simdjson::SIMDJSON_PADDING);
    simdjson::dom::array workspaces;
    if (parser.parse(*shown).get_array().get(workspaces))
        return *Outputs;
    for (const simdjson::dom::element workspace : workspaces) {
        bool visible = false;
        std::string_view output;
        if (workspace["visible"].get_bool().get(visible) || !visible || workspace["output"].get_string().get(output))
            continue;
        const Box rect = BoxOf(workspace, "rect");
        for (Monitor& monitor : *Outputs)
            if (monitor.name == output && rect.width > 0 && rect.height > 0)
                monitor.work = {rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
    }
    return *Outputs;
}

} // namespace

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) { return ChooseMonitor(ReadOutputs(), pt, dwFlags); }

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi) { return DescribeMonitor(ReadOutputs(), hMonitor, lpmi); }

} // namespace sway
