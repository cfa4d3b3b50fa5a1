# Packages made by CPack from the installation: a .deb on Linux, whose dependencies are read off
# the program's shared libraries, and a .zip on Windows.
set(CPACK_PACKAGE_NAME topleft)
# The contact a package names; the project has no address of its own yet, so a packager sets one.
set(TOPLEFT_MAINTAINER "The topleft developers <topleft@example.org>" CACHE STRING
    "The maintainer a package names, as: Name <address>")
set(CPACK_PACKAGE_VENDOR "The topleft developers")
set(CPACK_PACKAGE_CONTACT "${TOPLEFT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of at most 80 characters, as Debian's package descriptions have them.
set(CPACK_PACKAGE_DESCRIPTION "Lists the titled top-level windows of the desktop, numbered from 0, reads
one number and moves that window to the top-left corner of the screen and to
the top of the stacking order, keeping its size. The move is read back from
the window system, and one that did not happen is reported.")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION x11)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The libraries loaded only on the desktops that need them (simdjson, sd-bus) are in no link of
    # the program, where dpkg-shlibdeps would find them: named here, as the packages holding them.
    set(loaded_packages)
    foreach(library ${TOPLEFT_LOADED_LIBRARIES})
        execute_process(COMMAND dpkg-query --search ${library} OUTPUT_VARIABLE owner ERROR_QUIET)
        if(owner MATCHES "^([^:,]+)")
            list(APPEND loaded_packages ${CMAKE_MATCH_1})
        endif()
    endforeach()
    list(JOIN loaded_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOPLEFT_MAINTAINER}")
endif()
# Packages carry the program without its debugging data.
set(CPACK_STRIP_FILES ON)

include(CPack)
