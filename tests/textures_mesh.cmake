orovox_test(texture_test SOURCES texture_test.cpp)
orovox_test(mesh_test SOURCES mesh_test.cpp LABELS threaded)
orovox_test(exports_test SOURCES exports_test.cpp)
