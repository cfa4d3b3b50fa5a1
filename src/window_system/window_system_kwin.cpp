// The KWin backend: on a KDE Plasma Wayland session no client may list or move another's windows,
// but KWin runs scripts that see them all. Each call writes a small script to a private file,
// has KWin load and run it over the session bus, and waits for the script to call back with its
// answer (a JSON text) on an object of ours; the script is unloaded and its file removed
// whatever happens. A handle is an index into the window ids of the last listing.
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "window_system/backends.h"
#include "window_system/last_error.h"
#include "window_system/title.h"

namespace kwin {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long KWin may take to load, run and answer one script.
constexpr milliseconds Patience{2000};
constexpr const char* Interface = "org.topleft.Script";
constexpr const char* Path = "/topleft";

sd_bus* Bus = nullptr;
std::string UniqueName;
std::optional<std::string> Answer; // what the running script called back with

struct Window {
    std::string id; // KWin's internalId
    std::string title;
    int x = 0, y = 0, width = 0, height = 0; // its frame
};
std::vector<Window> Listed;
Clock::time_point ListedAt;
constexpr milliseconds Fresh{100};

int OnReport(sd_bus_message* message, void* /*userdata*/, sd_bus_error* /*error*/)
{
    const char* text = nullptr;
    if (sd_bus_message_read(message, "s", &text) >= 0 && text)
        Answer = text;
    return sd_bus_reply_method_return(message, "");
}

const sd_bus_vtable Calls[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Report", "s", "", OnReport, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// A script file of ours, removed when it goes out of scope.
struct ScriptFile {
    std::string path;
    explicit ScriptFile(const std::string& source)
    {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string pattern = std::string(runtime && *runtime ? runtime : "/tmp") + "/topleft-XXXXXX.js";
        const int file = mkstemps(pattern.data(), 3); // readable by us alone
        if (file < 0)
            return;
        const bool written = write(file, source.data(), source.size()) == static_cast<ssize_t>(source.size());
        close(file);
        if (written)
            path = pattern;
        else
            unlink(pattern.c_str());
    }
    ~ScriptFile()
    {
        if (!path.empty())
            unlink(path.c_str());
    }
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
};

// Loads the script under a name of its own, runs it and returns what it called back with;
// empty when KWin did not answer in time. The script is unloaded in any case.
std::optional<std::string> RunScript(const std::string& body)
{
    static int scripts = 0;
    const std::string name = "topleft-" + std::to_string(getpid()) + "-" + std::to_string(++scripts);
    const std::string source = "(function () {\nfunction report(answer) {\n    callDBus(\"" + UniqueName + "\", \"" +
        Path + "\", \"" + Interface + "\", \"Report\", JSON.stringify(answer));\n}\n" + body + "\n})();\n";
    const ScriptFile file(source);
    if (file.path.empty())
        return std::nullopt;

    Answer.reset();
    sd_bus_message* reply = nullptr;
    int id = -1;
    if (sd_bus_call_method(Bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript", nullptr, &reply,
                           "ss", file.path.c_str(), name.c_str()) >= 0)
        sd_bus_message_read(reply, "i", &id);
    sd_bus_message_unref(reply);
    if (id >= 0) {
        const std::string object = "/" + std::to_string(id);
        if (sd_bus_call_method(Bus, "org.kde.KWin", object.c_str(), "org.kde.kwin.Script", "run", nullptr, nullptr,
                               "") >= 0) {
            const Clock::time_point deadline = Clock::now() + Patience;
            while (!Answer && Clock::now() < deadline) {
                if (sd_bus_process(Bus, nullptr) > 0)
                    continue;
                const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
                sd_bus_wait(Bus, static_cast<std::uint64_t>(std::max<long long>(left.count(), 0)));
            }
        }
    }
    sd_bus_call_method(Bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", nullptr, nullptr,
                       "s", name.c_str());
    return Answer;
}

std::int64_t Int(simdjson::dom::element node, const char* key)
{
    std::int64_t value = 0;
    return node[key].get_int64().get(value) ? 0 : value;
}

// Lists every window KWin manages, topmost first, with its frame.
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

const Window* Find(HWND handle)
{
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    return index >= 1 && index <= Listed.size() ? &Listed[index - 1] : nullptr;
}

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

bool Connect()
{
    if (sd_bus_open_user(&Bus) < 0)
        return false;
    sd_bus_set_method_call_timeout(Bus, std::chrono::microseconds(Patience).count());
    const char* unique = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    if (sd_bus_get_unique_name(Bus, &unique) >= 0 &&
        sd_bus_call_method(Bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                           &error, &reply, "s", "org.kde.KWin") >= 0)
        sd_bus_message_read(reply, "b", &owned);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    if (!owned || sd_bus_add_object_vtable(Bus, nullptr, Path, Interface, Calls, nullptr) < 0) {
        Bus = sd_bus_flush_close_unref(Bus);
        return false;
    }
    UniqueName = unique;
    return true;
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

BOOL SetWindowPos(HWND hWnd, HWND /*hWndInsertAfter*/, int X, int Y, int cx, int cy, UINT uFlags)
{
    const Window* window = Find(hWnd);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const bool keepSize = uFlags & SWP_NOSIZE;
    const std::string find = "    var clients = workspace.clientList(), c = null;\n"
                             "    for (var i = 0; i < clients.length; ++i)\n"
                             "        if (clients[i].internalId.toString() === " +
        Quoted(window->id) +
        ")\n"
        "            c = clients[i];\n"
        "    if (!c) { report({gone: true}); return; }\n";
    // What came of it: the frame, whether it is the active window, minimised, above the rest.
    const std::string state =
        "    function state() {\n"
        "        var g = c.frameGeometry, top = true;\n"
        "        for (var i = 0; i < clients.length; ++i) {\n"
        "            var o = clients[i];\n"
        "            if (o !== c && o.stackingOrder > c.stackingOrder && !o.keepAbove && !o.dock\n"
        "                && !o.notification && !o.criticalNotification && !o.onScreenDisplay\n"
        "                && !o.tooltip && !o.popupWindow && !o.minimized && o.transientFor !== c)\n"
        "                top = false;\n"
        "        }\n"
        "        return {x: g.x, y: g.y, width: g.width, height: g.height,\n"
        "                active: workspace.activeClient === c, minimized: c.minimized, top: top};\n"
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
        "    workspace.activeClient = c;\n"
        "    if (workspace.activeClient === c) { report(state()); return; }\n"
        "    workspace.clientActivated.connect(function (w) { if (w === c) report(state()); });");
    // No answer: not made active in time, or KWin gone quiet; a look says which.
    if (!answer)
        answer = RunScript(find + state + "    report(state());");
    if (!answer)
        return Fail(ERROR_TIMEOUT, "KWin did not answer");
    simdjson::dom::parser parser;
    simdjson::dom::element result;
    if (parser.parse(*answer).get(result))
        return Fail(ERROR_ACCESS_DENIED, "KWin gave an answer that cannot be read");
    bool flag = false;
    if (!result["gone"].get_bool().get(flag) && flag)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);

    Window& moved = Listed[reinterpret_cast<std::uintptr_t>(hWnd) - 1];
    const int width = keepSize ? window->width : cx, height = keepSize ? window->height : cy;
    moved.x = static_cast<int>(Int(result, "x"));
    moved.y = static_cast<int>(Int(result, "y"));
    moved.width = static_cast<int>(Int(result, "width"));
    moved.height = static_cast<int>(Int(result, "height"));
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
