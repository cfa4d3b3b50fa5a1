// sd-bus, from libsystemd loaded the first time a backend needs the session bus: only KDE Plasma
// and GNOME on Wayland are reached over it, and an X11 or sway run never loads it. Included in
// place of <systemd/sd-bus.h>, whose calls below then go through the library loaded; one that
// cannot be loaded ends the run with one line.
#pragma once

#include <systemd/sd-bus.h>

// Every sd-bus call the backends make.
#define TOPLEFT_SD_BUS_CALLS(call)                                                                                     \
    call(sd_bus_open_user) call(sd_bus_set_method_call_timeout) call(sd_bus_get_unique_name) call(sd_bus_call_method)  \
        call(sd_bus_message_read) call(sd_bus_message_unref) call(sd_bus_error_free) call(sd_bus_error_has_name)       \
            call(sd_bus_add_object_vtable) call(sd_bus_flush_close_unref) call(sd_bus_process) call(sd_bus_wait)       \
                call(sd_bus_reply_method_return) call(sd_bus_message_get_sender) call(sd_bus_message_enter_container)  \
                    call(sd_bus_message_exit_container) call(sd_bus_message_peek_type)

struct SdBus {
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument is the member's name
#define TOPLEFT_SD_BUS_MEMBER(name) decltype(&::name) name;
    TOPLEFT_SD_BUS_CALLS(TOPLEFT_SD_BUS_MEMBER)
#undef TOPLEFT_SD_BUS_MEMBER
    const unsigned* sd_bus_object_vtable_format;
};

// The calls of the library loaded, loaded on first use.
const SdBus& SdBusLibrary();

#ifndef TOPLEFT_SD_BUS_LOADER
#define sd_bus_open_user SdBusLibrary().sd_bus_open_user
#define sd_bus_set_method_call_timeout SdBusLibrary().sd_bus_set_method_call_timeout
#define sd_bus_get_unique_name SdBusLibrary().sd_bus_get_unique_name
#define sd_bus_call_method SdBusLibrary().sd_bus_call_method
#define sd_bus_message_read SdBusLibrary().sd_bus_message_read
#define sd_bus_message_unref SdBusLibrary().sd_bus_message_unref
#define sd_bus_error_free SdBusLibrary().sd_bus_error_free
#define sd_bus_error_has_name SdBusLibrary().sd_bus_error_has_name
#define sd_bus_add_object_vtable SdBusLibrary().sd_bus_add_object_vtable
#define sd_bus_flush_close_unref SdBusLibrary().sd_bus_flush_close_unref
#define sd_bus_process SdBusLibrary().sd_bus_process
#define sd_bus_wait SdBusLibrary().sd_bus_wait
#define sd_bus_reply_method_return SdBusLibrary().sd_bus_reply_method_return
#define sd_bus_message_get_sender SdBusLibrary().sd_bus_message_get_sender
#define sd_bus_message_enter_container SdBusLibrary().sd_bus_message_enter_container
#define sd_bus_message_exit_container SdBusLibrary().sd_bus_message_exit_container
#define sd_bus_message_peek_type SdBusLibrary().sd_bus_message_peek_type
// SD_BUS_VTABLE_START takes its address: a vtable is then made at run time, once loaded.
#define sd_bus_object_vtable_format (*SdBusLibrary().sd_bus_object_vtable_format)
#endif
