# The settings dialog's rules are portable: every shell and the tests use them.
target_sources(tolvane_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/settings_form.cpp)

