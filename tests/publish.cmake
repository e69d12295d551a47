# tolvane-publish end to end: a real mosquitto broker on a free loopback port,
# the headless bridge on the simulator, mosquitto_sub subscribers and oscdump.
# Skipped (77) only where the broker or its clients are not installed.
if(NOT WIN32 AND TARGET tolvane-publish AND TARGET tolvane-headless AND TARGET tolvane-devsim)
    find_program(TOLVANE_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
    set(publish_test ${CMAKE_CURRENT_SOURCE_DIR}/publish/publish_e2e.py)
    add_test(NAME publish_options
             COMMAND ${TOLVANE_SYSTEM_PYTHON} ${publish_test} options $<TARGET_FILE:tolvane-publish>)
    foreach(dialect plain websocket)
        add_test(NAME publish_${dialect}
                 COMMAND ${TOLVANE_SYSTEM_PYTHON} ${publish_test} ${dialect}
                         $<TARGET_FILE:tolvane-publish> $<TARGET_FILE:tolvane-headless>
                         $<TARGET_FILE:tolvane-devsim> $<TARGET_FILE:tolvane-decode>)
    endforeach()
    set_tests_properties(publish_options publish_plain publish_websocket PROPERTIES
        TIMEOUT 240 LABELS mqtt)
    set_tests_properties(publish_plain publish_websocket PROPERTIES SKIP_RETURN_CODE 77)
endif()
