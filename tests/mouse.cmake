# The recording pointer, for every test program that runs the air mouse
# without moving the real one.
add_library(tolvane_recording_pointer OBJECT ${CMAKE_CURRENT_LIST_DIR}/recording_pointer.cpp)
target_link_libraries(tolvane_recording_pointer PUBLIC tolvane_core)

tolvane_test(mouse_test SOURCES mouse_test.cpp LIBS tolvane_recording_pointer)

if(NOT WIN32)
    # The X11 pointer, on a private Xvfb (skipped where Xvfb is not installed).
    # The test's own client speaks Xlib.
    find_package(X11 REQUIRED)
    tolvane_test(mouse_x11_test SOURCES mouse_x11_test.cpp xvfb_server.cpp
                 LIBS tolvane_pointer X11::X11 X11::Xrandr LABELS xvfb)
endif()

if(WIN32 AND CMAKE_CROSSCOMPILING)
    # The Windows pointer under wine, on a private Xvfb and wine prefix.
    add_executable(mouse_win32_test mouse_win32_test.cpp)
    target_link_libraries(mouse_win32_test PRIVATE tolvane_pointer tolvane_core GTest::gtest
                                                   GTest::gtest_main)
    add_test(NAME mouse_win32_test
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/mouse_wine_test.sh
                     ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:mouse_win32_test>
                     ${CMAKE_BINARY_DIR}/wineprefix-pointer)
    set_tests_properties(mouse_win32_test PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77
                                                     LABELS "wine;xvfb")
endif()
