// simdjson, loaded the first time a backend reads JSON (sway's and i3's answers, KWin's reports):
// an X11 run without i3, or one on GNOME, never loads it. What simdjson's header leaves to the
// library is two calls; they are defined here, reaching the library loaded at run time. A
// library that cannot be loaded ends the run with one line.
#include <simdjson.h>

#include "window_system/loading.h"

namespace {

struct Library {
    simdjson::internal::atomic_ptr<const simdjson::implementation>& (*activeImplementation)();
    bool (*validateUtf8)(const char*, std::size_t) noexcept;
};

const Library& Loaded()
{
    static const Library library = [] {
        Library loaded{};
        if (void* handle = LoadLibrary(TOPLEFT_SIMDJSON_LIBRARY)) {
            // The names as the C++ ABI gives them to simdjson::get_active_implementation() and
            // simdjson::validate_utf8(const char*, size_t).
            loaded.activeImplementation = reinterpret_cast<decltype(loaded.activeImplementation)>(
                dlsym(handle, "_ZN8simdjson25get_active_implementationEv"));
            loaded.validateUtf8 =
                reinterpret_cast<decltype(loaded.validateUtf8)>(dlsym(handle, "_ZN8simdjson13validate_utf8EPKcm"));
        }
        if (!loaded.activeImplementation || !loaded.validateUtf8)
            CannotLoad(TOPLEFT_SIMDJSON_LIBRARY, "which reads the desktop's answers");
        return loaded;
    }();
    return library;
}

} // namespace

namespace simdjson {

internal::atomic_ptr<const implementation>& get_active_implementation() { return Loaded().activeImplementation(); }

bool validate_utf8(const char* buf, size_t len) noexcept { return Loaded().validateUtf8(buf, len); }

} // namespace simdjson
