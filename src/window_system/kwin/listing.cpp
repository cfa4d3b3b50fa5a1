// The KWin backend's listing: one script that reports every window KWin manages with its frame,
// topmost first in KWin's stacking order.
#include <algorithm>
#include <cmath>

#include "window_system/backends.h"
#include "window_system/kwin/script.h"
#include "window_system/last_error.h"
#include "window_system/title.h"

namespace kwin {

std::vector<Window> Listed;
Clock::time_point ListedAt;

namespace {

constexpr std::chrono::milliseconds Fresh{100};

} // namespace

bool Pixels(simdjson::dom::element node, const char* key, int& pixels)
{
    double value = 0;
    if (node[key].get_double().get(value) || !std::isfinite(value) || std::fabs(value) > 1e9)
        return false;
    pixels = static_cast<int>(std::lround(value));
    return true;
}

bool ReadFrame(simdjson::dom::element node, Window& window)
{
    return Pixels(node, "x", window.x) && Pixels(node, "y", window.y) && Pixels(node, "width", window.width) &&
        Pixels(node, "height", window.height);
}

std::string Missing(simdjson::dom::element answer)
{
    std::string_view missing;
    return answer["missing"].get_string().get(missing) ? std::string() : std::string(missing);
}

BOOL List()
{
    const std::optional<std::string> answer = RunScript(R"(
    var found = [], all = windowList();
    for (var i = 0; i < all.length; ++i) {
        var w = all[i], g = w.frameGeometry;
        found.push({order: w.stackingOrder, id: w.internalId.toString(), title: w.caption,
                    x: g.x, y: g.y, width: g.width, height: g.height});
    }
    found.sort(function (a, b) { return b.order - a.order; });
    report(found);)");
    if (!answer)
        return Fail(ERROR_TIMEOUT, "KWin did not answer");
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    simdjson::dom::array windows;
    if (parser.parse(*answer).get(root))
        return Fail(ERROR_INVALID_DATA, "KWin gave an answer that cannot be read");
    if (const std::string missing = Missing(root); !missing.empty())
        return Fail(ERROR_NOT_SUPPORTED, "KWin offers " + missing);
    if (root.get_array().get(windows))
        return Fail(ERROR_INVALID_DATA, "KWin gave an answer that cannot be read");
    std::vector<Window> listed;
    for (const simdjson::dom::element entry : windows) {
        Window window;
        std::string_view text;
        if (!entry["id"].get_string().get(text))
            window.id.assign(text);
        if (!entry["title"].get_string().get(text))
            window.title.assign(text);
        if (!ReadFrame(entry, window))
            return Fail(ERROR_INVALID_DATA, "KWin gave an answer that cannot be read");
        listed.push_back(std::move(window));
    }
    Listed = std::move(listed);
    ListedAt = Clock::now();
    return TRUE;
}

Window* Find(HWND handle)
{
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    return index >= 1 && index <= Listed.size() ? &Listed[index - 1] : nullptr;
}

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    if (!List())
        return FALSE;
    for (std::size_t i = 0; i < Listed.size(); ++i)
        if (!lpEnumFunc(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(i + 1)), lParam))
            break;
    return TRUE;
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    const Window* window = Find(hWnd);
    return WindowText(window ? &window->title : nullptr, lpString, nMaxCount);
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    const Window* window = Find(hWnd);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    // What the listing, or the move just made, saw; else KWin is asked again.
    if (Clock::now() - ListedAt >= Fresh) {
        const std::string id = window->id;
        if (!List())
            return FALSE;
        const auto found = std::find_if(Listed.begin(), Listed.end(), [&](const Window& w) { return w.id == id; });
        if (found == Listed.end())
            return Fail(ERROR_INVALID_WINDOW_HANDLE);
        window = &*found;
    }
    *lpRect = {window->x, window->y, window->x + window->width, window->y + window->height};
    return TRUE;
}

// KWin's screens are not read: its corner is the desktop's (0, 0).
HMONITOR MonitorFromPoint(POINT /*pt*/, DWORD /*dwFlags*/) { return nullptr; }

BOOL GetMonitorInfoA(HMONITOR /*hMonitor*/, MONITORINFO* /*lpmi*/) { return FALSE; }

} // namespace kwin
