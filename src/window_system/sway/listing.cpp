// The sway backend: the window-system calls over sway's IPC (the i3 IPC protocol), which sees
// every window of a sway session, native Wayland and XWayland alike. A handle carries sway's
// container id. This part connects and lists (one GET_TREE); move.cpp moves.
#include <simdjson.h>

#include <algorithm>

#include "window_system/backends.h"
#include "window_system/last_error.h"
#include "window_system/sway/tree.h"
#include "window_system/title.h"

namespace sway {

std::optional<i3ipc::Connection> Ipc;
std::string SocketPath;
Tree Last;

namespace {

using std::chrono::milliseconds;

// When the tree was last read: a question asked again at once is answered from it.
Clock::time_point LastRead;
constexpr milliseconds Fresh{100};

HWND HandleOf(std::int64_t id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }

std::int64_t Int(simdjson::dom::element node, const char* key)
{
    std::int64_t value = 0;
    return node[key].get_int64().get(value) ? 0 : value;
}

bool Flag(simdjson::dom::element node, const char* key)
{
    bool value = false;
    return !node[key].get_bool().get(value) && value;
}

std::vector<simdjson::dom::element> Children(simdjson::dom::element node, const char* key)
{
    std::vector<simdjson::dom::element> children;
    simdjson::dom::array array;
    if (!node[key].get_array().get(array))
        for (const simdjson::dom::element child : array)
            children.push_back(child);
    return children;
}

// The children in the order they last had the focus, most recent first; those never focused
// follow in the tree's order. Sway keeps this order for every container ("focus").
std::vector<simdjson::dom::element> ByFocus(simdjson::dom::element node, std::vector<simdjson::dom::element> children)
{
    std::vector<simdjson::dom::element> ordered;
    for (const simdjson::dom::element id : Children(node, "focus")) {
        std::int64_t wanted = 0;
        if (id.get_int64().get(wanted))
            continue;
        const auto found = std::find_if(children.begin(), children.end(),
                                        [&](simdjson::dom::element c) { return Int(c, "id") == wanted; });
        if (found != children.end()) {
            ordered.push_back(*found);
            children.erase(found);
        }
    }
    ordered.insert(ordered.end(), children.begin(), children.end());
    return ordered;
}

// Where a workspace's windows are: its number as the tree is read, its output's place among the
// outputs, and whether they are in the scratchpad.
struct Place {
    int workspace, output;
    bool hidden;
};

void Collect(simdjson::dom::element node, const Place& place, int stacked, std::vector<View>& views)
{
    // A view's container names its shell (xdg_shell or xwayland); a container of containers does not.
    if (!node["shell"].error()) {
        View view;
        view.id = Int(node, "id");
        std::string_view name;
        if (!node["name"].get_string().get(name))
            view.title.assign(name);
        view.floating = stacked > 0;
        view.workspace = place.workspace;
        view.output = place.output;
        view.stacked = stacked;
        view.window = Int(node, "window");
        simdjson::dom::element properties;
        if (!node["window_properties"].get(properties))
            view.transientFor = Int(properties, "transient_for");
        view.hidden = place.hidden;
        view.focused = Flag(node, "focused");
        view.visible = Flag(node, "visible");
        view.rect = BoxOf(node, "rect");
        view.content = BoxOf(node, "window_rect");
        view.title_bar = BoxOf(node, "deco_rect");
        views.push_back(std::move(view));
        return;
    }
    for (const simdjson::dom::element child : ByFocus(node, Children(node, "nodes")))
        Collect(child, place, stacked, views);
}

// A workspace's windows: the floating ones from the top down (sway draws the later ones above),
// then the tiled ones, which nothing stacks, in the order they last had the focus.
void CollectWorkspace(simdjson::dom::element workspace, const Place& place, std::vector<View>& views)
{
    std::vector<simdjson::dom::element> floating = Children(workspace, "floating_nodes");
    for (auto node = floating.rbegin(); node != floating.rend(); ++node)
        Collect(*node, place, static_cast<int>(floating.rend() - node), views);
    for (const simdjson::dom::element child : ByFocus(workspace, Children(workspace, "nodes")))
        Collect(child, place, 0, views);
}

} // namespace

Box BoxOf(simdjson::dom::element node, const char* key)
{
    simdjson::dom::element box;
    if (node[key].get(box))
        return {};
    return {static_cast<int>(Int(box, "x")), static_cast<int>(Int(box, "y")), static_cast<int>(Int(box, "width")),
            static_cast<int>(Int(box, "height"))};
}

// Reads the tree, windows topmost first: first the workspace on show on each output (the focused
// output first), then the other workspaces (outputs and their workspaces in the order they last
// had the focus), then the scratchpad's hidden windows.
const Tree* ReadTree()
{
    std::optional<std::string> reply = Ipc->Ask(i3ipc::GetTree, "", AnswerMs);
    if (!reply) {
        Fail(ERROR_TIMEOUT, "sway did not answer");
        return nullptr;
    }
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(*reply).get(root)) {
        Fail(ERROR_INVALID_DATA, "sway's answer could not be read");
        return nullptr;
    }

