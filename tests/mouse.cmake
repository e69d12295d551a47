# The recording pointer, for every test program that runs the air mouse
# without moving the real one.
add_library(tolvane_recording_pointer OBJECT ${CMAKE_CURRENT_LIST_DIR}/recording_pointer.cpp)
target_link_libraries(tolvane_recording_pointer PUBLIC tolvane_core)

tolvane_test(mouse_test SOURCES mouse_test.cpp LIBS tolvane_recording_pointer)
