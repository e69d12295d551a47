# The worker against scripted stand-ins of the serial link, the LAN server
# and the pointer (linked here in place of the real ones).
tolvane_test(worker_test SOURCES worker_test.cpp worker_fakes.cpp)

# The real programs end to end: simulator, headless bridge, probe, loopback
# clients. Each test works in a scratch folder of its own with free ports.
if(NOT WIN32 AND TARGET tolvane-headless AND TARGET tolvane-devsim)
    tolvane_test(worker_e2e_test SOURCES worker_e2e_test.cpp worker_e2e_process.cpp
                 LABELS e2e)
    target_compile_definitions(worker_e2e_test PRIVATE
        TOLVANE_HEADLESS="$<TARGET_FILE:tolvane-headless>"
        TOLVANE_DEVSIM="$<TARGET_FILE:tolvane-devsim>"
        TOLVANE_PROBE="$<TARGET_FILE:tolvane-probe>")
    add_dependencies(worker_e2e_test tolvane-headless tolvane-devsim tolvane-probe)
endif()
