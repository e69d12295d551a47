# The LAN server: portable protocol code plus one socket file and one SHA-1
# file per platform.
target_sources(tolvane_core PRIVATE lan_server.cpp socket_slot.cpp websocket.cpp)
if(WIN32)
    target_sources(tolvane_core PRIVATE socket_win32.cpp digest_cng.cpp)
    target_link_libraries(tolvane_core PUBLIC ws2_32 bcrypt)
else()
    find_package(OpenSSL REQUIRED COMPONENTS Crypto)
    target_sources(tolvane_core PRIVATE socket_posix.cpp digest_openssl.cpp)
    target_link_libraries(tolvane_core PUBLIC OpenSSL::Crypto)
endif()
