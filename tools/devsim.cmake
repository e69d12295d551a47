# The device simulator (pseudo-terminals: POSIX only). The line maker is a
# library of its own so that tests can check it directly.
add_library(tolvane_devsim_lines STATIC ${CMAKE_CURRENT_LIST_DIR}/devsim/sim_lines.cpp)
target_link_libraries(tolvane_devsim_lines PUBLIC tolvane_core)

add_executable(tolvane-devsim ${CMAKE_CURRENT_LIST_DIR}/devsim/devsim_main.cpp)
target_link_libraries(tolvane-devsim PRIVATE tolvane_devsim_lines)
