# The recording pointer, for every test program that runs the air mouse
# without moving the real one.
add_library(tolvane_recording_pointer OBJECT ${CMAKE_CURRENT_LIST_DIR}/recording_pointer.cpp)
target_link_libraries(tolvane_recording_pointer PUBLIC tolvane_core)

tolvane_test(mouse_test SOURCES mouse_test.cpp LIBS tolvane_recording_pointer)

if(NOT WIN32)
    # The X11 pointer, on a private Xvfb (skipped where Xvfb is not installed).
    tolvane_test(mouse_x11_test SOURCES mouse_x11_test.cpp xvfb_server.cpp
                 LIBS tolvane_pointer LABELS xvfb)
endif()
