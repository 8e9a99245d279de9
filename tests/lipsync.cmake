orovox_test(lipsync_test SOURCES lipsync_test.cpp)
