target_sources(tolvane_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/worker.cpp)