    Tree tree;
    // Each output's place in the tree, the order sway draws their floating windows in.
    const std::vector<simdjson::dom::element> outputs = Children(root, "nodes");
    const auto placeOf = [&](simdjson::dom::element output) {
        return static_cast<int>(
            std::find_if(outputs.begin(), outputs.end(),
                         [&](simdjson::dom::element o) { return Int(o, "id") == Int(output, "id"); }) -
            outputs.begin());
    };
    std::vector<std::pair<simdjson::dom::element, int>> scratchpads, shown, others;
    for (const simdjson::dom::element output : ByFocus(root, outputs)) {
        std::string_view name, current;
        const bool internal = !output["name"].get_string().get(name) && name == "__i3";
        std::vector<simdjson::dom::element> workspaces = ByFocus(output, Children(output, "nodes"));
        for (std::size_t i = 0; i < workspaces.size(); ++i)
            (internal ? scratchpads : i == 0 ? shown : others).emplace_back(workspaces[i], placeOf(output));
        if (internal || !Flag(output, "active"))
            continue;
        const Box rect = BoxOf(output, "rect");
        const RECT area{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
        Monitor monitor{std::string(name), area, area, Flag(output, "primary")};
        // An output whose workspace cannot be read is left whole.
        if (!output["current_workspace"].get_string().get(current))
            for (const simdjson::dom::element workspace : workspaces) {
                std::string_view workspaceName;
                if (!workspace["name"].get_string().get(workspaceName) && workspaceName == current) {
                    const Box free = BoxOf(workspace, "rect");
                    monitor.work = {free.x, free.y, free.x + free.width, free.y + free.height};
                }
            }
        tree.monitors.push_back(std::move(monitor));
    }
    int number = 0;
    for (const auto& [workspace, output] : shown)
        CollectWorkspace(workspace, {++number, output, false}, tree.views);
    for (const auto& [workspace, output] : others)
        CollectWorkspace(workspace, {++number, output, false}, tree.views);
    for (const auto& [workspace, output] : scratchpads)
        CollectWorkspace(workspace, {++number, output, true}, tree.views);
    Last = std::move(tree);
    LastRead = Clock::now();
    return &Last;
}

// The tree read a moment ago, or read anew.
const Tree* RecentTree()
{
    if (Clock::now() - LastRead < Fresh)
        return &Last;
    return ReadTree();
}

bool Connect(const std::string& path)
{
    Ipc = i3ipc::Connection::Open(path);
    if (!Ipc || !Ipc->Ask(i3ipc::GetVersion, "", AnswerMs))
        return false;
    SocketPath = path;
    return true;
}

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    const Tree* tree = ReadTree();
    if (!tree)
        return FALSE;
    for (const View& view : tree->views)
        if (!lpEnumFunc(HandleOf(view.id), lParam))
            break;
    return TRUE;
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    const View* view = Last.Find(IdOf(hWnd));
    if (!view && ReadTree())
        view = Last.Find(IdOf(hWnd));
    return WindowText(view ? &view->title : nullptr, lpString, nMaxCount);
}

BOOL IsWindowVisible(HWND hWnd)
{
    const Tree* tree = RecentTree();
    const View* view = tree ? tree->Find(IdOf(hWnd)) : nullptr;
    return view && view->visible && !view->hidden;
}

// sway tiles windows and maximises none.
BOOL IsZoomed(HWND /*hWnd*/) { return FALSE; }

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    // Right after a move this is the tree that verified it.
    const Tree* tree = RecentTree();
    if (!tree)
        return FALSE;
    const View* view = tree->Find(IdOf(hWnd));
    if (!view)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const Box outer = view->Outer();
    *lpRect = {outer.x, outer.y, outer.x + view->content.width, outer.y + view->content.height};
    return TRUE;
}

} // namespace sway
