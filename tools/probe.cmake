# tolvane-probe: a LAN client of the bridge, for users, tests and the benchmark.
add_executable(tolvane-probe ${CMAKE_CURRENT_LIST_DIR}/probe/probe_main.cpp)
if(WIN32)
    target_sources(tolvane-probe PRIVATE ${CMAKE_CURRENT_LIST_DIR}/probe/probe_socket_win32.cpp)
    target_link_libraries(tolvane-probe PRIVATE ws2_32)
else()
    target_sources(tolvane-probe PRIVATE ${CMAKE_CURRENT_LIST_DIR}/probe/probe_socket_posix.cpp)
endif()
target_link_libraries(tolvane-probe PRIVATE tolvane_core)
