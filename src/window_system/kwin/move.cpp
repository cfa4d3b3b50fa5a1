// The KWin backend's move: a script restores the window, places its frame, makes it the active
// window and answers with what came of it, which is then checked here.
#include "window_system/backends.h"
#include "window_system/kwin/script.h"
#include "window_system/last_error.h"
#include "window_system/stacking.h"
#include "window_system/title.h"

namespace kwin {

namespace {

// A string for the script's source: ids are KWin's own "{...}" text, quoted all the same.
std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            quoted.push_back('\\');
        if (static_cast<unsigned char>(c) >= 0x20)
            quoted.push_back(c);
    }
    return quoted + "\"";
}

// What the move's script answered: the window as it left it and the facts of those above it.
struct Report {
    Window seen;
    bool minimized = false, takesFocus = false, active = false;
    int layer = 0;
    std::vector<StackedWindow> above;
    std::vector<std::string> titles;

    // The first window above it that the user could see over it (stacking.h).
    std::size_t Covering() const
    {
        return FirstCovering({seen.x, seen.y, seen.x + seen.width, seen.y + seen.height}, layer, above);
    }
};

// The script's answer about the window as the listing knew it, read; empty, with the reason in
// the last error, for one that tells of no window or cannot be read. Windows above it whose facts
// cannot be read are at no place one could see.
std::optional<Report> Read(const std::string& answer, const Window& listed)
{
    simdjson::dom::parser parser;
    simdjson::dom::element result;
    const auto unreadable = [] {
        Fail(ERROR_ACCESS_DENIED, "KWin gave an answer that cannot be read");
        return std::nullopt;
    };
    if (parser.parse(answer).get(result))
        return unreadable();
    if (const std::string missing = Missing(result); !missing.empty()) {
        Fail(ERROR_ACCESS_DENIED, "KWin offers " + missing);
        return std::nullopt;
    }
    const auto said = [&](const char* key) {
        bool value = false;
        return !result[key].get_bool().get(value) && value;
    };
    if (said("gone")) {
        Fail(ERROR_INVALID_WINDOW_HANDLE);
        return std::nullopt;
    }
    Report report;
    report.seen = listed;
    simdjson::dom::array entries;
    if (!ReadFrame(result, report.seen) || result["shown"].get_bool().get(report.seen.shown) ||
        result["above"].get_array().get(entries) || !Pixels(result, "layer", report.layer))
        return unreadable();
    report.seen.maximised = said("maximised");
    report.minimized = said("minimized");
    report.takesFocus = said("takesFocus");
    report.active = said("active");
    for (const simdjson::dom::element entry : entries) {
        Window frame;
        StackedWindow other{};
        std::string_view title;
        if (ReadFrame(entry, frame) && !entry["shown"].get_bool().get(other.shown) &&
            Pixels(entry, "layer", other.layer) && !entry["family"].get_bool().get(other.family) &&
            !entry["title"].get_string().get(title)) {
            other.frame = {frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
            report.above.push_back(other);
            report.titles.emplace_back(title);
        }
    }
    return report;
}

} // namespace

