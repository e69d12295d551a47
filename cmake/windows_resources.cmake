# Version information for every Windows program, from the project's one
# version and the copyright line of LICENSE, and the application icon on the
# console programs (tolvane.exe has its own icons in app/win32/tolvane.rc).
#   tolvane_program_resources(TARGET "description" [ICON])

if(WIN32)
    file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE tolvane_copyright REGEX "^Copyright " LIMIT_COUNT 1)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
    # Four numbers, as the version resource holds them: 1.1 is 1,1,0,0.
    string(REPLACE "." ";" tolvane_version_parts "${PROJECT_VERSION}.0.0.0")
    list(SUBLIST tolvane_version_parts 0 4 tolvane_version_parts)
    string(REPLACE ";" "," tolvane_version_commas "${tolvane_version_parts}")

    # The console programs' icon, drawn once when configuring (the script is
    # deterministic and takes well under a second).
    set(tolvane_program_icon ${CMAKE_BINARY_DIR}/program-resources/tolvane_program.ico)
    set(icon_script ${PROJECT_SOURCE_DIR}/tools/icon/make_icon.py)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${icon_script})
    if(NOT EXISTS ${tolvane_program_icon} OR ${icon_script} IS_NEWER_THAN ${tolvane_program_icon})
        find_package(Python3 REQUIRED COMPONENTS Interpreter)
        file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/program-resources)
        execute_process(COMMAND ${Python3_EXECUTABLE} ${icon_script} ${tolvane_program_icon} 48
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()
endif()

function(tolvane_program_resources target description)
    if(NOT WIN32)
        return()
    endif()
    cmake_parse_arguments(R "ICON" "" "" ${ARGN})
    set(program ${target})
    set(copyright "${tolvane_copyright}")
    set(version_commas ${tolvane_version_commas})
    set(icon_line "")
    if(R_ICON)
        set(icon_line "1 ICON \"${tolvane_program_icon}\"")
    endif()
    set(rc ${CMAKE_BINARY_DIR}/program-resources/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/app/win32/program_info.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${tolvane_program_icon}")
endfunction()
