# The settings dialog's rules are portable: every shell and the tests use them.
target_sources(tolvane_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/settings_form.cpp)

# The headless bridge (console program, Linux and Windows).
include(${CMAKE_CURRENT_LIST_DIR}/headless/headless.cmake)

# ---- Windows desktop program (tolvane.exe) ----
if(WIN32)
    add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/win32 ${CMAKE_CURRENT_BINARY_DIR}/win32)
endif()
# ---- end of the Windows desktop program ----
