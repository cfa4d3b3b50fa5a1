// The KWin backend's move: a script restores the window, places its frame, makes it the active
// window and answers with what came of it, which is then checked here.
#include "window_system/backends.h"
#include "window_system/kwin/script.h"
#include "window_system/last_error.h"

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
    // What came of it: the frame, whether it is the active window, minimised, above the rest. What
    // KWin keeps in a higher layer of its own (panels, layer-shell surfaces, keep-above windows)
    // stays above by its rules and is not counted.
    const std::string state =
        "    function state() {\n"
        "        var g = c.frameGeometry, top = true;\n"
        "        for (var i = 0; i < all.length; ++i) {\n"
        "            var o = all[i];\n"
        "            if (o !== c && o.stackingOrder > c.stackingOrder && !(o.layer > c.layer) && !o.keepAbove\n"
        "                && !o.dock && !o.notification && !o.criticalNotification && !o.onScreenDisplay\n"
        "                && !o.tooltip && !o.popupWindow && !o.minimized && o.transientFor !== c)\n"
        "                top = false;\n"
        "        }\n"
        "        return {x: g.x, y: g.y, width: g.width, height: g.height,\n"
        "                active: activeWindow() === c, minimized: c.minimized, top: top, shown: shown(c)};\n"
        "    }\n";
    // The script restores a minimised window, places its frame and makes it the active (so the
    // highest) window. An X11 window becomes active only once it has the focus: then it answers.
    std::optional<std::string> answer = RunScript(
        find + state + "    if (c.minimized) c.minimized = false;\n" +
        "    var g = c.frameGeometry;\n"
        "    c.frameGeometry = {x: " +
        std::to_string(X) + ", y: " + std::to_string(Y) + ", width: " + (keepSize ? "g.width" : std::to_string(cx)) +
        ", height: " + (keepSize ? "g.height" : std::to_string(cy)) +
        "};\n"
        "    activate(c);\n"
        "    if (activeWindow() === c) { report(state()); return; }\n"
        "    windowActivated.connect(function (w) { if (w === c) report(state()); });");
    // No answer: not made active in time, or KWin gone quiet; a look says which.
    if (!answer)
        answer = RunScript(find + state + "    report(state());");
    if (!answer)
        return Fail(ERROR_TIMEOUT, "KWin did not answer");
    simdjson::dom::parser parser;
    simdjson::dom::element result;
    if (parser.parse(*answer).get(result))
        return Fail(ERROR_ACCESS_DENIED, "KWin gave an answer that cannot be read");
    if (const std::string missing = Missing(result); !missing.empty())
        return Fail(ERROR_ACCESS_DENIED, "KWin offers " + missing);
    bool flag = false;
    if (!result["gone"].get_bool().get(flag) && flag)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);

    const int width = keepSize ? window->width : cx, height = keepSize ? window->height : cy;
    Window seen = *window;
    if (!ReadFrame(result, seen) || result["shown"].get_bool().get(seen.shown))
        return Fail(ERROR_ACCESS_DENIED, "KWin gave an answer that cannot be read");
    // What the script saw is what the listing knows of the window from now on.
    Window& moved = *Find(hWnd);
    moved = seen;
    ListedAt = Clock::now();
    const auto said = [&](const char* key) {
        bool value = false;
        return !result[key].get_bool().get(value) && value;
    };
    if (said("minimized"))
        return Fail(ERROR_ACCESS_DENIED, "KWin kept it minimised");
    if (moved.x != X || moved.y != Y)
        return Fail(ERROR_ACCESS_DENIED,
                    "KWin kept it at (" + std::to_string(moved.x) + ", " + std::to_string(moved.y) + ")");
    if (moved.width != width || moved.height != height)
        return Fail(ERROR_ACCESS_DENIED,
                    "KWin made it " + std::to_string(moved.width) + "x" + std::to_string(moved.height) +
                        " instead of " + std::to_string(width) + "x" + std::to_string(height));
    if (!said("active"))
        return Fail(ERROR_ACCESS_DENIED, "KWin did not make it the active window");
    if (!said("top"))
        return Fail(ERROR_ACCESS_DENIED, "KWin kept another window above it");
    return TRUE;
}

} // namespace kwin
