# The C++ API and the orovox tool, end to end on the committed fixtures.
find_package(PNG REQUIRED)

orovox_test(api_test SOURCES api_test.cpp)
target_link_libraries(api_test PRIVATE orovox_api)
target_compile_definitions(api_test PRIVATE OROVOX_DATA_DIR="${PROJECT_SOURCE_DIR}/data")

# --jobs runs frames on the host's thread pool.
orovox_test(cli_test SOURCES cli_test.cpp LABELS threaded)
target_link_libraries(cli_test PRIVATE orovox_cli PNG::PNG)
target_compile_definitions(cli_test PRIVATE OROVOX_DATA_DIR="${PROJECT_SOURCE_DIR}/data")

# Install into a temporary prefix and build the example against it.
# The example is built with this build's compiler and flags, so that it links
# against sanitized archives too.
add_test(NAME install_smoke COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/install_smoke.sh ${PROJECT_BINARY_DIR}
                                    ${PROJECT_SOURCE_DIR} ${CMAKE_CXX_COMPILER} "${CMAKE_CXX_FLAGS}")
set_tests_properties(install_smoke PROPERTIES LABELS install TIMEOUT 300)
