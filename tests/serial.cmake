# The serial link and the device simulator. Natively the tests play the device
# on pseudo-terminals; the Windows build is tested under wine against
# simulators registered as COM ports.
if(NOT WIN32)
    tolvane_test(serial_port_test SOURCES serial_port_test.cpp LABELS serial)
    tolvane_test(serial_devsim_test SOURCES serial_devsim_test.cpp LIBS tolvane_devsim_lines
                 LABELS serial)
    add_dependencies(serial_devsim_test tolvane-devsim)
endif()
