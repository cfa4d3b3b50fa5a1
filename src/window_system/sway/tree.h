// What the two parts of the sway backend share: the connection to sway's IPC and the tree of
// windows read over it, topmost first.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <simdjson.h>

#include "window_system/i3/ipc.h"
#include "window_system/monitors.h"
#include "window_system/window_system.h"

namespace sway {

using Clock = std::chrono::steady_clock;

constexpr int AnswerMs = 2000; // for any one answer of sway's

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

// A window of the tree: a container with a view in it.
struct View {
    std::int64_t id = 0;
    std::string title;
    bool floating = false, focused = false, visible = false, hidden = false; // hidden: in the scratchpad
    int workspace = 0; // the workspace it is on, as the tree is read
    int output = 0; // its output's place among the outputs: sway draws their floating windows in that order
    int stacked = 0; // the floating windows of a workspace from 1 up (sway draws the later ones above), 0 tiled
    std::int64_t window = 0, transientFor = 0; // an X11 window's id and WM_TRANSIENT_FOR; 0 for none
    Box rect, content, title_bar;

    // What one sees of it, title bar and border included.
    Box Outer() const { return {rect.x, rect.y - title_bar.height, rect.width, rect.height + title_bar.height}; }
};

struct Tree {
    std::vector<View> views; // topmost first
    // The active outputs, each with the rectangle of the workspace it shows: the output less
    // what its bars keep for themselves.
    std::vector<Monitor> monitors;
    const View* Find(std::int64_t id) const
    {
        const auto found = std::find_if(views.begin(), views.end(), [id](const View& v) { return v.id == id; });
        return found == views.end() ? nullptr : &*found;
    }
};

// The connection Connect opened, and the path of its socket (the move opens a second one for
// sway's events).
extern std::optional<i3ipc::Connection> Ipc;
extern std::string SocketPath;
// The tree last read: the listing's titles come from it.
extern Tree Last;

inline std::int64_t IdOf(HWND handle) { return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(handle)); }

// A rectangle of sway's answers ({x, y, width, height}) under `key`; empty where there is none.
Box BoxOf(simdjson::dom::element node, const char* key);

// Reads the tree, windows topmost first: first the workspace on show on each output (the focused
// output first), then the other workspaces (outputs and their workspaces in the order they last
// had the focus), then the scratchpad's hidden windows. nullptr, with the reason in the last
// error, when sway did not answer or its answer could not be read.
const Tree* ReadTree();
// The tree read a moment ago, or read anew.
const Tree* RecentTree();

} // namespace sway
