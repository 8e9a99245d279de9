orovox_test(frame_test SOURCES frame_test.cpp)
orovox_test(host_test SOURCES host_test.cpp LABELS threaded)
