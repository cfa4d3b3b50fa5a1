// Loading libsystemd's sd-bus calls (sd_bus.h).
#define TOPLEFT_SD_BUS_LOADER
#include "window_system/sd_bus.h"

#include "window_system/loading.h"

namespace {

constexpr const char* Library = "libsystemd.so.0";

} // namespace

const SdBus& SdBusLibrary()
{
    static const SdBus library = [] {
        SdBus loaded{};
        void* handle = LoadLibrary(Library);
        bool found = handle != nullptr;
#define TOPLEFT_SD_BUS_FIND(name)                                                                                      \
    loaded.name = found ? reinterpret_cast<decltype(loaded.name)>(dlsym(handle, #name)) : nullptr;                     \
    found = found && loaded.name;
        TOPLEFT_SD_BUS_CALLS(TOPLEFT_SD_BUS_FIND)
        TOPLEFT_SD_BUS_FIND(sd_bus_object_vtable_format)
#undef TOPLEFT_SD_BUS_FIND
        if (!found)
            CannotLoad(Library, "through which KDE Plasma and GNOME are reached");
        return loaded;
    }();
    return library;
}
