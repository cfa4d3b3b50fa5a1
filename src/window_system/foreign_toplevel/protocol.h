// The wlr foreign-toplevel management protocol (zwlr_foreign_toplevel_management_unstable_v1),
// as far as topleft speaks it: its two interfaces' requests and events in the form libwayland
// marshals them, written here from the protocol's documented wire format, as no package of the
// systems built on carries its definition.
#pragma once

#include <cstdint>

#include "window_system/foreign_toplevel/wayland.h"

namespace foreign_toplevel {

// The global the compositor announces, and the highest version spoken here.
constexpr const char* ManagerName = "zwlr_foreign_toplevel_manager_v1";
constexpr std::uint32_t ManagerVersion = 3;

// The two interfaces, filled in with the core interfaces they name once libwayland is loaded.
const wl_interface& ManagerInterface();
const wl_interface& HandleInterface();

// Requests of zwlr_foreign_toplevel_handle_v1, by opcode.
enum HandleRequest : std::uint32_t {
    SetMaximized = 0,
    UnsetMaximized = 1,
    SetMinimized = 2,
    UnsetMinimized = 3,
    Activate = 4, // the seat that activates it
    Close = 5,
    SetRectangle = 6,
    Destroy = 7, // a destructor
};
// Requests of zwlr_foreign_toplevel_manager_v1.
enum ManagerRequest : std::uint32_t {
    Stop = 0,
};

// The states a handle's state event lists, one 32-bit value each.
enum HandleState : std::uint32_t {
    Maximized = 0,
    Minimized = 1,
    Activated = 2,
    Fullscreen = 3,
};

struct Handle; // a zwlr_foreign_toplevel_handle_v1 proxy
struct Manager; // a zwlr_foreign_toplevel_manager_v1 proxy

// The events, in the order of their opcodes, as libwayland calls a listener.
struct ManagerListener {
    void (*toplevel)(void* data, Manager* manager, Handle* handle);
    void (*finished)(void* data, Manager* manager);
};
struct HandleListener {
    void (*title)(void* data, Handle* handle, const char* title);
    void (*app_id)(void* data, Handle* handle, const char* appId);
    void (*output_enter)(void* data, Handle* handle, wl_proxy* output);
    void (*output_leave)(void* data, Handle* handle, wl_proxy* output);
    void (*state)(void* data, Handle* handle, wl_array* state);
    void (*done)(void* data, Handle* handle);
    void (*closed)(void* data, Handle* handle);
    void (*parent)(void* data, Handle* handle, Handle* parent);
};

} // namespace foreign_toplevel
