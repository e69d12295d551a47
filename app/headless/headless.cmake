# tolvane-headless: the measurement without a window, on Linux and Windows.
# It needs the serial link, the LAN server and a pointer backend.
if(TARGET tolvane_pointer AND EXISTS ${CMAKE_SOURCE_DIR}/device/serial.cmake
   AND EXISTS ${CMAKE_SOURCE_DIR}/output/lan.cmake)
    add_executable(tolvane-headless ${CMAKE_CURRENT_LIST_DIR}/headless_main.cpp)
    if(WIN32)
        target_sources(tolvane-headless PRIVATE ${CMAKE_CURRENT_LIST_DIR}/stop_signal_win32.cpp)
    else()
        target_sources(tolvane-headless PRIVATE ${CMAKE_CURRENT_LIST_DIR}/stop_signal_posix.cpp)
    endif()
    target_link_libraries(tolvane-headless PRIVATE tolvane_pointer tolvane_core)
    target_compile_definitions(tolvane-headless PRIVATE TOLVANE_VERSION="${PROJECT_VERSION}")
endif()
