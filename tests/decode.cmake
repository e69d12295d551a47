# tolvane-decode against an independent model of the sample path (both builds:
# under wine this also shows that the Windows build computes the same bits).
add_test(NAME decode_check
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/decode_check.sh ${CMAKE_SOURCE_DIR}
            $<TARGET_FILE:tolvane-decode> ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(decode_check PROPERTIES TIMEOUT 240)
