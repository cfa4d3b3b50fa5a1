// The KWin backend's listing: one script that reports every window KWin manages with its frame,
// topmost first in KWin's stacking order.
#include <algorithm>

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

std::int64_t Int(simdjson::dom::element node, const char* key)
{
    std::int64_t value = 0;
    return node[key].get_int64().get(value) ? 0 : value;
}

bool List()
{
    const std::optional<std::string> answer = RunScript(R"(
    var found = [];
    var clients = workspace.clientList();
    for (var i = 0; i < clients.length; ++i) {
        var c = clients[i], g = c.frameGeometry;
        found.push({order: c.stackingOrder, id: c.internalId.toString(), title: c.caption,
                    x: g.x, y: g.y, width: g.width, height: g.height});
    }
    found.sort(function (a, b) { return b.order - a.order; });
    report(found);)");
    if (!answer)
        return false;
    simdjson::dom::parser parser;
    simdjson::dom::array windows;
    if (parser.parse(*answer).get_array().get(windows))
        return false;
    Listed.clear();
    for (const simdjson::dom::element entry : windows) {
        Window window;
        std::string_view text;
        if (!entry["id"].get_string().get(text))
            window.id.assign(text);
        if (!entry["title"].get_string().get(text))
            window.title.assign(text);
        window.x = static_cast<int>(Int(entry, "x"));
        window.y = static_cast<int>(Int(entry, "y"));
        window.width = static_cast<int>(Int(entry, "width"));
        window.height = static_cast<int>(Int(entry, "height"));
        Listed.push_back(std::move(window));
    }
    ListedAt = Clock::now();
    return true;
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
            return Fail(ERROR_TIMEOUT, "KWin did not answer");
        const auto found = std::find_if(Listed.begin(), Listed.end(), [&](const Window& w) { return w.id == id; });
        if (found == Listed.end())
            return Fail(ERROR_INVALID_WINDOW_HANDLE);
        window = &*found;
    }
    *lpRect = {window->x, window->y, window->x + window->width, window->y + window->height};
    return TRUE;
}

} // namespace kwin
