tolvane_test(serial_port_test SOURCES serial_port_test.cpp LABELS serial)
