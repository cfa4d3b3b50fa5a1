// The sway backend's move: one RUN_COMMAND that focuses the window, floats it at the size it had
// and places its outer corner, verified by reading the tree again as sway's window events come,
// within one time bound; asked again, with what sway did, when it is not there. Each part of the
// command is left out where the tree shows it done already: with a thousand windows, sway takes
// tens of milliseconds over a focus or a floating enable even where nothing changes, as long as
// over a whole tree. A window found where it must be is not asked anything.
#include <algorithm>

#include "window_system/backends.h"
#include "window_system/last_error.h"
#include "window_system/stacking.h"
#include "window_system/sway/tree.h"
#include "window_system/title.h"

namespace sway {

namespace {

using std::chrono::milliseconds;

// How long sway may take to carry a move out, in all, and how many times it is asked.
constexpr milliseconds Patience{1500};
constexpr int Rounds = 3;

struct Target {
    int left, top, width, height; // the outer corner, the content's size
};

RECT FrameOf(const View& view)
{
    const Box outer = view.Outer();
    return {outer.x, outer.y, outer.x + outer.width, outer.y + outer.height};
}

// Whether sway draws the other window later than the view: its floating windows come after every
// tiled one, output by output in the tree's order, each workspace's from the bottom up.
bool DrawnLater(const View& other, const View& view)
{
    if (other.stacked == 0)
        return false;
    if (view.stacked == 0 || other.output != view.output)
        return view.stacked == 0 || other.output > view.output;
    return other.workspace == view.workspace && other.stacked > view.stacked;
}

// The first window the user could see over the view (stacking.h): the floating windows sway draws
// above it on the workspaces on show, of its output and of the others (a floating window may
// reach across the edge of its own), an X11 window's dialogs and theirs aside. nullptr for none.
const View* Covering(const Tree& tree, const View& view)
{
    std::vector<const View*> windows;
    std::vector<StackedWindow> above;
    for (const View& other : tree.views)
        if (&other != &view && other.id != view.id && DrawnLater(other, view)) {
            bool family = false;
            std::int64_t owner = other.transientFor;
            for (int depth = 0; owner != 0 && !family && depth < 8; ++depth) {
                family = owner == view.window;
                const auto up = std::find_if(tree.views.begin(), tree.views.end(),
                                             [owner](const View& v) { return v.window == owner; });
                owner = up == tree.views.end() ? 0 : up->transientFor;
            }
            windows.push_back(&other);
            above.push_back({FrameOf(other), other.visible && !other.hidden, NormalLayer, family && view.window != 0});
        }
    const std::size_t found = FirstCovering(FrameOf(view), NormalLayer, above);
    return found < windows.size() ? windows[found] : nullptr;
}

bool Reached(const Tree& tree, const View& view, const Target& target)
{
    const Box outer = view.Outer();
    return view.floating && !view.hidden && view.visible && view.focused && outer.x == target.left &&
        outer.y == target.top && view.content.width == target.width && view.content.height == target.height &&
        !Covering(tree, view);
}

// What is off, in the words of the message.
std::string Account(const Tree& tree, const View& view, const Target& target)
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
    const View* above = Covering(tree, view);
    return "sway kept " +
        (above ? QuotedTitle(above->title.c_str(), CharsetOf(GetConsoleOutputCP())) : "another window") + " above it";
}

} // namespace

BOOL SetWindowPos(HWND hWnd, HWND /*hWndInsertAfter*/, int X, int Y, int cx, int cy, UINT uFlags)
{
    const std::int64_t id = IdOf(hWnd);
    const Tree* tree = RecentTree();
    if (!tree)
        return FALSE;
    const View* found = tree->Find(id);
    if (!found)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    View view = *found;
    // A tiled window keeps the size it had in its tile, where sway would give it its own.
    const Target target{X, Y, (uFlags & SWP_NOSIZE) ? view.content.width : cx,
                        (uFlags & SWP_NOSIZE) ? view.content.height : cy};
    if (Reached(*tree, view, target))
        return TRUE;

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
        if (view.hidden)
            command += "scratchpad show, ";
        else if (!view.focused || !view.visible || Covering(*tree, view))
            command += "focus, ";
        if (!view.floating)
            command += "floating enable, ";
        // A floating window of the right size is left as it is: sway would hold it to its
        // smallest floating size (75x50 unless configured) when asked for the size it has.
        if (!view.floating || view.content.width != target.width || view.content.height != target.height)
            command += "resize set " + std::to_string(target.width + extraWidth) + " px " +
                std::to_string(target.height + extraHeight) + " px, ";
        command +=
            "move absolute position " + std::to_string(target.left) + " px " + std::to_string(target.top) + " px";
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
                return FALSE;
            found = tree->Find(id);
            if (!found)
                return Fail(ERROR_INVALID_WINDOW_HANDLE);
            view = *found;
            if (Reached(*tree, view, target))
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
    return Fail(ERROR_ACCESS_DENIED, Account(*tree, view, target));
}

} // namespace sway
