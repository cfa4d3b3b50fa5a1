// The wlr foreign-toplevel management protocol's two interfaces (protocol.h): each message's name,
// its signature (an argument a letter: s string, o object, n new object, a array, i int; a
// leading number the version it came in; ? an object that may be null) and the interfaces of
// its object arguments.
#include "window_system/foreign_toplevel/protocol.h"

namespace foreign_toplevel {

namespace {

// The interfaces object arguments name, in libwayland's form: set once the library is loaded.
const wl_interface* HandleType[1];
const wl_interface* SeatType[1];
const wl_interface* OutputType[1];
const wl_interface* RectangleTypes[5];
const wl_interface* NoTypes[1];

const wl_message ManagerRequests[] = {
    {"stop", "", NoTypes},
};
const wl_message ManagerEvents[] = {
    {"toplevel", "n", HandleType},
    {"finished", "", NoTypes},
};
const wl_message HandleRequests[] = {
    {"set_maximized", "", NoTypes},
    {"unset_maximized", "", NoTypes},
    {"set_minimized", "", NoTypes},
    {"unset_minimized", "", NoTypes},
    {"activate", "o", SeatType},
    {"close", "", NoTypes},
    {"set_rectangle", "oiiii", RectangleTypes},
    {"destroy", "", NoTypes},
    {"set_fullscreen", "2?o", OutputType},
    {"unset_fullscreen", "2", NoTypes},
};
const wl_message HandleEvents[] = {
    {"title", "s", NoTypes},           {"app_id", "s", NoTypes},      {"output_enter", "o", OutputType},
    {"output_leave", "o", OutputType}, {"state", "a", NoTypes},       {"done", "", NoTypes},
    {"closed", "", NoTypes},           {"parent", "3?o", HandleType},
};

const wl_interface HandleDefinition = {
    "zwlr_foreign_toplevel_handle_v1", ManagerVersion, 10, HandleRequests, 8, HandleEvents};
const wl_interface ManagerDefinition = {ManagerName, ManagerVersion, 1, ManagerRequests, 2, ManagerEvents};

void Fill()
{
    static const bool filled = [] {
        const WaylandClient& library = WaylandLibrary();
        HandleType[0] = &HandleDefinition;
        SeatType[0] = library.seat;
        OutputType[0] = library.output;
        RectangleTypes[0] = library.surface;
        return true;
    }();
    (void)filled;
}

} // namespace

const wl_interface& ManagerInterface()
{
    Fill();
    return ManagerDefinition;
}

const wl_interface& HandleInterface()
{
    Fill();
    return HandleDefinition;
}

} // namespace foreign_toplevel
