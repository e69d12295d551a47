# The live view page in headless Chromium against the real bridge and the
# device simulator (native build only), and the committed page against a
# fresh build from the sources and the locked packages.
if(NOT WIN32 AND TARGET tolvane-headless AND TARGET tolvane-devsim)
    find_program(TOLVANE_NODE node)
    if(TOLVANE_NODE)
        set(view_node ${TOLVANE_NODE})
    else()
        set(view_node sh -c "echo 'SKIP: no Node (the Debian package nodejs)'; exit 77" --)
    endif()

    foreach(case live fixed bad_checksum reconnect plain)
        add_test(NAME view_${case}
                 COMMAND ${view_node} ${CMAKE_CURRENT_SOURCE_DIR}/view/view_test.mjs
                         --case ${case} --page ${TOLVANE_VIEW_PAGE}
                         --headless $<TARGET_FILE:tolvane-headless>
                         --devsim $<TARGET_FILE:tolvane-devsim>
                         --out ${CMAKE_BINARY_DIR}/view-screenshots)
        # One browser at a time: each draws in software and wants a core.
        set_tests_properties(view_${case} PROPERTIES
            TIMEOUT 240 SKIP_RETURN_CODE 77 LABELS browser RESOURCE_LOCK chromium)
    endforeach()

    add_test(NAME view_page_current
             COMMAND ${view_node} ${CMAKE_SOURCE_DIR}/web/view/build.mjs --check)
    set_tests_properties(view_page_current PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS view)
endif()
