// The GNOME backend's link to GNOME Shell: the session bus, where topleft's extension answers
// List and Move at org.gnome.Shell, every call bounded in time.

#include <algorithm>

#include "window_system/backends.h"
#include "window_system/gnome/shell.h"
#include "window_system/last_error.h"
#include "window_system/sd_bus.h"
#include "window_system/stacking.h"

namespace gnome {

Desk Last;
Clock::time_point LastRead;

namespace {

constexpr std::chrono::milliseconds Patience{2000}; // for any one answer of the Shell's
constexpr const char* Service = "org.gnome.Shell";
constexpr const char* Object = "/org/topleft/Windows";
constexpr const char* Interface = "org.topleft.Windows";

sd_bus* Bus = nullptr;

constexpr const char* WindowForm = "(tsiiiibbbbitib)";

// One window of an answer.
bool ReadWindow(sd_bus_message* message, Window& window)
{
    const char* title = nullptr;
    int minimised = 0, focused = 0, shown = 0, maximised = 0, applicationDialog = 0;
    if (sd_bus_message_read(message, WindowForm, &window.id, &title, &window.x, &window.y, &window.width,
                            &window.height, &minimised, &focused, &shown, &maximised, &window.layer, &window.dialogOf,
                            &window.application, &applicationDialog) <= 0)
        return false;
    window.maximised = maximised;
    window.applicationDialog = applicationDialog;
    window.title = title ? title : "";
    window.minimised = minimised;
    window.focused = focused;
    window.shown = shown;
    return true;
}

// The windows of an answer, topmost first.
bool ReadWindows(sd_bus_message* message, std::vector<Window>& windows)
{
    if (sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, WindowForm) <= 0)
        return false;
    Window window;
    int more = 0;
    while ((more = sd_bus_message_peek_type(message, nullptr, nullptr)) > 0 && ReadWindow(message, window))
        windows.push_back(window);
    return more == 0 && sd_bus_message_exit_container(message) >= 0;
}

bool ReadMonitors(sd_bus_message* message, std::vector<Monitor>& monitors)
{
    if (sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "(siiiiiiiib)") <= 0)
        return false;
    const char* name = nullptr;
    int x = 0, y = 0, width = 0, height = 0, workX = 0, workY = 0, workWidth = 0, workHeight = 0, primary = 0;
    int read = 0;
    while ((read = sd_bus_message_read(message, "(siiiiiiiib)", &name, &x, &y, &width, &height, &workX, &workY,
                                       &workWidth, &workHeight, &primary)) > 0)
        monitors.push_back({name ? name : "",
                            {x, y, x + width, y + height},
                            {workX, workY, workX + workWidth, workY + workHeight},
                            primary != 0});
    return read == 0 && sd_bus_message_exit_container(message) >= 0;
}

} // namespace

const Window* Desk::Find(std::uint64_t id) const
{
    const auto found = std::find_if(windows.begin(), windows.end(), [id](const Window& w) { return w.id == id; });
    return found == windows.end() ? nullptr : &*found;
}

const Window* Desk::Covering(const Window& window) const
{
    const auto frame = [](const Window& w) { return RECT{w.x, w.y, w.x + w.width, w.y + w.height}; };
    std::vector<StackedWindow> above;
    for (const Window& other : windows) {
        if (other.id == window.id)
            break;
        // Its dialogs, theirs, and its application's.
        bool family = other.applicationDialog && other.application != 0 && other.application == window.application;
        const Window* up = &other;
        for (int depth = 0; up && up->dialogOf != 0 && !family && depth < 8; ++depth) {
            family = up->dialogOf == window.id;
            up = Find(up->dialogOf);
        }
        above.push_back({frame(other), other.shown, other.layer, family});
    }
    const std::size_t found = FirstCovering(frame(window), window.layer, above);
    return found < above.size() ? &windows[found] : nullptr;
}

BOOL List()
{
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    Desk desk;
    const bool answered = sd_bus_call_method(Bus, Service, Object, Interface, "List", &error, &reply, "") >= 0;
    const bool read = answered && ReadWindows(reply, desk.windows) && ReadMonitors(reply, desk.monitors);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    if (answered && !read)
        return Fail(ERROR_NOT_SUPPORTED,
                    "GNOME Shell runs another version of topleft's extension; log in again to load this one");
    if (!read)
        return Fail(ERROR_TIMEOUT, "GNOME Shell did not answer");
    Last = std::move(desk);
    LastRead = Clock::now();
    return TRUE;
}

std::optional<Window> Move(std::uint64_t id, int x, int y)
{
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::vector<Window> windows;
    const int called = sd_bus_call_method(Bus, Service, Object, Interface, "Move", &error, &reply, "tii", id, x, y);
    const bool gone = called < 0 && sd_bus_error_has_name(&error, "org.topleft.Windows.Error.NoSuchWindow");
    const bool read = called >= 0 && ReadWindows(reply, windows);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    // The window as the move left it, and those above it, are what the listing knows from now on:
    // all a question about the moved window asked at once needs.
    if (read) {
        Last.windows = std::move(windows);
        LastRead = Clock::now();
    }
    const Window* window = read ? Last.Find(id) : nullptr;
    if (gone || !window) {
        if (gone)
            Fail(ERROR_INVALID_WINDOW_HANDLE);
        else
            Fail(ERROR_TIMEOUT, "GNOME Shell did not answer");
        return std::nullopt;
    }
    return *window;
}

Reach Connect()
{
    if (sd_bus_open_user(&Bus) < 0)
        return Reach::NoShell;
    sd_bus_set_method_call_timeout(Bus, std::chrono::microseconds(Patience).count());
    sd_bus_message* reply = nullptr;
    int owned = 0;
    if (sd_bus_call_method(Bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                           nullptr, &reply, "s", Service) >= 0)
        sd_bus_message_read(reply, "b", &owned);
    sd_bus_message_unref(reply);
    if (!owned) {
        Bus = sd_bus_flush_close_unref(Bus);
        return Reach::NoShell;
    }
    // The first listing tells whether the extension is there; the listing then serves as it is.
    if (!List() && GetLastError() != ERROR_NOT_SUPPORTED) {
        Bus = sd_bus_flush_close_unref(Bus);
        return Reach::NoExtension;
    }
    return Reach::Extension;
}

} // namespace gnome
