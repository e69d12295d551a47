# The TCP client layer and the bridge's client protocol, shared by the probe,
# the publisher and the LAN server tests.
if(WIN32)
    add_library(tolvane_client STATIC ${CMAKE_CURRENT_LIST_DIR}/probe/client_socket_win32.cpp)
    target_link_libraries(tolvane_client PUBLIC ws2_32)
else()
    add_library(tolvane_client STATIC ${CMAKE_CURRENT_LIST_DIR}/probe/client_socket_posix.cpp)
endif()
target_sources(tolvane_client PRIVATE ${CMAKE_CURRENT_LIST_DIR}/probe/bridge_client.cpp)
target_include_directories(tolvane_client PUBLIC ${PROJECT_SOURCE_DIR})

# tolvane-probe: a LAN client of the bridge, for users, tests and the benchmark.
add_executable(tolvane-probe ${CMAKE_CURRENT_LIST_DIR}/probe/probe_main.cpp)
target_link_libraries(tolvane-probe PRIVATE tolvane_core tolvane_client)
