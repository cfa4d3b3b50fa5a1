# Chooses the window-system backend once, at configure time: user32 on Windows, X11 elsewhere.
# Defines the target `window_system` when this platform has a backend.
if(WIN32)
    add_library(window_system INTERFACE)
    target_link_libraries(window_system INTERFACE user32)
    message(STATUS "topleft window system: user32")
else()
    message(STATUS "topleft window system: none yet (core and unit tests only)")
endif()
