# Chooses the window-system backend once, at configure time: user32 on Windows; on Linux every
# backend, one of which the program picks at run time. Defines the target `window_system`, which
# the shipped executable links.
if(WIN32)
    add_library(window_system INTERFACE)
    target_link_libraries(window_system INTERFACE user32)
    message(STATUS "topleft window system: user32")
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-ewmh xcb-icccm)
    pkg_check_modules(SIMDJSON REQUIRED IMPORTED_TARGET simdjson)
    pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

    # GetLastError and FormatMessageA, shared by the backends and the tests' scripted desktop.
    add_library(last_error STATIC src/window_system/last_error.cpp)
    target_include_directories(last_error PUBLIC src)
    target_link_libraries(last_error PUBLIC topleft_warnings)

    add_library(window_system STATIC
        src/window_system/window_system_linux.cpp
        src/window_system/window_system_x11.cpp
        src/window_system/x11_placement.cpp
        src/window_system/i3_ipc.cpp
        src/window_system/window_system_sway.cpp
        src/window_system/window_system_kwin.cpp)
    target_link_libraries(window_system PUBLIC window_title last_error PkgConfig::XCB PkgConfig::SIMDJSON
                                               PkgConfig::SYSTEMD)
    message(STATUS "topleft window system: X11 (libxcb), sway (IPC) or KWin (D-Bus), chosen at run time")
endif()
