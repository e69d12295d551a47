# The worker against scripted stand-ins of the serial link, the LAN server
# and the pointer (linked here in place of the real ones).
tolvane_test(worker_test SOURCES worker_test.cpp worker_fakes.cpp)

# The real programs end to end: simulator, headless bridge, probe, loopback
# clients. Each test works in a scratch folder of its own with free ports.
if(NOT WIN32 AND TARGET tolvane-headless AND TARGET tolvane-devsim)
    tolvane_test(worker_e2e_test SOURCES worker_e2e_test.cpp worker_e2e_process.cpp
                 LIBS tolvane_client LABELS e2e)
    target_compile_definitions(worker_e2e_test PRIVATE
        TOLVANE_HEADLESS="$<TARGET_FILE:tolvane-headless>"
        TOLVANE_DEVSIM="$<TARGET_FILE:tolvane-devsim>"
        TOLVANE_PROBE="$<TARGET_FILE:tolvane-probe>")
    add_dependencies(worker_e2e_test tolvane-headless tolvane-devsim tolvane-probe)

    # ... and on to the X pointer, on a private Xvfb (skipped without Xvfb).
    find_package(X11 REQUIRED)
    tolvane_test(worker_x11_e2e_test SOURCES worker_x11_e2e_test.cpp worker_e2e_process.cpp
                 xvfb_server.cpp LIBS X11::X11 tolvane_client LABELS "e2e;xvfb")
    target_compile_definitions(worker_x11_e2e_test PRIVATE
        TOLVANE_HEADLESS="$<TARGET_FILE:tolvane-headless>"
        TOLVANE_DEVSIM="$<TARGET_FILE:tolvane-devsim>")
    add_dependencies(worker_x11_e2e_test tolvane-headless tolvane-devsim)
endif()

# The Windows bridge under wine against the native simulator on a COM port,
# with the native probe as its client (both from the build tree beside this one).
if(WIN32 AND CMAKE_CROSSCOMPILING AND TARGET tolvane-headless)
    set(TOLVANE_DEVSIM "${CMAKE_SOURCE_DIR}/build/native/tools/tolvane-devsim"
        CACHE FILEPATH "Native tolvane-devsim for the Windows serial tests")
    set(TOLVANE_NATIVE_PROBE "${CMAKE_SOURCE_DIR}/build/native/tools/tolvane-probe"
        CACHE FILEPATH "Native tolvane-probe for the Windows bridge test")
    add_test(NAME worker_wine_test
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/worker_wine_test.sh
                     ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:tolvane-headless>
                     ${TOLVANE_DEVSIM} ${TOLVANE_NATIVE_PROBE}
                     ${CMAKE_BINARY_DIR}/wineprefix-headless)
    set_tests_properties(worker_wine_test PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77
                                                     LABELS "wine;e2e")
endif()
