target_sources(tolvane_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/air_mouse.cpp)

# The platform pointer, apart from the core so that tests can link a recording
# one instead. An object library: its objects go straight into the program, so
# the order of libraries on the link line does not matter.
add_library(tolvane_pointer OBJECT)
target_link_libraries(tolvane_pointer PUBLIC tolvane_core)
if(WIN32)
    target_sources(tolvane_pointer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/pointer_win32.cpp)
    target_link_libraries(tolvane_pointer PUBLIC user32)
else()
    find_package(X11 REQUIRED)
    if(NOT TARGET X11::xcb_xtest OR NOT TARGET X11::xcb_randr)
        message(FATAL_ERROR "the X11 pointer needs XCB's XTest and RandR libraries "
                            "(libxcb-xtest0-dev, libxcb-randr0-dev)")
    endif()
    target_sources(tolvane_pointer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/pointer_x11.cpp)
    target_link_libraries(tolvane_pointer PUBLIC X11::xcb X11::xcb_xtest X11::xcb_randr)
endif()
