# Makes both generations of the GNOME Shell extension from windows.js: GNOME Shell 40-44 load an
# extension as a script, 45 and later as a module, and each loads only an extension whose
# metadata names its major version. Installs both under share/topleft/gnome-shell/<generation>/,
# and the one for the GNOME Shell found here (45 when none is) where distributions keep
# extensions.
set(TOPLEFT_UUID topleft@example.org)
set(generation_40_versions "\"40\", \"41\", \"42\", \"43\", \"44\"")
set(generation_45_versions "\"45\", \"46\", \"47\", \"48\", \"49\", \"50\"")
file(READ ${CMAKE_CURRENT_LIST_DIR}/windows.js TOPLEFT_SHARED)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows.js)

find_program(GNOME_SHELL gnome-shell)
set(installed_generation 45)
if(GNOME_SHELL)
    execute_process(COMMAND ${GNOME_SHELL} --version OUTPUT_VARIABLE shell_version ERROR_QUIET)
    if(shell_version MATCHES "([0-9]+)\\." AND CMAKE_MATCH_1 LESS 45)
        set(installed_generation 40)
    endif()
endif()

foreach(generation 40 45)
    set(folder ${PROJECT_BINARY_DIR}/gnome-shell/${generation}/${TOPLEFT_UUID})
    set(TOPLEFT_SHELL_VERSIONS ${generation_${generation}_versions})
    configure_file(${CMAKE_CURRENT_LIST_DIR}/extension-${generation}.js.in ${folder}/extension.js @ONLY)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/metadata.json.in ${folder}/metadata.json @ONLY)
    install(FILES ${folder}/extension.js ${folder}/metadata.json
            DESTINATION ${CMAKE_INSTALL_DATADIR}/topleft/gnome-shell/${generation}/${TOPLEFT_UUID})
    if(generation EQUAL installed_generation)
        install(FILES ${folder}/extension.js ${folder}/metadata.json
                DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions/${TOPLEFT_UUID})
    endif()
endforeach()
