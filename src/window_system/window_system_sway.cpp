// The sway backend: the window-system calls over sway's IPC (the i3 IPC protocol), which sees
// every window of a sway session, native Wayland and XWayland alike. A handle carries sway's
// container id. The listing is one GET_TREE; the move is a RUN_COMMAND, verified by reading the
// tree again as sway's window events come, within one time bound.
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "window_system/backends.h"
#include "window_system/i3_ipc.h"
#include "window_system/last_error.h"
#include "window_system/title.h"

namespace sway {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int AnswerMs = 2000; // for any one answer of sway's
// How long sway may take to carry a move out, in all, and how many times it is asked.
constexpr milliseconds Patience{1500};
constexpr int Rounds = 3;

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

// A window of the tree: a container with a view in it.
struct View {
    std::int64_t id = 0;
    std::string title;
    bool floating = false, focused = false, visible = false, hidden = false; // hidden: in the scratchpad
    bool topmost = false; // the last, so the highest, of its workspace's floating windows
    Box rect, content, title_bar;

    // What one sees of it, title bar and border included.
    Box Outer() const { return {rect.x, rect.y - title_bar.height, rect.width, rect.height + title_bar.height}; }
};

struct Tree {
    std::vector<View> views; // topmost first
    const View* Find(std::int64_t id) const
    {
        const auto found = std::find_if(views.begin(), views.end(), [id](const View& v) { return v.id == id; });
        return found == views.end() ? nullptr : &*found;
    }
};

std::optional<i3ipc::Connection> Ipc;
std::string SocketPath;
// The tree last read, and when: the listing's titles come from it, and a question asked again
// at once is answered from it.
Tree Last;
Clock::time_point LastRead;
constexpr milliseconds Fresh{100};

std::int64_t IdOf(HWND handle) { return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(handle)); }
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

Box BoxOf(simdjson::dom::element node, const char* key)
{
    simdjson::dom::element box;
    if (node[key].get(box))
        return {};
    return {static_cast<int>(Int(box, "x")), static_cast<int>(Int(box, "y")), static_cast<int>(Int(box, "width")),
            static_cast<int>(Int(box, "height"))};
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

void Collect(simdjson::dom::element node, bool floating, bool hidden, std::vector<View>& views)
{
    // A view's container names its shell (xdg_shell or xwayland); a container of containers does not.
    if (!node["shell"].error()) {
        View view;
        view.id = Int(node, "id");
        std::string_view name;
        if (!node["name"].get_string().get(name))
            view.title.assign(name);
        view.floating = floating;
        view.hidden = hidden;
        view.focused = Flag(node, "focused");
        view.visible = Flag(node, "visible");
        view.rect = BoxOf(node, "rect");
        view.content = BoxOf(node, "window_rect");
        view.title_bar = BoxOf(node, "deco_rect");
        views.push_back(std::move(view));
        return;
    }
    for (const simdjson::dom::element child : ByFocus(node, Children(node, "nodes")))
        Collect(child, floating, hidden, views);
}

// A workspace's windows: the floating ones from the top down (sway draws the later ones above),
// then the tiled ones, which nothing stacks, in the order they last had the focus.
void CollectWorkspace(simdjson::dom::element workspace, bool hidden, std::vector<View>& views)
{
    std::vector<simdjson::dom::element> floating = Children(workspace, "floating_nodes");
    for (auto node = floating.rbegin(); node != floating.rend(); ++node) {
        const std::size_t first = views.size();
        Collect(*node, true, hidden, views);
        if (node == floating.rbegin())
            for (std::size_t i = first; i < views.size(); ++i)
                views[i].topmost = true;
    }
    for (const simdjson::dom::element child : ByFocus(workspace, Children(workspace, "nodes")))
        Collect(child, false, hidden, views);
}

// Reads the tree, windows topmost first: first the workspace on show on each output (the focused
// output first), then the other workspaces (outputs and their workspaces in the order they last
// had the focus), then the scratchpad's hidden windows.
std::optional<Tree> ReadTree()
{
    std::optional<std::string> reply = Ipc->Ask(i3ipc::GetTree, "", AnswerMs);
    if (!reply)
        return std::nullopt;
    reply->reserve(reply->size() + simdjson::SIMDJSON_PADDING);
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(*reply).get(root))
        return std::nullopt;

    Tree tree;
    std::vector<simdjson::dom::element> scratchpads, shown, others;
    for (const simdjson::dom::element output : ByFocus(root, Children(root, "nodes"))) {
        std::string_view name;
        const bool internal = !output["name"].get_string().get(name) && name == "__i3";
        std::vector<simdjson::dom::element> workspaces = ByFocus(output, Children(output, "nodes"));
        for (std::size_t i = 0; i < workspaces.size(); ++i)
            (internal ? scratchpads : i == 0 ? shown : others).push_back(workspaces[i]);
    }
    for (const simdjson::dom::element workspace : shown)
        CollectWorkspace(workspace, false, tree.views);
    for (const simdjson::dom::element workspace : others)
        CollectWorkspace(workspace, false, tree.views);
    for (const simdjson::dom::element workspace : scratchpads)
        CollectWorkspace(workspace, true, tree.views);
    Last = tree;
    LastRead = Clock::now();
    return tree;
}

