// libwayland-client, loaded the first time a backend needs it: only a Wayland compositor reached
// through the foreign-toplevel protocol is, and no other run loads it. Included in place of
// <wayland-client-core.h>, whose calls below then go through the library loaded; one that cannot
// be loaded ends the run with one line.
#pragma once

#include <wayland-client-core.h>

// Every libwayland-client call the backend makes.
#define TOPLEFT_WAYLAND_CALLS(call)                                                                                    \
    call(wl_display_connect) call(wl_display_disconnect) call(wl_display_get_fd) call(wl_display_flush)                \
        call(wl_display_prepare_read) call(wl_display_cancel_read) call(wl_display_read_events)                        \
            call(wl_display_dispatch_pending) call(wl_display_get_error) call(wl_proxy_marshal_flags)                  \
                call(wl_proxy_add_listener) call(wl_proxy_destroy) call(wl_proxy_get_version)                          \
                    call(wl_log_set_handler_client)

struct WaylandClient {
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument is the member's name
#define TOPLEFT_WAYLAND_MEMBER(name) decltype(&::name) name;
    TOPLEFT_WAYLAND_CALLS(TOPLEFT_WAYLAND_MEMBER)
#undef TOPLEFT_WAYLAND_MEMBER
    // The core protocol's interfaces, which the library holds.
    const wl_interface* registry;
    const wl_interface* callback;
    const wl_interface* seat;
    const wl_interface* output;
    const wl_interface* surface;
};

// The calls and interfaces of the library loaded, loaded on first use.
const WaylandClient& WaylandLibrary();

#ifndef TOPLEFT_WAYLAND_LOADER
#define wl_display_connect WaylandLibrary().wl_display_connect
#define wl_display_disconnect WaylandLibrary().wl_display_disconnect
#define wl_display_get_fd WaylandLibrary().wl_display_get_fd
#define wl_display_flush WaylandLibrary().wl_display_flush
#define wl_display_prepare_read WaylandLibrary().wl_display_prepare_read
#define wl_display_cancel_read WaylandLibrary().wl_display_cancel_read
#define wl_display_read_events WaylandLibrary().wl_display_read_events
#define wl_display_dispatch_pending WaylandLibrary().wl_display_dispatch_pending
#define wl_display_get_error WaylandLibrary().wl_display_get_error
#define wl_proxy_marshal_flags WaylandLibrary().wl_proxy_marshal_flags
#define wl_proxy_add_listener WaylandLibrary().wl_proxy_add_listener
#define wl_proxy_destroy WaylandLibrary().wl_proxy_destroy
#define wl_proxy_get_version WaylandLibrary().wl_proxy_get_version
#define wl_log_set_handler_client WaylandLibrary().wl_log_set_handler_client
#endif
