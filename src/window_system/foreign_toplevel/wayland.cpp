// Loading libwayland-client's calls and its core interfaces (wayland.h).
#define TOPLEFT_WAYLAND_LOADER
#include "window_system/foreign_toplevel/wayland.h"

#include "window_system/loading.h"

namespace {

constexpr const char* Library = "libwayland-client.so.0";

} // namespace

const WaylandClient& WaylandLibrary()
{
    static const WaylandClient library = [] {
        WaylandClient loaded{};
        void* handle = LoadLibrary(Library);
        bool found = handle != nullptr;
#define TOPLEFT_WAYLAND_FIND(name)                                                                                     \
    loaded.name = found ? reinterpret_cast<decltype(loaded.name)>(dlsym(handle, #name)) : nullptr;                     \
    found = found && loaded.name;
        TOPLEFT_WAYLAND_CALLS(TOPLEFT_WAYLAND_FIND)
#undef TOPLEFT_WAYLAND_FIND
        const auto interface = [&](const char* name) {
            const auto* found = handle ? static_cast<const wl_interface*>(dlsym(handle, name)) : nullptr;
            return found;
        };
        loaded.registry = interface("wl_registry_interface");
        loaded.callback = interface("wl_callback_interface");
        loaded.seat = interface("wl_seat_interface");
        loaded.output = interface("wl_output_interface");
        loaded.surface = interface("wl_surface_interface");
        if (!found || !loaded.registry || !loaded.callback || !loaded.seat || !loaded.output || !loaded.surface)
            CannotLoad(Library, "through which this Wayland desktop is reached");
        return loaded;
    }();
    return library;
}