// The tree read a moment ago, or read anew.
std::optional<Tree> RecentTree()
{
    if (Clock::now() - LastRead < Fresh)
        return Last;
    return ReadTree();
}

struct Target {
    int left, top, width, height; // the outer corner, the content's size
};

bool Reached(const View& view, const Target& target)
{
    const Box outer = view.Outer();
    return view.floating && !view.hidden && view.visible && view.focused && view.topmost && outer.x == target.left &&
        outer.y == target.top && view.content.width == target.width && view.content.height == target.height;
}

// What is off, in the words of the message.
std::string Account(const View& view, const Target& target)
{
    const Box outer = view.Outer();
    if (view.hidden || !view.visible)
        return "sway kept it out of sight";
    if (!view.floating)
        return "sway kept it tiled";
    if (outer.x != target.left || outer.y != target.top)
        return "sway kept it at (" + std::to_string(outer.x) + ", " + std::to_string(outer.y) + ")";
    if (view.content.width != target.width || view.content.height != target.height)
        return "sway made it " + std::to_string(view.content.width) + "x" + std::to_string(view.content.height) +
            " instead of " + std::to_string(target.width) + "x" + std::to_string(target.height);
    if (!view.focused)
        return "sway did not focus it";
    return "sway kept another window above it";
}

} // namespace

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
    const std::optional<Tree> tree = ReadTree();
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

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    // Right after a move this is the tree that verified it.
    const std::optional<Tree> tree = RecentTree();
    if (!tree)
        return Fail(ERROR_TIMEOUT, "sway did not answer");
    const View* view = tree->Find(IdOf(hWnd));
    if (!view)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const Box outer = view->Outer();
    *lpRect = {outer.x, outer.y, outer.x + view->content.width, outer.y + view->content.height};
    return TRUE;
}

BOOL SetWindowPos(HWND hWnd, HWND /*hWndInsertAfter*/, int X, int Y, int cx, int cy, UINT uFlags)
{
    const std::int64_t id = IdOf(hWnd);
    std::optional<Tree> tree = RecentTree();
    if (!tree)
        return Fail(ERROR_TIMEOUT, "sway did not answer");
    const View* found = tree->Find(id);
    if (!found)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    View view = *found;
    // A tiled window keeps the size it had in its tile, where sway would give it its own.
    const Target target{X, Y, (uFlags & SWP_NOSIZE) ? view.content.width : cx,
                        (uFlags & SWP_NOSIZE) ? view.content.height : cy};

    // Sway's window events say when to look again; a second connection carries them.
    std::optional<i3ipc::Connection> events = i3ipc::Connection::Open(SocketPath);
    if (events && !events->Ask(i3ipc::Subscribe, R"(["window"])", AnswerMs))
        events.reset();

    const Clock::time_point deadline = Clock::now() + Patience;
    for (int round = 0; round < Rounds; ++round) {
        // Sway sizes and places a floating window by its outer box, title bar and border included;
        // what these add is read off the window as it is, tiled or floating (sway may frame a
        // floating window otherwise: the next round asks with what it did).
        const Box outer = view.Outer();
        const int extraWidth = outer.width - view.content.width, extraHeight = outer.height - view.content.height;
        // Focused first, so that its workspace is the one on show where it is placed: sway puts a
        // window placed on an output onto the workspace shown there.
        std::string command = "[con_id=" + std::to_string(id) + "] ";
        command += view.hidden ? "scratchpad show, " : "focus, ";
        command += "floating enable, resize set " + std::to_string(target.width + extraWidth) + " px " +
            std::to_string(target.height + extraHeight) + " px, move absolute position " + std::to_string(target.left) +
            " px " + std::to_string(target.top) + " px";
        const std::optional<std::string> reply = Ipc->Ask(i3ipc::RunCommand, command, AnswerMs);
        if (!reply)
            return Fail(ERROR_TIMEOUT, "sway did not answer");
        if (const std::string error = i3ipc::CommandError(*reply); !error.empty()) {
            if (!ReadTree() || !Last.Find(id))
                return Fail(ERROR_INVALID_WINDOW_HANDLE);
            return Fail(ERROR_ACCESS_DENIED, "sway refused: " + error);
        }

        // Sway carries a change out once the window's program has drawn it anew: read the tree
        // as its events come, and now and then when none does.
        for (int wait = 5;; wait = std::min(wait * 2, 160)) {
            tree = ReadTree();
            if (!tree)
                return Fail(ERROR_TIMEOUT, "sway did not answer");
            found = tree->Find(id);
            if (!found)
                return Fail(ERROR_INVALID_WINDOW_HANDLE);
            view = *found;
            if (Reached(view, target))
                return TRUE;
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || wait >= 160)
                break;
            if (events)
                events->Receive(static_cast<int>(std::min<long long>(wait, left)));
        }
        if (Clock::now() >= deadline)
            break;
    }
    return Fail(ERROR_ACCESS_DENIED, Account(view, target));
}

} // namespace sway
