# The worker against scripted stand-ins of the serial link, the LAN server
# and the pointer (linked here in place of the real ones).
tolvane_test(worker_test SOURCES worker_test.cpp worker_fakes.cpp)
