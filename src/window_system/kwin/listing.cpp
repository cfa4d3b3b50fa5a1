// The KWin backend's listing: one script that reports every window KWin manages with its frame,
// topmost first in KWin's stacking order.
#include <cmath>
#include <unordered_map>

#include "window_system/backends.h"
#include "window_system/kwin/script.h"
#include "window_system/last_error.h"
#include "window_system/monitors.h"
#include "window_system/title.h"

namespace kwin {

std::vector<Window> Listed;
Clock::time_point ListedAt;
std::vector<Monitor> Screens;

namespace {

// Every id a listing met, in the order met: handle k stands for Ids[k - 1].
std::vector<std::string> Ids;
std::unordered_map<std::string, std::uintptr_t> Handles;
// Where each handle's window is in Listed.
std::unordered_map<std::uintptr_t, std::size_t> Places;

} // namespace

HWND HandleOf(const std::string& id)
{
    const auto [known, added] = Handles.emplace(id, Ids.size() + 1);
    if (added)
        Ids.push_back(id);
    return reinterpret_cast<HWND>(known->second);
}

const std::string* IdOf(HWND handle)
{
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    return index >= 1 && index <= Ids.size() ? &Ids[index - 1] : nullptr;
}

Window* Find(HWND handle)
{
    const auto place = Places.find(reinterpret_cast<std::uintptr_t>(handle));
    return place == Places.end() ? nullptr : &Listed[place->second];
}

bool Pixels(simdjson::dom::element node, const char* key, int& pixels)
{
    double value = 0;
    if (node[key].get_double().get(value) || !std::isfinite(value) || std::fabs(value) > 1e9)
        return false;
    // Rounded half away from zero, as lround does, without the maths library for one call.
    pixels = static_cast<int>(value < 0 ? value - 0.5 : value + 0.5);
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
    // The outputs, and the area KWin places windows in on each (its panels left out): KWin 6 has
    // output objects, the first of screenOrder the primary; KWin 5 numbers its screens.
    const std::optional<std::string> answer = RunScript(R"(
    var found = [], all = windowList(), monitors = [];
    for (var i = 0; i < all.length; ++i) {
        var w = all[i], g = w.frameGeometry;
        found.push({order: w.stackingOrder, id: w.internalId.toString(), title: w.caption,
                    x: g.x, y: g.y, width: g.width, height: g.height, shown: shown(w), maximised: maximised(w)});
    }
    found.sort(function (a, b) { return b.order - a.order; });
    var outputs = workspace.screens || [];
    for (var i = 0; i < (workspace.screens ? outputs.length : workspace.numScreens); ++i) {
        var o = workspace.screens ? outputs[i] : i, desk = workspace.currentDesktop;
        var g = workspace.screens ? o.geometry : workspace.clientArea(KWin.ScreenArea, o, desk);
        var a = workspace.clientArea(KWin.PlacementArea, o, desk);
        monitors.push({name: workspace.screens ? o.name : "screen " + i, x: g.x, y: g.y, width: g.width,
                       height: g.height, work: {x: a.x, y: a.y, width: a.width, height: a.height},
                       primary: workspace.screenOrder ? workspace.screenOrder[0] === o : false});
    }
    report({windows: found, monitors: monitors});)");
    if (!answer)
        return Fail(ERROR_TIMEOUT, "KWin did not answer");
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    simdjson::dom::array windows;
    if (parser.parse(*answer).get(root))
        return Fail(ERROR_INVALID_DATA, "KWin gave an answer that cannot be read");
    if (const std::string missing = Missing(root); !missing.empty())
        return Fail(ERROR_NOT_SUPPORTED, "KWin offers " + missing);
    simdjson::dom::array outputs;
    if (root["windows"].get_array().get(windows) || root["monitors"].get_array().get(outputs))
        return Fail(ERROR_INVALID_DATA, "KWin gave an answer that cannot be read");
    std::vector<Monitor> screens;
    for (const simdjson::dom::element output : outputs) {
        Window area, work; // x, y, width and height as a frame has them
        simdjson::dom::element free;
        std::string_view name;
        bool primary = false;
        if (!ReadFrame(output, area) || output["work"].get(free) || !ReadFrame(free, work) ||
            output["name"].get_string().get(name) || output["primary"].get_bool().get(primary))
            return Fail(ERROR_INVALID_DATA, "KWin gave an answer that cannot be read");
        screens.push_back({std::string(name),
                           {area.x, area.y, area.x + area.width, area.y + area.height},
                           {work.x, work.y, work.x + work.width, work.y + work.height},
                           primary});
    }
    // A window whose entry cannot be read is left out: the others are listed all the same.
    std::vector<Window> listed;
    for (const simdjson::dom::element entry : windows) {
        Window window;
        std::string_view id, title;
        if (entry["id"].get_string().get(id) || entry["title"].get_string().get(title) || !ReadFrame(entry, window) ||
            entry["shown"].get_bool().get(window.shown) || entry["maximised"].get_bool().get(window.maximised))
            continue;
        window.id.assign(id);
        window.title.assign(title);
        listed.push_back(std::move(window));
    }
    Listed = std::move(listed);
    Screens = std::move(screens);
    Places.clear();
    for (std::size_t i = 0; i < Listed.size(); ++i)
        Places[reinterpret_cast<std::uintptr_t>(HandleOf(Listed[i].id))] = i;
    ListedAt = Clock::now();
    return TRUE;
}

BOOL ListRecently() { return Clock::now() - ListedAt < Fresh || List(); }

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    if (!List())
        return FALSE;
    // The callback may ask KWin again, which lists anew: the handles are taken first.
    std::vector<HWND> handles;
    handles.reserve(Listed.size());
    for (const Window& window : Listed)
        handles.push_back(HandleOf(window.id));
    for (const HWND handle : handles)
        if (!lpEnumFunc(handle, lParam))
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
    // What the listing, or the move just made, saw; else KWin is asked again.
    if (!ListRecently())
        return FALSE;
    const Window* window = Find(hWnd);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    *lpRect = {window->x, window->y, window->x + window->width, window->y + window->height};
    return TRUE;
}

BOOL IsWindowVisible(HWND hWnd)
{
    if (!ListRecently())
        return FALSE;
    const Window* window = Find(hWnd);
    return window && window->shown;
}

BOOL IsZoomed(HWND hWnd)
{
    if (!ListRecently())
        return FALSE;
    const Window* window = Find(hWnd);
    return window && window->maximised;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags)
{
    if (!ListRecently())
        return nullptr;
    return ChooseMonitor(Screens, pt, dwFlags);
}

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi) { return DescribeMonitor(Screens, hMonitor, lpmi); }

} // namespace kwin
