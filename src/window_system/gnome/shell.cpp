// The GNOME backend's link to GNOME Shell: the session bus, where topleft's extension answers
// List and Move at org.gnome.Shell, every call bounded in time.
#include <systemd/sd-bus.h>

#include <algorithm>

#include "window_system/backends.h"
#include "window_system/gnome/shell.h"
#include "window_system/last_error.h"

namespace gnome {

Desk Last;
Clock::time_point LastRead;

namespace {

constexpr std::chrono::milliseconds Patience{2000}; // for any one answer of the Shell's
constexpr const char* Service = "org.gnome.Shell";
constexpr const char* Object = "/org/topleft/Windows";
constexpr const char* Interface = "org.topleft.Windows";

sd_bus* Bus = nullptr;

// One window of an answer: (tsiiiibbb).
bool ReadWindow(sd_bus_message* message, Window& window)
{
    const char* title = nullptr;
    int minimised = 0, focused = 0, onTop = 0;
    if (sd_bus_message_read(message, "(tsiiiibbb)", &window.id, &title, &window.x, &window.y, &window.width,
                            &window.height, &minimised, &focused, &onTop) <= 0)
        return false;
    window.title = title ? title : "";
    window.minimised = minimised;
    window.focused = focused;
    window.onTop = onTop;
    return true;
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

BOOL List()
{
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    Desk desk;
    bool read = sd_bus_call_method(Bus, Service, Object, Interface, "List", &error, &reply, "") >= 0 &&
        sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(tsiiiibbb)") > 0;
    if (read) {
        Window window;
        int more = 0;
        while ((more = sd_bus_message_peek_type(reply, nullptr, nullptr)) > 0 && ReadWindow(reply, window))
            desk.windows.push_back(window);
        read = more == 0 && sd_bus_message_exit_container(reply) >= 0 && ReadMonitors(reply, desk.monitors);
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
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
    Window window;
    const int called = sd_bus_call_method(Bus, Service, Object, Interface, "Move", &error, &reply, "tii", id, x, y);
    const bool gone = called < 0 && sd_bus_error_has_name(&error, "org.topleft.Windows.Error.NoSuchWindow");
    const bool read = called >= 0 && ReadWindow(reply, window);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    // What the window became is what the listing knows of it from now on.
    if (read)
        for (Window& known : Last.windows)
            if (known.id == id)
                known = window;
    if (gone || !read) {
        if (gone)
            Fail(ERROR_INVALID_WINDOW_HANDLE);
        else
            Fail(ERROR_TIMEOUT, "GNOME Shell did not answer");
        return std::nullopt;
    }
    return window;
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
    if (!List()) {
        Bus = sd_bus_flush_close_unref(Bus);
        return Reach::NoExtension;
    }
    return Reach::Extension;
}

} // namespace gnome
