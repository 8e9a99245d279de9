# The C++ API and the orovox tool, end to end on the committed fixtures.
find_package(PNG REQUIRED)

orovox_test(api_test SOURCES api_test.cpp)
target_link_libraries(api_test PRIVATE orovox_api)
target_compile_definitions(api_test PRIVATE OROVOX_DATA_DIR="${PROJECT_SOURCE_DIR}/data")

# --jobs runs frames on the host's thread pool.
orovox_test(cli_test SOURCES cli_test.cpp LABELS threaded)
target_link_libraries(cli_test PRIVATE orovox_cli PNG::PNG)
target_compile_definitions(cli_test PRIVATE OROVOX_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