BOOL SetWindowPos(HWND hWnd, HWND /*hWndInsertAfter*/, int X, int Y, int cx, int cy, UINT uFlags)
{
    const std::string* id = IdOf(hWnd);
    // The size it has now is the size it keeps: the listing may be older than that.
    if (id && !ListRecently())
        return FALSE;
    const Window* window = Find(hWnd);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const bool keepSize = uFlags & SWP_NOSIZE;
    const std::string find = "    var all = windowList(), c = null;\n"
                             "    for (var i = 0; i < all.length; ++i)\n"
                             "        if (all[i].internalId.toString() === " +
        Quoted(*id) +
        ")\n"
        "            c = all[i];\n"
        "    if (!c) { report({gone: true}); return; }\n";
    // What came of it: the frame, whether it is the active window, minimised, maximised, whether it
    // takes the focus at all, and the facts of every window above it (stacking.h): its frame,
    // whether it is shown, its layer and whether it is one of the window's dialogs (of a dialog of
    // it, or of its whole application). The layer is KWin's, and above any for the kinds of window
    // KWin keeps above ordinary ones (keep-above windows, docks, notifications, on-screen displays,
    // popups); a full-screen window, which KWin keeps above the others only while it is active, is
    // judged where it stands, as a normal one (2, KWin's normal layer).
    const std::string state =
        "    function facts(w) {\n"
        "        var g = w.frameGeometry, kept = w.keepAbove || w.dock || w.notification || w.criticalNotification\n"
        "            || w.onScreenDisplay || w.tooltip || w.popupWindow;\n"
        "        return {x: g.x, y: g.y, width: g.width, height: g.height, shown: shown(w),\n"
        "                layer: w.fullScreen ? Math.min(w.layer || 0, 2) : (w.layer || 0) + (kept ? 100 : 0),\n"
        "                order: w.stackingOrder, title: w.caption};\n"
        "    }\n"
        "    function family(o) {\n"
        "        if (o.transient && !o.transientFor)\n"
        "            return o.pid === c.pid && o.resourceClass === c.resourceClass;\n"
        "        for (var up = o.transientFor, depth = 0; up && depth < 8; up = up.transientFor, ++depth)\n"
        "            if (up === c)\n"
        "                return true;\n"
        "        return false;\n"
        "    }\n"
        "    function state() {\n"
        "        var s = facts(c), above = [];\n"
        "        for (var i = 0; i < all.length; ++i) {\n"
        "            var o = all[i];\n"
        "            if (o !== c && o.stackingOrder > c.stackingOrder) {\n"
        "                var f = facts(o);\n"
        "                f.family = family(o);\n"
        "                above.push(f);\n"
        "            }\n"
        "        }\n"
        "        above.sort(function (a, b) { return b.order - a.order; });\n"
        "        s.active = activeWindow() === c;\n"
        "        s.minimized = c.minimized;\n"
        "        s.maximised = maximised(c);\n"
        "        s.takesFocus = c.wantsInput !== false;\n"
        "        s.above = above;\n"
        "        return s;\n"
        "    }\n";
    // The script restores a minimised window, places its frame and makes it the active (so the
    // highest) window. A maximised window stays as it is where it is maximised from the corner;
    // maximised on another monitor, it is maximised on the corner's, as KWin moves one: restored,
    // placed there and maximised again. An X11 window becomes active only once it has the focus:
    // then it answers. One that takes no focus never does: it is raised (KWin 6 raises it only
    // when asked) and answers at once.
    const std::string corner = std::to_string(X) + ", y: " + std::to_string(Y);
    std::optional<std::string> answer = RunScript(
        find + state + "    if (c.minimized) c.minimized = false;\n" +
        "    var g = c.frameGeometry, area = workspace.clientArea(KWin.MaximizeArea, c);\n"
        "    if (!maximised(c)) {\n"
        "        c.frameGeometry = {x: " +
        corner + ", width: " + (keepSize ? "g.width" : std::to_string(cx)) +
        ", height: " + (keepSize ? "g.height" : std::to_string(cy)) +
        "};\n"
        "    } else if (area.x !== " +
        std::to_string(X) + " || area.y !== " + std::to_string(Y) +
        ") {\n"
        "        c.setMaximize(false, false);\n"
        "        g = c.frameGeometry;\n"
        "        c.frameGeometry = {x: " +
        corner +
        ", width: g.width, height: g.height};\n"
        "        c.setMaximize(true, true);\n"
        "    }\n"
        "    activate(c);\n"
        "    if (c.wantsInput === false && typeof workspace.raiseWindow === \"function\") workspace.raiseWindow(c);\n"
        "    if (activeWindow() === c || c.wantsInput === false) { report(state()); return; }\n"
        "    windowActivated.connect(function (w) { if (w === c) report(state()); });");
    // No answer: not made active in time, or KWin gone quiet; a look says which.
    const std::string look = find + state + "    report(state());";
    if (!answer)
        answer = RunScript(look);
    std::optional<Report> report = answer ? Read(*answer, *window) : std::nullopt;
    if (!report)
        return FALSE;
    // KWin restacks the windows once the activation is done, after it has told of it: where a
    // window is above this one, a look once it is done tells the stacking KWin ends with.
    if (report->Covering() < report->above.size())
        if (answer = RunScript(look), report = answer ? Read(*answer, *window) : std::nullopt; !report)
            return FALSE;

    // What the script saw is what the listing knows of the window from now on.
    const bool wasMaximised = window->maximised;
    const int width = keepSize ? window->width : cx, height = keepSize ? window->height : cy;
    Window& moved = *Find(hWnd);
    moved = report->seen;
    ListedAt = Clock::now();
    if (report->minimized)
        return Fail(ERROR_ACCESS_DENIED, "KWin kept it minimised");
    if (moved.x != X || moved.y != Y)
        return Fail(ERROR_ACCESS_DENIED,
                    "KWin kept it at (" + std::to_string(moved.x) + ", " + std::to_string(moved.y) + ")");
    // A window maximised before and after is as large as its monitor's free space.
    if (!(wasMaximised && moved.maximised) && (moved.width != width || moved.height != height))
        return Fail(ERROR_ACCESS_DENIED,
                    "KWin made it " + std::to_string(moved.width) + "x" + std::to_string(moved.height) +
                        " instead of " + std::to_string(width) + "x" + std::to_string(height));
    if (report->takesFocus && !report->active)
        return Fail(ERROR_ACCESS_DENIED, "KWin did not make it the active window");
    if (const std::size_t covering = report->Covering(); covering < report->above.size())
        return Fail(ERROR_ACCESS_DENIED,
                    "KWin kept " + QuotedTitle(report->titles[covering].c_str(), CharsetOf(GetConsoleOutputCP())) +
                        " above it");
    return TRUE;
}

} // namespace kwin
