# Chooses the window-system backend once, at configure time: user32 on Windows, X11 elsewhere.
# Defines the target `window_system`, which the shipped executable links.
if(WIN32)
    add_library(window_system INTERFACE)
    target_link_libraries(window_system INTERFACE user32)
    message(STATUS "topleft window system: user32")
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-ewmh)

    # Title decoding has no X connection in it, so tests and fuzzers can link it alone.
    add_library(x11_title STATIC src/window_system/x11_title.cpp)
    target_include_directories(x11_title PUBLIC src)
    target_link_libraries(x11_title PUBLIC topleft_warnings)

    add_library(window_system STATIC src/window_system/window_system_x11.cpp)
    target_link_libraries(window_system PUBLIC x11_title PkgConfig::XCB)
    message(STATUS "topleft window system: X11 (libxcb)")
endif()
