tolvane_test(settings_form_test SOURCES settings_form_test.cpp)

# The Windows program under wine on a private Xvfb, driven with xdotool. Slow:
# each scenario boots its own display and shares one prefix with the others.
if(WIN32 AND CMAKE_CROSSCOMPILING AND TARGET tolvane)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_executable(gui_probe wine/gui_probe.cpp)
    target_link_options(gui_probe PRIVATE -municode)
    target_link_libraries(gui_probe PRIVATE user32)
    # The device simulator is a Linux program: the one of the native build.
    set(TOLVANE_DEVSIM "${CMAKE_SOURCE_DIR}/build/native/tools/tolvane-devsim"
        CACHE FILEPATH "Native tolvane-devsim for the Windows serial tests")
    foreach(scenario IN ITEMS start_about_exit run_without_device settings_dialog
                              run_with_device)
        add_test(NAME gui_${scenario}
                 COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/wine/gui_e2e.py
                         --exe $<TARGET_FILE:tolvane> --probe $<TARGET_FILE:gui_probe>
                         --prefix ${CMAKE_BINARY_DIR}/wineprefix-gui
                         --out ${CMAKE_BINARY_DIR}/gui-artefacts
                         --devsim ${TOLVANE_DEVSIM} ${scenario})
        set_tests_properties(gui_${scenario} PROPERTIES
            LABELS wine-gui TIMEOUT 600 RESOURCE_LOCK wineprefix-gui SKIP_RETURN_CODE 77)
    endforeach()
endif()

# The compiled resources and the dialog procedure, in process under wine.
if(WIN32 AND TARGET tolvane_resources)
    tolvane_test(win32_resources_test SOURCES win32_resources_test.cpp
                 LIBS tolvane_resources)
endif()
