// The KWin backend: on a KDE Plasma Wayland session no client may list or move another's windows,
// but KWin runs scripts that see them all. Each call writes a small script to a private file,
// has KWin load and run it over the session bus, and waits for the script to call back with its
// answer (a JSON text) on an object of ours; the script is unloaded and its file removed
// whatever happens. An answer counts only when KWin itself sends it and it carries the token
// written into the script that asked: not a late answer of an earlier script, nor any other
// program's word. A handle stands for a window's KWin id (listing.cpp).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>

#include "window_system/backends.h"
#include "window_system/kwin/script.h"
#include "window_system/last_error.h"
#include "window_system/sd_bus.h"

namespace kwin {

namespace {

constexpr const char* Interface = "org.topleft.Script";
constexpr const char* Path = "/topleft";

sd_bus* Bus = nullptr;
std::string UniqueName;
std::string KWinName; // the unique name of the connection that owns org.kde.KWin
std::string Token; // written into the running script, which reports with it
std::optional<std::string> Answer; // what the running script called back with

int OnReport(sd_bus_message* message, void* /*userdata*/, sd_bus_error* /*error*/)
{
    const char* sender = sd_bus_message_get_sender(message);
    const char* token = nullptr;
    const char* text = nullptr;
    if (sender && sender == KWinName && sd_bus_message_read(message, "ss", &token, &text) >= 0 && token && text &&
        token == Token)
        Answer = text;
    return sd_bus_reply_method_return(message, "");
}

// A token no other script run had: 128 bits from the system's random source.
std::string FreshToken()
{
    std::random_device random;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        token += part;
    }
    return token;
}

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

// What every script starts with: KWin 6 calls windows what KWin 5 called clients, so the
// scripts ask for what is there. A KWin with neither says what is missing, and no more is done.
constexpr const char* Prelude = R"(var windowList = typeof workspace.windowList === "function"
    ? function () { return workspace.windowList(); }
    : typeof workspace.clientList === "function" ? function () { return workspace.clientList(); } : null;
if (!windowList) {
    report({missing: "neither workspace.windowList nor workspace.clientList"});
    return;
}
var windowActivated = workspace.windowActivated || workspace.clientActivated;
function activeWindow() {
    return workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient;
}
function activate(w) {
    if (workspace.activeWindow !== undefined)
        workspace.activeWindow = w;
    else
        workspace.activeClient = w;
}
// Seen by the user: not minimised, not hidden, on the virtual desktop in view (KWin 6 gives a
// window its desktops, KWin 5 one desktop's number).
function shown(w) {
    var here = w.onAllDesktops || (w.desktops !== undefined ? w.desktops.indexOf(workspace.currentDesktop) >= 0
                                                             : w.desktop === workspace.currentDesktop);
    return !w.minimized && !w.hidden && here;
}
// Maximised both ways: KWin 6 tells its mode; KWin 5 tells scripts nothing of it, but a maximised
// window fills the area KWin maximises windows to.
function maximised(w) {
    if (w.maximizeMode !== undefined)
        return w.maximizeMode === 3;
    var g = w.frameGeometry, a = workspace.clientArea(KWin.MaximizeArea, w);
    return g.x === a.x && g.y === a.y && g.width === a.width && g.height === a.height;
}
)";

// Runs the loaded script. KWin 6 puts its object at /Scripting/Script<id>, KWin 5 at /<id>: the
// first run learns which this KWin answers at, and later ones go there at once.
bool Run(int id)
{
    static int learnt = -1;
    const std::string objects[] = {"/Scripting/Script" + std::to_string(id), "/" + std::to_string(id)};
    for (int form = 0; form < 2; ++form)
        if ((learnt < 0 || learnt == form) &&
            sd_bus_call_method(Bus, "org.kde.KWin", objects[form].c_str(), "org.kde.kwin.Script", "run", nullptr,
                               nullptr, "") >= 0) {
            learnt = form;
            return true;
        }
    return false;
}

} // namespace

std::optional<std::string> RunScript(const std::string& body)
{
    static int scripts = 0;
    const std::string name = "topleft-" + std::to_string(getpid()) + "-" + std::to_string(++scripts);
    Token = FreshToken();
    const std::string source = "(function () {\nfunction report(answer) {\n    callDBus(\"" + UniqueName + "\", \"" +
        Path + "\", \"" + Interface + "\", \"Report\", \"" + Token + "\", JSON.stringify(answer));\n}\n" + Prelude +
        body + "\n})();\n";
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
        if (Run(id)) {
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

bool Connect()
{
    if (sd_bus_open_user(&Bus) < 0)
        return false;
    sd_bus_set_method_call_timeout(Bus, std::chrono::microseconds(Patience).count());
    // KWin's answers come from the connection that owns its name, asked once: a KWin that
    // restarts meanwhile answers from another, and is not heard.
    const char* unique = nullptr;
    const char* owner = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (sd_bus_get_unique_name(Bus, &unique) >= 0 &&
        sd_bus_call_method(Bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                           &error, &reply, "s", "org.kde.KWin") >= 0 &&
        sd_bus_message_read(reply, "s", &owner) >= 0 && owner)
        KWinName = owner;
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    // Made here, once libsystemd is loaded: its start names a part of the library.
    static const sd_bus_vtable Calls[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Report", "ss", "", OnReport, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    if (KWinName.empty() || sd_bus_add_object_vtable(Bus, nullptr, Path, Interface, Calls, nullptr) < 0) {
        Bus = sd_bus_flush_close_unref(Bus);
        return false;
    }
    UniqueName = unique;
    return true;
}

} // namespace kwin
