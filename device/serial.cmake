# The serial link: the portable search for lines, one file per platform.
target_sources(tolvane_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/serial_port_link.cpp)
if(WIN32)
    target_sources(tolvane_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/serial_port_win32.cpp)
else()
    target_sources(tolvane_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/serial_port_posix.cpp)
endif()
