tolvane_test(websocket_test SOURCES websocket_test.cpp)
tolvane_test(lan_server_test SOURCES lan_server_test.cpp lan_test_socket.cpp LIBS tolvane_client)

# Clients that nobody here wrote, against the server program. The Windows
# build's server runs under wine and is driven by native clients.
add_executable(lan_peer_server lan_peer_server.cpp test_paint_log.cpp)
target_link_libraries(lan_peer_server PRIVATE tolvane_core)
find_program(TOLVANE_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(TOLVANE_SYSTEM_PYTHON)
    if(WIN32)
        set(lan_clients plain raw-websocket websockets)
    else()
        set(lan_clients plain websockets node browser)
    endif()
    foreach(client IN LISTS lan_clients)
        add_test(NAME lan_interop_${client}
                 COMMAND ${TOLVANE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/lan_interop.py
                         ${client} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:lan_peer_server>)
        set_tests_properties(lan_interop_${client} PROPERTIES
            TIMEOUT 240 SKIP_RETURN_CODE 77 LABELS interop)
    endforeach()
endif()
