# Reliability: concurrency, soak, bad inputs and the fuzz targets.

orovox_test(concurrency_test SOURCES concurrency_test.cpp LABELS threaded)

# The soak is its own executable (scripts/test runs the full count with a time
# bound); ctest runs a short count so that every suite, sanitizers included,
# passes through it.
add_executable(orovox_soak soak.cpp)
target_link_libraries(orovox_soak PRIVATE orovox_host)
add_dependencies(orovox_soak orovox)
add_test(NAME soak_short COMMAND orovox_soak 300 --seed 7)
set_tests_properties(soak_short PROPERTIES LABELS soak TIMEOUT 600)

option(OROVOX_FUZZ "Build the libFuzzer targets (needs clang and -fsanitize=fuzzer-no-link in the flags)" OFF)

# The API and the tool are defined after this directory, so the targets that
# use them are added once the whole project has been read.
function(orovox_reliability_targets)
  set(here ${PROJECT_SOURCE_DIR}/tests)
  set(api_ready FALSE)
  set(cli_ready FALSE)
  if(TARGET orovox_api)
    set(api_ready TRUE)
  endif()
  if(TARGET orovox_cli)
    set(cli_ready TRUE)
  endif()

  if(api_ready AND cli_ready AND EXISTS ${here}/bad_input_test.cpp)
    find_package(GTest REQUIRED)  # its imported targets are scoped to tests/
    orovox_test(bad_input_test SOURCES ${here}/bad_input_test.cpp)
    target_include_directories(bad_input_test PRIVATE ${here} ${PROJECT_SOURCE_DIR}/tools)
    target_link_libraries(bad_input_test PRIVATE orovox_api orovox_cli)
  endif()

  # Each fuzz target is one LLVMFuzzerTestOneInput. Every build replays the
  # committed corpus and the kept crashing inputs through it (a ctest); the
  # clang fuzz build also links it with libFuzzer.
  set(targets)
  if(api_ready)
    list(APPEND targets profile audio pcm)
  endif()
  if(cli_ready)
    list(APPEND targets cli)
  endif()
  foreach(t IN LISTS targets)
    set(libs orovox_api)
    if(t STREQUAL "cli")
      set(libs orovox_cli orovox_api)
    endif()
    add_executable(fuzz_replay_${t} ${here}/fuzz/fuzz_${t}.cpp ${here}/fuzz/replay_main.cpp)
    target_include_directories(fuzz_replay_${t} PRIVATE ${here}/fuzz ${PROJECT_SOURCE_DIR}/tools)
    target_link_libraries(fuzz_replay_${t} PRIVATE ${libs})
    add_test(NAME fuzz_replay_${t}
             COMMAND fuzz_replay_${t} ${here}/fuzz/corpus/${t} ${here}/fuzz/regressions/${t})
    set_tests_properties(fuzz_replay_${t} PROPERTIES LABELS fuzz TIMEOUT 300
                         ENVIRONMENT "LSAN_OPTIONS=suppressions=${here}/fuzz/lsan.supp")
    if(OROVOX_FUZZ)
      add_executable(fuzz_${t} ${here}/fuzz/fuzz_${t}.cpp)
      target_include_directories(fuzz_${t} PRIVATE ${here}/fuzz ${PROJECT_SOURCE_DIR}/tools)
      target_link_libraries(fuzz_${t} PRIVATE ${libs})
      target_link_options(fuzz_${t} PRIVATE -fsanitize=fuzzer)
      add_dependencies(fuzz_${t} orovox)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL orovox_reliability_targets)
