# The serial link and the device simulator. Natively the tests play the device
# on pseudo-terminals; the Windows build is tested under wine against
# simulators registered as COM ports.
if(NOT WIN32)
    tolvane_test(serial_port_test SOURCES serial_port_test.cpp LABELS serial)
    tolvane_test(serial_devsim_test SOURCES serial_devsim_test.cpp worker_e2e_process.cpp LIBS tolvane_devsim_lines tolvane_client
                 LABELS serial)
    add_dependencies(serial_devsim_test tolvane-devsim)
endif()

if(WIN32 AND CMAKE_CROSSCOMPILING)
    # The simulator is a Linux program: the runner takes it from a native build
    # tree beside this one (build/native), or from TOLVANE_DEVSIM.
    set(TOLVANE_DEVSIM "${CMAKE_SOURCE_DIR}/build/native/tools/tolvane-devsim"
        CACHE FILEPATH "Native tolvane-devsim for the Windows serial tests")
    add_executable(serial_win32_test serial_win32_test.cpp
                                     ${CMAKE_SOURCE_DIR}/tools/devsim/sim_lines.cpp)
    target_link_libraries(serial_win32_test PRIVATE tolvane_core GTest::gtest GTest::gtest_main)
    add_test(NAME serial_win32_test
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/serial_wine_test.sh
                     ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:serial_win32_test>
                     ${TOLVANE_DEVSIM} ${CMAKE_BINARY_DIR}/wineprefix-serial)
    set_tests_properties(serial_win32_test PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77
                                                      LABELS "wine;serial")
endif()
